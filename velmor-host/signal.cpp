// velmor-host signal: the built-in demo signal, a chord, percussive hits and
// a sweep that repeat every 8 s.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "velmor-host/cli.h"

namespace velmor::cli {

Audio DemoSignal(int sampleRate, double seconds) {
  Audio a;
  a.sampleRate = sampleRate;
  const size_t n = static_cast<size_t>(seconds * sampleRate);
  a.left.assign(n, 0.0f);
  a.right.assign(n, 0.0f);
  const double fs = sampleRate;
  const double chord[] = {220.0, 277.18, 329.63, 440.0};  // A major
  uint32_t noise = 12345;
  // The pattern repeats every 8 s, so that a signal of any length stays
  // finite and keeps its character (its sweep would otherwise overflow).
  const size_t cycle = static_cast<size_t>(8 * sampleRate);
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i % cycle) / fs;
    const double end = std::min(8.0, seconds - static_cast<double>(i - i % cycle) / fs);
    double l = 0, r = 0;
    // 0 to 3 s: a sustained chord, spread a little across the channels.
    if (t < 3.0) {
      const double envelope = std::min(1.0, t * 8.0) * std::min(1.0, (3.0 - t) * 4.0);
      for (int k = 0; k < 4; ++k) {
        const double v = std::sin(2.0 * M_PI * chord[k] * t) * 0.12 * envelope;
        l += v * (k % 2 ? 0.7 : 1.0);
        r += v * (k % 2 ? 1.0 : 0.7);
      }
    }
    // 2.5 to 5.5 s: percussive hits, a noise burst and a low thump, four per second.
    if (t >= 2.5 && t < 5.5) {
      const double since = std::fmod(t - 2.5, 0.25);
      noise = noise * 1664525u + 1013904223u;
      const double white = (static_cast<double>(noise >> 8) / 8388608.0) - 1.0;
      const double hit = std::exp(-since * 40.0) * (0.35 * white + 0.5 * std::sin(2.0 * M_PI * 60.0 * since));
      l += hit;
      r += hit * 0.8;
    }
    // 5 to 8 s: a logarithmic sweep from 40 Hz to 16 kHz, faded out over its
    // last 0.1 s.
    if (t >= 5.0) {
      const double u = (t - 5.0) / 3.0;
      const double k = std::log(16000.0 / 40.0);
      const double phase = 2.0 * M_PI * 40.0 * 3.0 * (std::exp(k * u) - 1.0) / k;
      const double v = 0.3 * std::sin(phase) * std::min(1.0, (end - t) * 10.0);
      l += v;
      r += v;
    }
    a.left[i] = static_cast<float>(l);
    a.right[i] = static_cast<float>(r);
  }
  // Peak at -3 dBFS, leaving the effects some headroom.
  float peak = 0;
  for (size_t i = 0; i < n; ++i) peak = std::max({peak, std::fabs(a.left[i]), std::fabs(a.right[i])});
  const float scale = peak > 0 ? 0.70710678f / peak : 1.0f;
  for (size_t i = 0; i < n; ++i) a.left[i] *= scale, a.right[i] *= scale;
  return a;
}

int Signal(Arguments& args) {
  const std::string out = args.Next("OUT");
  int rate = 44100;
  double seconds = 8.0;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--rate") rate = ParseInt32(args.Next("HZ after --rate"), "--rate", 8000, 384000);
    else if (word == "--seconds") seconds = ParseNumber(args.Next("S after --seconds"), "--seconds");
    else throw UsageError("unknown option " + word);
  }
  if (!(seconds > 0) || seconds > 3600) throw UsageError("--seconds must be above 0 and at most 3600");
  WriteAudio(out, DemoSignal(rate, seconds));
  return 0;
}

}  // namespace velmor::cli
