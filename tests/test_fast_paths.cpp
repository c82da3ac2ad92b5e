// The plug-ins' fast paths (wavefronts, lanes, per-block kernels) against the
// plain scalar path written from the effects' descriptions with the
// framework's per-sample functions: random parameters, block sizes, rates and
// signals, bit for bit.
#include <cmath>
#include <functional>
#include <random>

#include "framework/dsp/biquad.h"
#include "framework/dsp/waveform_oscillator.h"
#include "framework/float_environment.h"
#include "plugin_test.h"

namespace velmor::test {
namespace {

struct Random {
  std::mt19937 rng{2024};
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); }
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
  Stereo Signal(size_t n) {
    Stereo s(n);
    const double scale = Uniform(0.01, 2.0);
    for (size_t i = 0; i < n; ++i) {
      s.left[i] = static_cast<float>(Uniform(-scale, scale));
      s.right[i] = Int(0, 20) == 0 ? 0.0f : static_cast<float>(Uniform(-scale, scale));
    }
    return s;
  }
  int BlockSize() {
    const int kind = Int(0, 9);
    return kind == 0 ? Int(0, 3) : kind < 3 ? Int(4, 16) : Int(17, 3000);
  }
  int Rate() {
    const int rates[] = {8000, 22050, 32000, 44100, 48000, 96000, 192000};
    return rates[Int(0, 6)];
  }
};

// Runs `blocks` random blocks of one object through the plug-in and through
// `reference`, which is given the block and processes it in place with the
// plug-in's current settings.
template <class Reference>
void CompareWithReference(host::Plugin& plugin, Random& r, int64_t id, int blocks, int rate,
                          Reference&& reference, const std::function<void()>& randomize) {
  for (int b = 0; b < blocks; ++b) {
    randomize();
    Stereo in = r.Signal(static_cast<size_t>(r.BlockSize()));
    Stereo out = RunBlock(plugin, in, {.id = id, .frame = b, .sampleRate = rate});
    {
      // The plug-in flushes subnormal numbers to zero; so does the reference.
      FlushDenormalsScope flush;
      reference(in, static_cast<float>(rate));
    }
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_EQ(Bits(out.left[i]), Bits(in.left[i])) << "block " << b << " sample " << i << " left";
      ASSERT_EQ(Bits(out.right[i]), Bits(in.right[i])) << "block " << b << " sample " << i << " right";
    }
  }
}

TEST(FastPaths, EqualizerMatchesTheBandByBandChain) {
  auto plugin = LoadPlugin("VelmorEqualizer");
  Random r;
  for (int trial = 0; trial < 12; ++trial) {
    BiquadSection bands[2][8];
    const float centres[8] = {100, 200, 400, 800, 1600, 3200, 6400, 12800};
    float gains[8] = {};
    auto randomize = [&] {
      for (int k = 0; k < 8; ++k) {
        gains[k] = static_cast<float>(r.Uniform(-15, 15));
        plugin->SetValue(static_cast<size_t>(k), gains[k]);
      }
    };
    // The reference starts from the 0 dB design of every band.
    for (auto& channel : bands)
      for (int k = 0; k < 8; ++k) SetPeakingCoefficients(channel[k], centres[k], 1.0f, 0.0f, 44100.0f);
    CompareWithReference(*plugin, r, 100 + trial, 20, r.Rate(), [&](Stereo& s, float) {
      for (int c = 0; c < 2; ++c) {
        for (int k = 0; k < 8; ++k) SetPeakingCoefficients(bands[c][k], centres[k], 1.0f, gains[k], 44100.0f);
        for (float& x : c == 0 ? s.left : s.right)
          for (int k = 0; k < 8; ++k) x = ProcessBiquadSample(bands[c][k], x);
      }
    }, randomize);
  }
}

TEST(FastPaths, FilterMatchesTheScalarSection) {
  auto plugin = LoadPlugin("VelmorFilter");
  Random r;
  for (int trial = 0; trial < 12; ++trial) {
    BiquadSection sections[2];
    int type = 0;
    float cutoff = 0, q = 0;
    auto randomize = [&] {
      type = r.Int(0, 2);
      cutoff = static_cast<float>(r.Uniform(50, 18000));
      q = static_cast<float>(r.Uniform(0.5, 5));
      plugin->SetValue("フィルタタイプ", type);
      plugin->SetValue("カットオフ周波数", cutoff);
      plugin->SetValue("クォリティファクター", q);
    };
    CompareWithReference(*plugin, r, 200 + trial, 20, r.Rate(), [&](Stereo& s, float fs) {
      for (int c = 0; c < 2; ++c) {
        if (type == 0) SetLowPassCoefficients(sections[c], cutoff, q, fs);
        else SetHighPassCoefficients(sections[c], cutoff, q, fs);
        for (float& x : c == 0 ? s.left : s.right) x = ProcessBiquadSample(sections[c], x);
      }
    }, randomize);
  }
}

