// velmor_day_run [LOG2_SAMPLES] [SLUG...]: each LV2 plug-in run as a stream
// processor runs it, one instance for 2^LOG2_SAMPLES samples (default 32,
// about 25 hours at 48 kHz) in 1024-sample run() calls at settings off their
// defaults, on a programme of noise, tones and silences. Every output sample
// must be finite and bounded. Where an effect forgets everything in silence
// (the distortion, the filter and a short delay), the last
// minute, which follows 30 s of silence, must equal, bit for bit, a fresh
// instance fed the same minute: its counters and indices have not drifted.
#include <dlfcn.h>
#include <lv2/core/lv2.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_list.h"

namespace {

constexpr uint32_t kBlock = 1024;
constexpr double kRate = 48000.0;
constexpr uint64_t kMinute = 60 * 48000;
constexpr uint64_t kSilence = 30 * 48000;

struct Setting {
  const char* slug;
  std::vector<float> controls;  // every control port, in order; the bypass switch last
  float bound;                  // the largest output magnitude allowed
  bool forgets;                 // silence empties it: the last minute has a fresh reference
};

// The programme at sample t: a different noise and tone every 10 s, with 2 s
// of silence in every minute, and silence before the last minute.
struct Programme {
  uint64_t total;
  uint32_t noise = 12345;
  void Fill(uint64_t start, float* left, float* right, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t t = start + i;
      noise = noise * 1664525u + 1013904223u;
      const bool silent = (t % kMinute) < 2 * 48000 || (t + kMinute + kSilence >= total && t + kMinute < total);
      const float white = static_cast<float>(static_cast<int32_t>(noise)) * (1.0f / 2147483648.0f);
      const float tone = std::sin(static_cast<float>(t % 48000) * (6.2831855f * 0.0125f * static_cast<float>(1 + (t / 480000) % 7)));
      left[i] = silent ? 0.0f : 0.25f * white + 0.25f * tone;
      right[i] = silent ? 0.0f : 0.25f * tone - 0.125f * white;
    }
  }
};

