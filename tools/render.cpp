// velmor-host info, render and signal.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>

#include "tools/cli.h"

namespace velmor::cli {
namespace {

const char* KindName(host::ItemKind kind) {
  switch (kind) {
    case host::ItemKind::Track: return "track";
    case host::ItemKind::Select: return "select";
    default: return "unknown";
  }
}

double Decibels(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -INFINITY; }

struct Level {
  double peak = 0, rms = 0;
};

void Progress(size_t done, size_t total) {
  const int width = 40;
  const int filled = total ? static_cast<int>(width * done / total) : width;
  std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", width - filled, "",
               total ? static_cast<int>(100 * done / total) : 100);
  if (done == total) std::fputc('\n', stderr);
}

}  // namespace

int Info(Arguments& args) {
  const std::string path = args.Next("PLUGIN");
  auto plugin = OpenPlugin(path);
  const host::Description& d = plugin->description();
  std::printf("name:        %s\nlabel:       %s\ninformation: %s\nflags:       %d\nitems:\n", d.name.c_str(),
              d.label.c_str(), d.information.c_str(), d.flags);
  for (size_t i = 0; i < d.items.size(); ++i) {
    const host::ItemInfo& item = d.items[i];
    std::printf("  %zu. %-6s %s  default %g", i + 1, KindName(item.kind), item.label.c_str(), item.defaultValue);
    if (item.kind == host::ItemKind::Track)
      std::printf("  range %g to %g  step %g\n", item.min, item.max, item.step);
    else
      std::printf("\n");
    for (const auto& option : item.options) std::printf("       %d = %s\n", option.value, option.name.c_str());
  }
  return 0;
}

int Render(Arguments& args) {
  std::vector<std::string> positional, settings;
  double fps = 30.0;
  int64_t blockLength = 0;  // 0: one block per video frame
  int64_t id = 1;
  int rateOverride = 0;
  bool quiet = false, stats = false;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--set") settings.push_back(args.Next("NAME=VALUE after --set"));
    else if (word == "--fps") fps = ParseNumber(args.Next("N after --fps"), "--fps");
    else if (word == "--block") blockLength = ParseInteger(args.Next("N after --block"), "--block");
    else if (word == "--id") id = ParseInteger(args.Next("N after --id"), "--id");
    else if (word == "--rate") rateOverride = ParseInt32(args.Next("HZ after --rate"), "--rate", 1, INT32_MAX);
    else if (word == "--rate-as-is") rateOverride = 0;
    else if (word == "--quiet") quiet = true;
    else if (word == "--stats") stats = true;
    else if (word.rfind("--", 0) == 0) throw UsageError("unknown option " + word);
    else positional.push_back(word);
  }
  if (positional.size() != 3) throw UsageError("render takes PLUGIN IN OUT");
  if (!(fps > 0) || !std::isfinite(fps)) throw UsageError("--fps must be above 0");
  if (blockLength < 0 || blockLength > (int64_t{1} << 24)) throw UsageError("--block must be 1 to 16777216");

  auto plugin = OpenPlugin(positional[0]);
  for (const auto& s : settings) ApplySetting(*plugin, s);
  AudioReader input(positional[1]);
  // A video frame is one block, of rate / fps samples: at least one sample
  // and at most 2^24.
  if (blockLength == 0 && !(static_cast<double>(input.sampleRate()) / fps <= static_cast<double>(1 << 24)))
    throw UsageError("--fps is too low for " + std::to_string(input.sampleRate()) + " Hz: a frame would exceed 16777216 samples");
  AudioWriter output(positional[2], input.sampleRate());

  host::BlockRequest request;
  request.id = id;
  request.sampleRate = rateOverride ? rateOverride : input.sampleRate();
  const bool bar = !quiet && isatty(STDERR_FILENO);
  const auto total = static_cast<size_t>(std::max<int64_t>(input.frames(), 0));
  const double rate = input.sampleRate();
  Level in, out;
  double inSum = 0, outSum = 0;
  auto measure = [](const std::vector<float>& x, size_t n, Level& level, double& sum) {
    for (size_t i = 0; i < n; ++i) {
      level.peak = std::max(level.peak, static_cast<double>(std::fabs(x[i])));
      sum += static_cast<double>(x[i]) * x[i];
    }
  };
  std::vector<float> left, right;
  double seconds = 0;
  size_t done = 0;
  // Frame b covers the samples from floor(b * rate / fps) up to the next
  // frame's start, as the editor plays one object; the last block is shorter.
  // With --block, every block but the last has that many samples.
  auto blockEnd = [&](int64_t b) {
    if (blockLength > 0) return static_cast<size_t>((b + 1) * blockLength);
    return static_cast<size_t>(std::floor(static_cast<double>(b + 1) * rate / fps));
  };
  for (int64_t b = 0; done < total; ++b) {
    const auto end = std::min(total, blockEnd(b));
    if (end <= done) continue;
    const size_t n = end - done;
    left.resize(n);
    right.resize(n);
    const size_t got = input.Read(left.data(), right.data(), n);
    if (got == 0) break;
    if (stats) measure(left, got, in, inSum), measure(right, got, in, inSum);
    request.frame = static_cast<int32_t>(b);
    const auto start = std::chrono::steady_clock::now();
    auto result = plugin->Process(left.data(), right.data(), static_cast<int32_t>(got), request);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!result.result) throw Failure("the plug-in failed on frame " + std::to_string(b));
    if (stats) measure(left, got, out, outSum), measure(right, got, out, outSum);
    output.Write(left.data(), right.data(), got);
    done += got;
    if (bar && (b % 30 == 0 || done == total)) Progress(done, total);
  }
  output.Commit();
  if (stats) {
    in.rms = done ? std::sqrt(inSum / (2.0 * done)) : 0.0;
    out.rms = done ? std::sqrt(outSum / (2.0 * done)) : 0.0;
    const double duration = static_cast<double>(done) / rate;
    std::printf("stats: peak_in=%.2f rms_in=%.2f peak_out=%.2f rms_out=%.2f seconds=%.4f realtime=%.1f\n",
                Decibels(in.peak), Decibels(in.rms), Decibels(out.peak), Decibels(out.rms), seconds,
                seconds > 0 ? duration / seconds : INFINITY);
  }
  return 0;
}

int Signal(Arguments& args) {
  const std::string out = args.Next("OUT");
  int rate = 44100;
  double seconds = 8.0;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--rate") rate = ParseInt32(args.Next("HZ after --rate"), "--rate", 8000, 384000);
    else if (word == "--seconds") seconds = ParseNumber(args.Next("S after --seconds"), "--seconds");
    else throw UsageError("unknown option " + word);
  }
  if (!(seconds > 0) || seconds > 3600) throw UsageError("--seconds must be above 0 and at most 3600");
  WriteAudio(out, DemoSignal(rate, seconds));
  return 0;
}

}  // namespace velmor::cli
