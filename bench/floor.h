// The floor that the plug-ins' speed is measured against, and the alternating
// measurement that makes a ratio of the two. This machine's speed drifts by a
// factor of two from day to day, so a time means something only next to the
// floor timed in the same process a moment before or after.
//
// The floor is the least a stereo effect can cost: a plain second-order
// recurrence, one section per channel, its quotients formed once and its
// history in registers, over the same blocks as the plug-in, reading the
// same input and writing the output, with nothing else.
#pragma once

#include "framework/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "framework/dsp/biquad.h"
#include "bindings/aviutl2/host_abi.h"
#include "host/plugin_host.h"
#include "plugin_list.h"

namespace velmor::bench {

inline constexpr int kBlock = 1470;  // one 30 fps frame at 44100 Hz

class FloorProbe {
 public:
  FloorProbe() {
    BiquadSection s;
    SetLowPassCoefficients(s, 2000.0f, 1.0f, 44100.0f);
    q0_ = s.b0 / s.a0, q1_ = s.b1 / s.a0, q2_ = s.b2 / s.a0, q3_ = s.a1 / s.a0, q4_ = s.a2 / s.a0;
  }

  // Noinline, so the compiler cannot fold it into the timing loop.
  [[gnu::noinline]] void Run(const float* inL, const float* inR, float* outL, float* outR, int n) {
    float lx1 = h_[0], lx2 = h_[1], ly1 = h_[2], ly2 = h_[3];
    float rx1 = h_[4], rx2 = h_[5], ry1 = h_[6], ry2 = h_[7];
    for (int i = 0; i < n; ++i) {
      const float l = inL[i], r = inR[i];
      const float yl = q0_ * l + q1_ * lx1 + q2_ * lx2 - q3_ * ly1 - q4_ * ly2;
      const float yr = q0_ * r + q1_ * rx1 + q2_ * rx2 - q3_ * ry1 - q4_ * ry2;
      lx2 = lx1, lx1 = l, ly2 = ly1, ly1 = yl;
      rx2 = rx1, rx1 = r, ry2 = ry1, ry1 = yr;
      outL[i] = yl;
      outR[i] = yr;
    }
    h_[0] = lx1, h_[1] = lx2, h_[2] = ly1, h_[3] = ly2;
    h_[4] = rx1, h_[5] = rx2, h_[6] = ry1, h_[7] = ry2;
  }

 private:
  float q0_, q1_, q2_, q3_, q4_;
  float h_[8] = {};
};

// The host side kept as lean as the editor's: the callbacks copy one block.
struct Stream {
  const float* in[2];
  float* out[2];
  int32_t count;
};
inline thread_local Stream* gStream = nullptr;

// The callbacks' copy: the processor's string move, as fast as the editor's
// own copy, rather than the C runtime's memcpy (under wine, msvcrt's is
// several times slower than Windows' and would be charged to the plug-in).
inline void CopySamples(float* to, const float* from, int32_t n) {
#if VELMOR_X86
  size_t bytes = static_cast<size_t>(n) * sizeof(float);
  __asm__ volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(bytes) : : "memory");
#else
  std::memcpy(to, from, sizeof(float) * static_cast<size_t>(n));
#endif
}
inline bool ReadBlock(float* buffer, int32_t channel) {
  CopySamples(buffer, gStream->in[channel], gStream->count);
  return true;
}
inline bool WriteBlock(float* buffer, int32_t channel) {
  CopySamples(gStream->out[channel], buffer, gStream->count);
  return true;
}

inline std::vector<float> NoiseSignal(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-0.5f, 0.5f);
  std::vector<float> v(n);
  for (float& x : v) x = d(rng);
  return v;
}