struct Instance {
  const LV2_Descriptor* d;
  LV2_Handle h;
  std::vector<float> controls;
  Instance(const LV2_Descriptor* descriptor, const std::vector<float>& values) : d(descriptor), controls(values) {
    h = d->instantiate(d, kRate, "", nullptr);
    for (size_t k = 0; k < controls.size(); ++k) d->connect_port(h, 4 + static_cast<uint32_t>(k), &controls[k]);
    d->activate(h);
  }
  ~Instance() {
    d->deactivate(h);
    d->cleanup(h);
  }
  void Run(float* inL, float* inR, float* outL, float* outR, uint32_t n) {
    d->connect_port(h, 0, inL);
    d->connect_port(h, 1, inR);
    d->connect_port(h, 2, outL);
    d->connect_port(h, 3, outR);
    d->run(h, n);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int log2Samples = argc > 1 ? std::atoi(argv[1]) : 32;
  const uint64_t total = uint64_t{1} << log2Samples;
  void* library = dlopen(velmor::test::kLv2Library, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", velmor::test::kLv2Library);
    return 1;
  }
  auto get = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(library, "lv2_descriptor"));
  const Setting settings[] = {
      // The equalizer's eight sections can keep the smallest normal numbers
      // (about 1e-38) circulating after silence, so it is held to its bounds only.
      {"equalizer", {6, -3.5f, 2, -4.5f, 1.2f, 3, -7, -9, 1}, 8, false},
      {"modulator", {1, 2, 300, 0.4f, 1}, 2, false},
      {"distortion", {80, 2, 70, 0.3f, 4.5f, 1}, 1, true},
      {"delay", {80, 60, 2, 50, 0.8f, 1}, 8, true},
      {"pitch_shifter", {20, 90, -7.25f, 1}, 2, false},
      {"tremolo", {1, 4, 7.5f, 0.8f, 1}, 1, false},
      {"filter", {1, 1200, 3.5f, 1}, 8, true},
  };
  // Every plug-in of the bundle has its settings here.
  for (uint32_t i = 0; get(i) != nullptr; ++i) {
    const std::string uri = get(i)->URI;
    bool known = false;
    for (const Setting& s : settings) known = known || uri == std::string("urn:velmor:") + s.slug;
    if (!known) {
      std::fprintf(stderr, "%s has no day-run settings: add them to tests/lv2/day_run.cpp\n", uri.c_str());
      return 1;
    }
  }
  int failures = 0;
  std::printf("%-14s %14s %9s %10s %8s  %s\n", "plug-in", "samples", "seconds", "peak", "finite", "last minute");
  for (const Setting& s : settings) {
    bool selected = argc <= 2;
    for (int a = 2; a < argc; ++a) selected = selected || s.slug == std::string(argv[a]);
    if (!selected) continue;
    const LV2_Descriptor* d = nullptr;
    for (uint32_t i = 0; get(i) != nullptr; ++i)
      if (std::string(get(i)->URI) == std::string("urn:velmor:") + s.slug) d = get(i);
    Instance day(d, s.controls);
    Programme programme{total};
    std::vector<float> inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock);
    std::vector<float> lastIn[2], lastOut[2];
    float peak = 0.0f;
    bool finite = true;
    const auto began = std::chrono::steady_clock::now();
    for (uint64_t start = 0; start < total; start += kBlock) {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBlock, total - start));
      programme.Fill(start, inL.data(), inR.data(), n);
      day.Run(inL.data(), inR.data(), outL.data(), outR.data(), n);
      for (uint32_t i = 0; i < n; ++i) {
        finite = finite && std::isfinite(outL[i]) && std::isfinite(outR[i]);
        peak = std::max({peak, std::fabs(outL[i]), std::fabs(outR[i])});
      }
      if (start >= (total - kMinute) / kBlock * kBlock) {  // the last minute, from the block boundary before it
        lastIn[0].insert(lastIn[0].end(), inL.begin(), inL.begin() + n);
        lastIn[1].insert(lastIn[1].end(), inR.begin(), inR.begin() + n);
        lastOut[0].insert(lastOut[0].end(), outL.begin(), outL.begin() + n);
        lastOut[1].insert(lastOut[1].end(), outR.begin(), outR.begin() + n);
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::string last = "not compared (phases, heads or a limit cycle outlast silence)";
    bool same = true;
    float worst = 0.0f;
    size_t firstDiff = SIZE_MAX;
    if (s.forgets) {
      Instance fresh(d, s.controls);
      for (size_t start = 0; start < lastIn[0].size(); start += kBlock) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kBlock, lastIn[0].size() - start));
        fresh.Run(&lastIn[0][start], &lastIn[1][start], outL.data(), outR.data(), n);
        for (uint32_t i = 0; i < n; ++i)
          for (int c = 0; c < 2; ++c) {
            const float a = (c ? outR : outL)[i], b = lastOut[c][start + i];
            if (std::memcmp(&a, &b, 4) == 0) continue;
            same = false;
            worst = std::max(worst, std::fabs(a - b));
            firstDiff = std::min(firstDiff, start + i);
          }
      }
      char text[120];
      std::snprintf(text, sizeof text, "DIFFERS from a fresh instance (from sample %zu, by up to %g)", firstDiff,
                    static_cast<double>(worst));
      last = same ? "identical to a fresh instance" : text;
    }
    const bool ok = finite && peak <= s.bound && same;
    failures += !ok;
    std::printf("%-14s %14llu %9.1f %10.4f %8s  %s%s\n", s.slug, static_cast<unsigned long long>(total), seconds, peak,
                finite ? "yes" : "NO", last.c_str(), peak <= s.bound ? "" : "  PEAK OVER BOUND");
  }
  return failures == 0 ? 0 : 1;
}
