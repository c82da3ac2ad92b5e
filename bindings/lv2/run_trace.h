// A developer's build (-DVELMOR_LV2_TRACE=ON) records every run() call of
// every instance: its length, its control values, its inputs as they arrived
// and its outputs as they left, so that what a host did can be replayed
// through velmor-host and compared sample for sample. The file is
// $VELMOR_LV2_TRACE_DIR/<plug-in>-<process>-<instance>.trace, a sequence of
//   uint32 frames, uint32 controls, float controls[controls],
//   float in_l[frames], in_r[frames], out_l[frames], out_r[frames]
// in the machine's byte order. Nothing is recorded when the variable is not
// set. Writing a file in run() is not real-time safe: never a release build.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#ifdef VELMOR_LV2_TRACE
#include <unistd.h>
#endif

namespace velmor::lv2 {

#ifdef VELMOR_LV2_TRACE
class RunTrace {
 public:
  explicit RunTrace(const std::string& name) {
    static std::atomic<int> instances{0};  // hosts may instantiate on several threads
    const char* dir = std::getenv("VELMOR_LV2_TRACE_DIR");
    if (dir == nullptr) return;
    const std::string path = std::string(dir) + "/" + name + "-" + std::to_string(getpid()) + "-" +
                             std::to_string(instances++) + ".trace";
    file_ = std::fopen(path.c_str(), "wb");
  }
  ~RunTrace() {
    if (file_ != nullptr) std::fclose(file_);
  }
  RunTrace(const RunTrace&) = delete;
  RunTrace& operator=(const RunTrace&) = delete;

  // Before the block is processed: the inputs may share buffers with the outputs.
  void Before(uint32_t frames, const float* const* controls, size_t count, const float* const (&in)[2]) {
    if (file_ == nullptr) return;
    const uint32_t head[2] = {frames, static_cast<uint32_t>(count)};
    std::fwrite(head, sizeof head, 1, file_);
    for (size_t k = 0; k < count; ++k) {
      const float value = controls[k] != nullptr ? *controls[k] : std::numeric_limits<float>::quiet_NaN();
      std::fwrite(&value, sizeof value, 1, file_);
    }
    for (const float* side : in) Write(side, frames);
  }
  void After(uint32_t frames, float* const (&out)[2]) {
    if (file_ == nullptr) return;
    for (const float* side : out) Write(side, frames);
    std::fflush(file_);
  }

 private:
  void Write(const float* side, uint32_t frames) {
    if (side != nullptr) {
      std::fwrite(side, sizeof(float), frames, file_);
    } else {
      const std::vector<float> zeros(frames);
      std::fwrite(zeros.data(), sizeof(float), frames, file_);
    }
  }
  std::FILE* file_ = nullptr;
};
#else
class RunTrace {
 public:
  explicit RunTrace(const std::string&) {}
  void Before(uint32_t, const float* const*, size_t, const float* const (&)[2]) {}
  void After(uint32_t, float* const (&)[2]) {}
};
#endif

}  // namespace velmor::lv2
