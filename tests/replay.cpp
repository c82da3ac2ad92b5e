// velmor_replay TRACE PLUGIN.auf2: replays a trace of a plug-in instance's
// blocks (a -DVELMOR_TRACE=ON build's, framework/block_trace.h) through the
// AviUtl2 plug-in of the same effect, block for block, each with the item
// values the instance ran it with, a new object wherever the instance began
// one, and compares every output sample with the traced one. Prints one
// line: the blocks, their lengths, the frame where the input first is not
// silent and whether the values changed; exits 0 when every sample is the
// same (NaN payloads aside).
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "framework/block_trace.h"
#include "host/plugin_host.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: velmor_replay TRACE PLUGIN.auf2\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  std::string error;
  auto plugin = velmor::host::Plugin::Load(argv[2], &error);
  if (!plugin) return std::fprintf(stderr, "velmor_replay: %s\n", error.c_str()), 2;
  size_t at = 0, blocks = 0;
  int64_t id = 1;
  int32_t frame = 0, rate = 44100;
  long long firstSound = -1, done = 0;
  std::set<uint32_t> lengths;
  std::vector<float> firstValues;
  bool changed = false;
  auto take = [&](void* into, size_t size) {
    if (at + size > bytes.size()) return false;
    std::memcpy(into, bytes.data() + at, size);
    at += size;
    return true;
  };
  for (;;) {
    uint32_t head[2];
    if (!take(head, sizeof head)) break;
    if (head[0] == velmor::kTraceNewObject) {
      rate = static_cast<int32_t>(head[1]);
      ++id, frame = 0;
      continue;
    }
    const uint32_t n = head[0];
    std::vector<float> values(head[1]), in[2], out[2];
    for (auto* v : {&in[0], &in[1], &out[0], &out[1]}) v->resize(n);
    if (!take(values.data(), 4 * values.size()) || !take(in[0].data(), 4 * n) || !take(in[1].data(), 4 * n) ||
        !take(out[0].data(), 4 * n) || !take(out[1].data(), 4 * n))
      break;  // the last block was cut short when the host stopped
    if (blocks == 0) firstValues = values;
    changed = changed || values != firstValues;
    for (size_t k = 0; k < values.size(); ++k) plugin->SetValue(k, values[k]);
    for (uint32_t i = 0; i < n && firstSound < 0; ++i)
      if (in[0][i] != 0.0f || in[1][i] != 0.0f) firstSound = done + i;
    auto result = plugin->Process(in[0], in[1], {.id = id, .frame = frame++, .sampleRate = rate});
    for (int c = 0; c < 2; ++c)
      for (uint32_t i = 0; i < n; ++i)
        if (std::memcmp(&in[c][i], &out[c][i], 4) != 0 && !(std::isnan(in[c][i]) && std::isnan(out[c][i]))) {
          std::printf("DIFFERS at block %zu (frame %lld), channel %d: %.9g, the plug-in in the host gave %.9g\n", blocks,
                      done + i, c, in[c][i], out[c][i]);
          return 1;
        }
    if (!result.result) return std::printf("the AviUtl2 plug-in failed at block %zu\n", blocks), 1;
    lengths.insert(n);
    done += n, ++blocks;
  }
  std::string shown;
  for (uint32_t l : lengths) shown += (shown.empty() ? "" : "/") + std::to_string(l);
  std::string values;
  for (float v : firstValues) values += (values.empty() ? "" : " ") + std::to_string(v).substr(0, 8);
  std::printf("identical: %zu blocks of %s frames at %d Hz; input from frame %lld; values %s%s\n", blocks,
              shown.c_str(), rate, firstSound, values.c_str(), changed ? ", changed later" : ", the same in every block");
  return 0;
}
