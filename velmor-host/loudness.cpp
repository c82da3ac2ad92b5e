#include "velmor-host/loudness.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "velmor-host/cli.h"

namespace velmor::cli {

Loudness::Loudness(int rate)
    : state_(ebur128_init(2, static_cast<unsigned long>(rate), EBUR128_MODE_I | EBUR128_MODE_S)),
      step_(static_cast<size_t>(rate / 10)),
      factor_(rate < 96000 ? 4 : rate < 192000 ? 2 : 1) {
  if (state_ == nullptr) throw Failure("cannot measure loudness at " + std::to_string(rate) + " Hz");
  if (factor_ > 1) {
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    oversampler_ = soxr_create(rate, static_cast<double>(rate) * factor_, 2, &error, nullptr, &quality, nullptr);
    if (error != nullptr) throw Failure(std::string("cannot oversample for the true peak: ") + error);
  }
}

Loudness::~Loudness() {
  ebur128_destroy(&state_);
  soxr_delete(oversampler_);
}

void Loudness::Add(const float* left, const float* right, size_t n) {
  while (n > 0) {
    const size_t m = std::min(n, step_ - sinceStep_);
    interleaved_.resize(2 * m);
    for (size_t i = 0; i < m; ++i) interleaved_[2 * i] = left[i], interleaved_[2 * i + 1] = right[i];
    ebur128_add_frames_float(state_, interleaved_.data(), m);
    Oversample(interleaved_.data(), m);
    left += m, right += m, n -= m;
    if ((sinceStep_ += m) == step_) {
      sinceStep_ = 0;
      // Once the 3 s window is full.
      double shortTerm = -HUGE_VAL;
      if (++steps_ >= 30 && ebur128_loudness_shortterm(state_, &shortTerm) == EBUR128_SUCCESS)
        shortTerms_.push_back(shortTerm);
    }
  }
}

void Loudness::Finish() { Oversample(nullptr, 0); }

double Loudness::Integrated() const {
  double v = -HUGE_VAL;
  ebur128_loudness_global(state_, &v);
  return v;
}

// EBU Tech 3342: short-term values above -70 LUFS and above the relative
// gate 20 LU under their mean power; the range from the 10th to the 95th
// percentile, each the value of rank round(p N) among the N kept.
double Loudness::Range() const {
  std::vector<double> kept;
  double power = 0.0;
  for (double l : shortTerms_)
    if (l >= -70.0) kept.push_back(l), power += std::pow(10.0, l / 10.0);
  if (kept.empty()) return 0.0;
  const double gate = 10.0 * std::log10(power / static_cast<double>(kept.size())) - 20.0;
  std::vector<double> gated;
  for (double l : kept)
    if (l >= gate) gated.push_back(l);
  std::sort(gated.begin(), gated.end());
  auto percentile = [&](double p) {
    const auto rank = static_cast<size_t>(std::floor(p * static_cast<double>(gated.size()) + 0.5));
    return gated[std::clamp<size_t>(rank, 1, gated.size()) - 1];
  };
  return percentile(0.95) - percentile(0.10);
}

double Loudness::TruePeakDecibels() const { return Decibels(truePeak_); }

void Loudness::Oversample(const float* frames, size_t n) {
  for (size_t i = 0; i < 2 * n; ++i) truePeak_ = std::max(truePeak_, static_cast<double>(std::fabs(frames[i])));
  if (oversampler_ == nullptr) return;
  oversampled_.resize(2 * (n * factor_ + 256));
  const size_t room = oversampled_.size() / 2;
  for (;;) {
    size_t used = 0, made = 0;
    soxr_process(oversampler_, frames, n, &used, oversampled_.data(), room, &made);
    for (size_t i = 0; i < 2 * made; ++i)
      truePeak_ = std::max(truePeak_, static_cast<double>(std::fabs(oversampled_[i])));
    if (frames == nullptr ? made == 0 : used == n && made < room) break;
    if (frames != nullptr) frames += 2 * used, n -= used;
  }
}

}  // namespace velmor::cli
