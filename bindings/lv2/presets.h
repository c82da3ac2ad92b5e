// The LV2 bundle's factory presets: a few settings per effect (the manual's
// sound examples among them), by port symbol, with English and Japanese
// labels. Ports a preset does not name keep their values.
#pragma once

#include <initializer_list>

namespace velmor::lv2 {

struct PresetValue {
  const char* symbol;
  double value;
};

struct Preset {
  const char* slug;     // the effect
  const char* name;     // ASCII, unique: part of the preset's URI
  const char* english;  // label
  const char* japanese;  // label
  std::initializer_list<PresetValue> values;
};

inline const Preset kPresets[] = {
    {"equalizer", "bass-and-treble", "Bass and treble", "低音と高音を強調",
     {{"band_100", 12}, {"band_200", 6}, {"band_6400", 6}, {"band_12800", 12}}},
    {"equalizer", "voice", "Voice presence", "声を聞き取りやすく",
     {{"band_100", -6}, {"band_200", -3}, {"band_1600", 3}, {"band_3200", 4}, {"band_6400", 2}}},
    {"modulator", "ring-300", "Ring modulator at 300 Hz", "リングモジュレーター 300 Hz",
     {{"mode", 0}, {"speed", 3000}, {"depth", 1}}},
    {"modulator", "fm-vibrato", "Gentle FM vibrato", "やわらかい FM ビブラート",
     {{"mode", 1}, {"shape", 0}, {"speed", 50}, {"depth", 0.02}}},
    {"distortion", "fuzz", "Heavy fuzz", "強いファズ", {{"type", 2}, {"gain", 90}, {"tone", 0.8}, {"level", 60}}},
    {"distortion", "warm-overdrive", "Warm overdrive", "温かいオーバードライブ",
     {{"type", 1}, {"gain", 40}, {"tone", 0.3}, {"level", 70}}},
    {"delay", "ping-pong", "Ping-pong echo", "ピンポンエコー", {{"type", 1}, {"time", 250}, {"feedback", 0.6}}},
    {"delay", "slapback", "Slapback", "スラップバック", {{"type", 0}, {"time", 90}, {"feedback", 0}, {"wet", 60}}},
    {"pitch_shifter", "octave-down", "Octave down with the dry sound", "1 オクターブ下(原音あり)",
     {{"pitch", -12}, {"dry", 50}, {"wet", 70}}},
    {"pitch_shifter", "fifth-up", "A fifth up", "5 度上", {{"pitch", 7}, {"dry", 0}, {"wet", 100}}},
    {"tremolo", "slow-panner", "Slow auto-panner", "ゆっくりパンナー", {{"mode", 1}, {"rate", 1}, {"depth", 1}}},
    {"tremolo", "square-chop", "Square chop", "矩形波で刻む", {{"mode", 0}, {"shape", 2}, {"rate", 8}, {"depth", 1}}},
    {"filter", "telephone", "Telephone", "電話の声", {{"type", 1}, {"cutoff", 800}, {"q", 2}}},
    {"filter", "resonant-low-pass", "Resonant low-pass", "共振するローパス", {{"type", 0}, {"cutoff", 1000}, {"q", 4}}},
};

}  // namespace velmor::lv2
