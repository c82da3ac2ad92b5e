// Helpers shared by the plug-in tests: every test drives the built .auf2 file
// through our host, the way the editor does.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "plugin_list.h"

namespace velmor::test {

inline std::string PluginFile(const std::string& name) { return host::PluginPath(kPluginDir, name); }

inline std::unique_ptr<host::Plugin> LoadPlugin(const std::string& name) {
  std::string error;
  auto plugin = host::Plugin::Load(PluginFile(name), &error);
  EXPECT_NE(plugin, nullptr) << error;
  return plugin;
}

struct Stereo {
  std::vector<float> left, right;
  Stereo() = default;
  explicit Stereo(size_t n, float l = 0.0f, float r = 0.0f) : left(n, l), right(n, r) {}
  size_t size() const { return left.size(); }
};

// A unit impulse in both channels at index 0, then silence.
inline Stereo Impulse(size_t n) {
  Stereo s(n);
  if (n > 0) s.left[0] = s.right[0] = 1.0f;
  return s;
}

// Runs one block in place and expects the callback to succeed.
inline Stereo RunBlock(host::Plugin& plugin, Stereo block, const host::BlockRequest& request = {}) {
  auto result = plugin.Process(block.left, block.right, request);
  EXPECT_TRUE(result.result);
  return block;
}

// Runs `input` as consecutive blocks of `blockSize` frames, frames numbered
// from `firstFrame`, and returns the concatenated output.
inline Stereo RunBlocks(host::Plugin& plugin, const Stereo& input, size_t blockSize,
                        host::BlockRequest request = {}) {
  Stereo out;
  for (size_t start = 0; start < input.size(); start += blockSize) {
    const size_t n = std::min(blockSize, input.size() - start);
    Stereo block;
    block.left.assign(input.left.begin() + start, input.left.begin() + start + n);
    block.right.assign(input.right.begin() + start, input.right.begin() + start + n);
    block = RunBlock(plugin, block, request);
    out.left.insert(out.left.end(), block.left.begin(), block.left.end());
    out.right.insert(out.right.end(), block.right.begin(), block.right.end());
    ++request.frame;
  }
  return out;
}

inline uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Bit-for-bit comparison of a float with the value written in the test.
inline ::testing::AssertionResult SameBits(const char* actualText, const char* expectedText,
                                           float actual, float expected) {
  if (Bits(actual) == Bits(expected)) return ::testing::AssertionSuccess();
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, " is %.9g (0x%08x), expected %.9g (0x%08x)", actual,
                Bits(actual), expected, Bits(expected));
  return ::testing::AssertionFailure() << actualText << buffer << " from " << expectedText;
}
#define EXPECT_BITS(actual, expected) EXPECT_PRED_FORMAT2(::velmor::test::SameBits, actual, expected)

}  // namespace velmor::test
