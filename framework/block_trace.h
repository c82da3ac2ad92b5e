// A developer's build (-DVELMOR_TRACE=ON) records every block that a plug-in
// instance of any streaming format (LV2, CLAP, VST 3) runs: its length, the
// item values it ran with, its inputs as they arrived and its outputs as
// they left, so that what a host did can be replayed through the AviUtl2
// plug-in (velmor_replay) and compared sample for sample. The file is
// $VELMOR_TRACE_DIR/<slug>-<process>-<instance>.trace, a sequence of records
// in the machine's byte order:
//   a block:     uint32 frames, uint32 items, float values[items],
//                float in_l[frames], in_r[frames], out_l[frames], out_r[frames]
//   a new object: uint32 0xFFFFFFFF, uint32 the sample rate (Hz)
// Nothing is recorded when the variable is not set. Writing a file while
// processing is not real-time safe: never a release build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef VELMOR_TRACE
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>
#endif

namespace velmor {

inline constexpr uint32_t kTraceNewObject = 0xFFFFFFFFu;

#ifdef VELMOR_TRACE
class BlockTrace {
 public:
  explicit BlockTrace(const std::string& name) {
    static std::atomic<int> instances{0};  // hosts may instantiate on several threads
    const char* dir = std::getenv("VELMOR_TRACE_DIR");
    if (dir == nullptr) return;
    const std::string path = std::string(dir) + "/" + name + "-" + std::to_string(getpid()) + "-" +
                             std::to_string(instances++) + ".trace";
    file_ = std::fopen(path.c_str(), "wb");
  }
  ~BlockTrace() {
    if (file_ != nullptr) std::fclose(file_);
  }
  BlockTrace(const BlockTrace&) = delete;
  BlockTrace& operator=(const BlockTrace&) = delete;

  void NewObject(uint32_t rate) {
    if (file_ == nullptr) return;
    const uint32_t record[2] = {kTraceNewObject, rate};
    std::fwrite(record, sizeof record, 1, file_);
    std::fflush(file_);
  }
  // Before the block is processed: the inputs may share buffers with the outputs.
  void Before(uint32_t frames, const double* values, size_t count, const float* in0, const float* in1) {
    if (file_ == nullptr) return;
    const uint32_t head[2] = {frames, static_cast<uint32_t>(count)};
    std::fwrite(head, sizeof head, 1, file_);
    for (size_t k = 0; k < count; ++k) {
      const float value = static_cast<float>(values[k]);
      std::fwrite(&value, sizeof value, 1, file_);
    }
    std::fwrite(in0, sizeof(float), frames, file_);
    std::fwrite(in1, sizeof(float), frames, file_);
  }
  void After(uint32_t frames, const float* out0, const float* out1) {
    if (file_ == nullptr) return;
    std::fwrite(out0, sizeof(float), frames, file_);
    std::fwrite(out1, sizeof(float), frames, file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
};
#else
class BlockTrace {
 public:
  explicit BlockTrace(const std::string&) {}
  void NewObject(uint32_t) {}
  void Before(uint32_t, const double*, size_t, const float*, const float*) {}
  void After(uint32_t, const float*, const float*) {}
};
#endif

}  // namespace velmor
