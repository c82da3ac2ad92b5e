// Helpers shared by the plug-in tests: every test drives the built .auf2 file
// through our host, the way the editor does.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
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

// A test of one plug-in, loaded fresh for every test as the editor loads it.
class PluginTest : public ::testing::Test {
 protected:
  explicit PluginTest(const char* name) : name_(name) {}
  void SetUp() override {
    plugin_ = LoadPlugin(name_);
    ASSERT_TRUE(plugin_);
  }
  const char* name_;
  std::unique_ptr<host::Plugin> plugin_;
};

struct Stereo {
  std::vector<float> left, right;
  Stereo() = default;
  explicit Stereo(size_t n, float l = 0.0f, float r = 0.0f) : left(n, l), right(n, r) {}
  size_t size() const { return left.size(); }
};

// n frames of noise (-0.7 to 0.7, independent channels) from a generator.
template <class Random>
Stereo RandomStereo(size_t n, Random& rng) {
  Stereo s(n);
  for (size_t i = 0; i < n; ++i)
    s.left[i] = static_cast<float>(rng() % 14001) / 10000.0f - 0.7f, s.right[i] = static_cast<float>(rng() % 14001) / 10000.0f - 0.7f;
  return s;
}

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

// An impulse in a block of `length` samples with the first frame number,
// then silent blocks with the others: the sum of one channel's output over
// them all (the impulse's echo, if it survived the frame numbers).
inline float ImpulseSumOverFrames(host::Plugin& plugin, int64_t id, const std::vector<int32_t>& frames,
                                  size_t length, bool right) {
  float sum = 0.0f;
  for (size_t b = 0; b < frames.size(); ++b) {
    const Stereo block = RunBlock(plugin, b == 0 ? Impulse(length) : Stereo(length), {.id = id, .frame = frames[b]});
    for (float v : right ? block.right : block.left) sum += v;
  }
  return sum;
}

// A new object's first block is empty; its second block is a two-sample
// impulse: the output, made by the state the empty block created.
inline Stereo ImpulseAfterAnEmptyBlock(host::Plugin& plugin, int64_t id) {
  std::vector<float> none;
  EXPECT_TRUE(plugin.Process(none, none, {.id = id}).result);
  return RunBlock(plugin, Impulse(2), {.id = id, .frame = 1});
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

// A host's block that a plug-in cut where its parameter changes fall: each
// piece up to the next cut is one block of the reference's object (frames
// counted on in `request`), and apply(i) sets change i before the rest.
template <class Apply>
Stereo RunPieces(host::Plugin& plugin, const Stereo& in, const std::vector<size_t>& cuts, Apply apply,
                 host::BlockRequest& request) {
  Stereo out;
  size_t done = 0;
  const auto runTo = [&](size_t end) {
    if (end <= done) return;
    Stereo piece;
    piece.left.assign(in.left.begin() + static_cast<ptrdiff_t>(done), in.left.begin() + static_cast<ptrdiff_t>(end));
    piece.right.assign(in.right.begin() + static_cast<ptrdiff_t>(done), in.right.begin() + static_cast<ptrdiff_t>(end));
    piece = RunBlock(plugin, piece, request);
    ++request.frame;
    out.left.insert(out.left.end(), piece.left.begin(), piece.left.end());
    out.right.insert(out.right.end(), piece.right.begin(), piece.right.end());
    done = end;
  };
  for (size_t i = 0; i < cuts.size(); ++i) runTo(cuts[i]), apply(i);
  runTo(in.size());
  return out;
}

inline uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// Significant digits of a decimal literal such as "-0.06070104f" or "1.5e-7f";
// 0 when the text is not a plain literal.
inline int SignificantDigits(const char* text) {
  int digits = 0;
  bool leading = true, any = false;
  for (const char* c = text; *c; ++c) {
    if (*c == '-' || *c == '+') { if (c != text) return 0; continue; }
    if (*c == '.') continue;
    if (*c == 'e' || *c == 'E' || *c == 'f' || *c == 'F') break;
    if (*c < '0' || *c > '9') return 0;
    any = true;
    if (*c == '0' && leading) continue;
    leading = false;
    ++digits;
  }
  return any ? (digits == 0 ? 1 : digits) : 0;
}

// The same float, bit for bit.
inline ::testing::AssertionResult SameBits(const char* actualText, const char* expectedText, float actual,
                                           float expected) {
  if (Bits(actual) == Bits(expected)) return ::testing::AssertionSuccess();
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, " is %.9g (0x%08x), expected %.9g (0x%08x)", actual, Bits(actual),
                static_cast<double>(expected), Bits(expected));
  return ::testing::AssertionFailure() << actualText << buffer << " from " << expectedText;
}

// A float against a value published with fewer digits than a float needs
// (seven significant digits cannot tell every pair of adjacent floats apart):
// it must round to the published decimal at the number of digits written.
inline ::testing::AssertionResult RoundsToPublished(const char* actualText, const char*, float actual,
                                                    const char* published) {
  const int digits = SignificantDigits(published);
  char mine[64], theirs[64];
  std::snprintf(mine, sizeof mine, "%.*e", digits - 1, static_cast<double>(actual));
  std::snprintf(theirs, sizeof theirs, "%.*e", digits - 1, std::strtod(published, nullptr));
  if (digits > 0 && std::strcmp(mine, theirs) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actualText << " is " << mine << " (" << actual
                                       << "), published " << published;
}

// The first values of a signal against published decimals, given as text:
// nine significant digits name one float, fewer are checked as published.
inline void ExpectValues(const std::vector<float>& actual, const std::vector<const char*>& expected,
                         size_t offset = 0) {
  size_t i = offset;
  for (const char* text : expected) {
    ASSERT_LT(i, actual.size());
    if (SignificantDigits(text) >= 9)
      EXPECT_TRUE(SameBits("output", text, actual[i], std::strtof(text, nullptr))) << "index " << i;
    else
      EXPECT_TRUE(RoundsToPublished("output", text, actual[i], text)) << "index " << i;
    ++i;
  }
}

#define EXPECT_BITS(actual, expected) EXPECT_PRED_FORMAT2(::velmor::test::SameBits, actual, expected)
#define EXPECT_PUBLISHED(actual, published) \
  EXPECT_PRED_FORMAT2(::velmor::test::RoundsToPublished, actual, #published)

}  // namespace velmor::test