// A plug-in at one setting against the floor, one block each in turn.
class RatioRun {
 public:
  RatioRun(host::Plugin& plugin, int64_t id, int32_t block = kBlock)
      : plugin_(plugin), left_(NoiseSignal(kBlock * 64, 1)), right_(NoiseSignal(kBlock * 64, 2)),
        outL_(kBlock), outR_(kBlock), blockLength_(block) {
    scene_.sample_rate = 44100;
    object_.id = id;
    object_.sample_count = block;
    context_ = AudioProcContext{&scene_, &object_, &ReadBlock, &WriteBlock};
    for (int w = 0; w < 16; ++w) Round();  // the object exists and is warm
    pluginNs_ = floorNs_ = 0;
    frames_ = 0;
  }

  // One block through the plug-in, then one through the floor, each timed.
  void Round() {
    const size_t at = (block_++ % 64) * kBlock;
    Stream stream{{left_.data() + at, right_.data() + at}, {outL_.data(), outR_.data()}, blockLength_};
    gStream = &stream;
    object_.frame = frame_++;
    const auto t0 = std::chrono::steady_clock::now();
    plugin_.table()->process_audio(&context_);
    const auto t1 = std::chrono::steady_clock::now();
    floor_.Run(stream.in[0], stream.in[1], stream.out[0], stream.out[1], blockLength_);
    const auto t2 = std::chrono::steady_clock::now();
    gStream = nullptr;
    pluginNs_ += std::chrono::duration<double, std::nano>(t1 - t0).count();
    floorNs_ += std::chrono::duration<double, std::nano>(t2 - t1).count();
    frames_ += blockLength_;
  }

  double pluginNsPerFrame() const { return pluginNs_ / static_cast<double>(frames_); }
  double floorNsPerFrame() const { return floorNs_ / static_cast<double>(frames_); }
  double lastRoundPluginNs() const { return pluginNs_; }

 private:
  host::Plugin& plugin_;
  std::vector<float> left_, right_, outL_, outR_;
  HostSceneInfo scene_{};
  HostObjectInfo object_{};
  AudioProcContext context_{};
  FloorProbe floor_;
  int32_t blockLength_;
  size_t block_ = 0;
  int32_t frame_ = 0;
  double pluginNs_ = 0, floorNs_ = 0;
  int64_t frames_ = 0;
};

// The settings that the ratio table covers: every plug-in at its defaults,
// and the two modulation effects in each mode and each waveform.
struct RatioCase {
  std::string label;   // as the table shows it
  std::string plugin;  // file stem
  std::vector<std::pair<std::string, double>> settings;  // item label, value
};

inline std::vector<RatioCase> RatioCases() {
  const char* shapes[] = {"sine", "triangle", "square", "saw up", "saw down"};
  std::vector<RatioCase> cases;
  for (size_t p = 0; p < std::size(test::kPluginNames); ++p) {
    const std::string plugin = test::kPluginNames[p];
    if (plugin == "VelmorTremolo") {
      for (int s = 0; s < 5; ++s) cases.push_back({std::string("tremolo ") + shapes[s], plugin, {{"波形タイプ", s}}});
    } else if (plugin == "VelmorModulator") {
      for (int s = 0; s < 5; ++s)
        cases.push_back({std::string("ring ") + shapes[s], plugin, {{"タイプ", 0}, {"波形タイプ", s}}});
      for (int s = 0; s < 5; ++s)
        cases.push_back({std::string("FM ") + shapes[s], plugin, {{"タイプ", 1}, {"波形タイプ", s}}});
    } else if (plugin == "VelmorDistortion") {
      // Its three types differ only in their designs and drive: each is a row.
      const char* types[] = {"distortion", "overdrive", "fuzz"};
      for (int t = 0; t < 3; ++t) cases.push_back({types[t], plugin, {{"タイプ", t}}});
    } else {
      std::string label = test::kPluginSlugs[p];
      std::replace(label.begin(), label.end(), '_', ' ');
      cases.push_back({label, plugin, {}});
    }
  }
  return cases;
}

}  // namespace velmor::bench