TEST(FastPaths, DistortionMatchesTheStageByStageChain) {
  auto plugin = LoadPlugin("VelmorDistortion");
  Random r;
  for (int trial = 0; trial < 12; ++trial) {
    BiquadSection pre[2], character[2], tone[2];
    int type = 0;
    float level = 0, gain = 0, toneValue = 0, characterDb = 0;
    auto randomize = [&] {
      type = r.Int(0, 3);
      level = static_cast<float>(r.Uniform(0, 100));
      gain = static_cast<float>(r.Uniform(0, 100));
      toneValue = static_cast<float>(r.Uniform(0, 1));
      characterDb = static_cast<float>(r.Uniform(0, 10));
      plugin->SetValue("タイプ", type);
      plugin->SetValue("音量", level);
      plugin->SetValue("ゲイン", gain);
      plugin->SetValue("トーン", toneValue);
      plugin->SetValue("キャラクター", characterDb);
    };
    CompareWithReference(*plugin, r, 300 + trial, 20, r.Rate(), [&](Stereo& s, float fs) {
      const float g = static_cast<float>(static_cast<double>(gain) / 100.0);
      const float v = static_cast<float>(static_cast<double>(level) / 100.0);
      float corner = 10.0f, drive = g + 1.0f;
      if (type == 0) corner = (g * g) * 300.0f + 100.0f, drive = 500.0f * g + 100.0f;
      if (type == 1) corner = (g * g) * 100.0f + 100.0f, drive = 90.0f * g + 10.0f;
      if (type == 2) drive = 500.0f * g + 100.0f;
      for (int c = 0; c < 2; ++c) {
        SetHighPassCoefficients(pre[c], corner, 0.8f, fs);
        SetPeakingCoefficients(character[c], 800.0f, 0.3f, characterDb, fs);
        SetLowPassCoefficients(tone[c], (toneValue * 7000.0f) * toneValue + 1000.0f, 0.8f, fs);
        for (float& x : c == 0 ? s.left : s.right) {
          float d = ProcessBiquadSample(character[c], ProcessBiquadSample(pre[c], x)) * drive;
          d = d > 1.0f ? 1.0f : (d < -1.0f ? -1.0f : d);
          x = (ProcessBiquadSample(tone[c], d) * v) * 0.2f;
        }
      }
    }, randomize);
  }
}

// The smoothed oscillator per sample, with the tremolo's gains.
TEST(FastPaths, TremoloMatchesThePerSampleOscillator) {
  auto plugin = LoadPlugin("VelmorTremolo");
  Random r;
  for (int trial = 0; trial < 12; ++trial) {
    WaveformOscillator osc;
    int mode = 0;
    float rate = 0, depth = 0;
    auto randomize = [&] {
      mode = r.Int(0, 2);
      osc.shape = r.Int(-1, 5);
      rate = static_cast<float>(r.Uniform(0.1, 30));
      depth = static_cast<float>(r.Uniform(0, 1));
      plugin->SetValue("タイプ", mode);
      plugin->SetValue("波形タイプ", osc.shape);
      plugin->SetValue("周期", rate);
      plugin->SetValue("深さ", depth);
    };
    CompareWithReference(*plugin, r, 400 + trial, 20, r.Rate(), [&](Stereo& s, float fs) {
      osc.phaseStep = rate * 6.2831855f / 44100.0f;
      UpdateSmoothing(osc, 2000.0f, fs);
      for (size_t i = 0; i < s.size(); ++i) {
        const float u = NextValue(osc);
        const float g0 = depth * u + (1.0f - depth);
        const float g1 = mode == 0 ? g0 : (1.0f - u) * depth + (1.0f - depth);
        s.left[i] = s.left[i] * g0;
        s.right[i] = s.right[i] * g1;
      }
    }, randomize);
  }
}

// Ring and FM with the per-sample oscillator and a plainly written line.
TEST(FastPaths, ModulatorMatchesThePerSampleOscillatorAndLine) {
  auto plugin = LoadPlugin("VelmorModulator");
  Random r;
  for (int trial = 0; trial < 16; ++trial) {
    struct Record {
      WaveformOscillator osc;
      float lastRate = 44100.0f;
    } ring, fm;
    float lines[2][1000] = {};
    int readIndex = 0, writeIndex = 500;
    int mode = 0, shape = 0;
    float period = 0, depth = 0;
    auto randomize = [&] {
      mode = r.Int(0, 2);
      shape = r.Int(-1, 5);
      period = static_cast<float>(r.Uniform(50, 6000));
      depth = static_cast<float>(r.Uniform(0, 1));
      plugin->SetValue("タイプ", mode);
      plugin->SetValue("波形タイプ", shape);
      plugin->SetValue("周期", period);
      plugin->SetValue("深さ", depth);
    };
    const int rate = r.Int(0, 1) ? 44100 : 96000;  // the 12000 Hz smoothing stays below half the rate
    CompareWithReference(*plugin, r, 500 + trial, 24, rate, [&](Stereo& s, float fs) {
      if (mode != 0 && mode != 1) return;
      Record& rec = mode == 0 ? ring : fm;
      rec.osc.shape = shape;
      const float frequency = mode == 0 ? static_cast<float>(static_cast<double>(period) / 10.0) : period;
      rec.osc.phaseStep = (3.1415927f + 3.1415927f) * frequency / rec.lastRate;
      UpdateSmoothing(rec.osc, 12000.0f, fs);
      rec.lastRate = fs;
      for (size_t i = 0; i < s.size(); ++i) {
        const float u = NextValue(rec.osc);
        if (mode == 0) {
          const float gain = u * depth + (1.0f - depth);
          s.left[i] = s.left[i] * gain;
          s.right[i] = s.right[i] * gain;
          continue;
        }
        const float D = (depth * 1000.0f) * u;
        const int k = static_cast<int>(D);
        const float w = D - static_cast<float>(k);
        const int i0 = ((readIndex + k) % 1000 + 1000) % 1000, i1 = ((readIndex + k + 1) % 1000 + 1000) % 1000;
        float* x[2] = {&s.left[i], &s.right[i]};
        float y[2];
        for (int c = 0; c < 2; ++c) y[c] = (1.0f - w) * lines[c][i0] + w * lines[c][i1];
        for (int c = 0; c < 2; ++c) lines[c][writeIndex] = *x[c], *x[c] = y[c];
        readIndex = (readIndex + 1) % 1000;
        writeIndex = (writeIndex + 1) % 1000;
      }
    }, randomize);
  }
}

}  // namespace
}  // namespace velmor::test
