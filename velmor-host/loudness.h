#pragma once

#include <cstddef>
#include <vector>

#include <ebur128.h>
#include <soxr.h>

namespace velmor::cli {

// Integrated loudness, loudness range and true peak of a stereo signal, per
// EBU R128 and EBU Tech 3342. Loudness comes from libebur128. Its range is
// taken here from the short-term loudness every 100 ms (libebur128's own
// range steps by a second, which on short programmes gives another figure
// than meters that step by 100 ms, ffmpeg's among them). The true peak is the
// largest sample of the signal oversampled by libsoxr at very high quality
// (4x under 96 kHz, 2x under 192 kHz): libebur128's short interpolator reads
// a few tenths of a dB low on bright material.
class Loudness {
 public:
  explicit Loudness(int rate);
  ~Loudness();
  Loudness(const Loudness&) = delete;
  Loudness& operator=(const Loudness&) = delete;

  // The next n frames of both channels.
  void Add(const float* left, const float* right, size_t n);
  // After the last Add: the oversampler's tail.
  void Finish();

  double Integrated() const;  // LUFS
  double Range() const;       // LU
  double TruePeakDecibels() const;

 private:
  // Feeds n interleaved frames (none: flush) and keeps the largest magnitude.
  void Oversample(const float* frames, size_t n);

  ebur128_state* state_;
  soxr_t oversampler_ = nullptr;
  size_t step_, sinceStep_ = 0, steps_ = 0, factor_;
  double truePeak_ = 0.0;
  std::vector<double> shortTerms_;
  std::vector<float> interleaved_, oversampled_;
};

}  // namespace velmor::cli
