// velmor-host render: audio files through a stack of plug-ins, one block per
// video frame, with keyframed values, warnings and loudness figures.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <climits>
#include <cmath>
#include <cstdio>

#include "velmor-host/cli.h"
#include "velmor-host/loudness.h"

namespace velmor::cli {
namespace {

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

namespace {

// An item's value over the object's time: one value, or keyframes between
// which it moves linearly (a drop-down list steps at its keyframes).
struct Keyframe {
  double time, value;
};

struct Automation {
  size_t item = 0;
  bool steps = false;
  std::vector<Keyframe> keys;

  // The value at time t: held before the first keyframe and after the last.
  double At(double t) const {
    if (t <= keys.front().time) return keys.front().value;
    for (size_t k = 1; k < keys.size(); ++k) {
      if (t >= keys[k].time) continue;
      const Keyframe& a = keys[k - 1];
      const Keyframe& b = keys[k];
      if (steps) return a.value;
      return a.value + (b.value - a.value) * (t - a.time) / (b.time - a.time);
    }
    return keys.back().value;
  }
};

// "LABEL=VALUE" or "LABEL=TIME:VALUE,TIME:VALUE,..." (times in seconds, in
// increasing order). A value outside its slider's range, or a drop-down
// value that is not an option, is used as given and warned about once.
Automation ParseAutomation(const host::Plugin& plugin, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError("--set takes NAME=VALUE, not '" + assignment + "'");
  Automation a;
  a.item = FindItemOrFail(plugin, assignment.substr(0, eq));
  const host::ItemInfo& item = plugin.description().items[a.item];
  a.steps = item.kind == host::ItemKind::Select;
  const std::string list = assignment.substr(eq + 1);
  const bool keyframed = list.find(':') != std::string::npos;
  std::string previousTime;  // the last keyframe's time as written
  size_t at = 0;
  do {
    const size_t comma = keyframed ? list.find(',', at) : std::string::npos;
    const std::string key = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    Keyframe k{0.0, 0.0};
    if (keyframed) {
      const size_t colon = key.find(':');
      if (colon == std::string::npos) throw UsageError("keyframe '" + key + "' of " + item.label + " is not TIME:VALUE");
      const std::string time = key.substr(0, colon);
      k.time = ParseNumber(time, "keyframe time of " + item.label);
      if (!std::isfinite(k.time)) throw UsageError("keyframe time of " + item.label + " is not a number: '" + key + "'");
      if (k.time < 0)
        throw UsageError("keyframe time of " + item.label + " is " + time + " s; times count from the start, 0 s or later");
      if (!a.keys.empty() && k.time == a.keys.back().time)
        throw UsageError("keyframes of " + item.label + " at " + previousTime + " s and " + time +
                         " s share one time; each keyframe needs a later time than the one before");
      if (!a.keys.empty() && !(k.time > a.keys.back().time))
        throw UsageError("keyframes of " + item.label + " are not in time order: " + time + " s after " +
                         previousTime + " s");
      previousTime = time;
      k.value = ParseItemValue(item, key.substr(colon + 1));
    } else {
      k.value = ParseItemValue(item, key);
    }
    a.keys.push_back(k);
    at = comma == std::string::npos ? std::string::npos : comma + 1;
  } while (at != std::string::npos);
  for (const Keyframe& k : a.keys) {
    bool outside = false;
    std::string range;
    char buffer[160];
    if (item.kind == host::ItemKind::Track) {
      outside = !(k.value >= item.min && k.value <= item.max);
      std::snprintf(buffer, sizeof buffer, "its slider's range %g to %g", item.min, item.max);
      range = buffer;
    } else {
      outside = k.value < 0 || k.value >= static_cast<double>(item.options.size());
      std::snprintf(buffer, sizeof buffer, "its options 0 to %zu", item.options.size() - 1);
      range = buffer;
    }
    if (outside) {
      std::fprintf(stderr, "velmor-host render: warning: %s=%g is outside %s; used as given\n", item.label.c_str(),
                   k.value, range.c_str());
      break;
    }
  }
  return a;
}

// One plug-in of the stack and the items it moves.
struct Stage {
  std::string path;
  std::vector<std::string> settings;
  std::unique_ptr<host::Plugin> plugin;
  std::vector<Automation> automations;
  int64_t id = 0;  // the object; 0 until given: the render's --id
};

}  // namespace

namespace {

struct RenderOptions {
  std::string in, out;
  std::vector<Stage> stages;
  double fps = 30.0;
  int64_t blockLength = 0;  // 0: one block per video frame
  int64_t id = 1;
  int rateOverride = 0;
  double tail = 0.0;  // seconds of silence after the input
  std::string bits;   // --bits: 16, 24, 32 or float; "": as the input
  int channels = 2;   // --channels
  bool raw = false;   // --raw
  bool quiet = false, stats = false, null = false;
};

RenderOptions ParseRenderOptions(Arguments& args) {
  RenderOptions o;
  std::vector<std::string> positional;
  std::vector<std::string> leading;  // --set before any --plugin: for PLUGIN
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--plugin") o.stages.push_back(Stage{args.Next("FILE after --plugin"), {}, nullptr, {}});
    else if (word == "--set") (o.stages.empty() ? leading : o.stages.back().settings).push_back(args.Next("NAME=VALUE after --set"));
    else if (word == "--fps") o.fps = ParseNumber(args.Next("N after --fps"), "--fps");
    else if (word == "--block") o.blockLength = ParseInt32(args.Next("N after --block"), "--block", 1, 1 << 24);
    else if (word == "--id") (o.stages.empty() ? o.id : o.stages.back().id) = ParseInteger(args.Next("N after --id"), "--id");
    else if (word == "--rate") o.rateOverride = ParseInt32(args.Next("HZ after --rate"), "--rate", 1000, 768000);
    else if (word == "--tail") o.tail = ParseNumber(args.Next("SECONDS after --tail"), "--tail");
    else if (word == "--bits") o.bits = args.Next("16, 24, 32 or float after --bits");
    else if (word == "--channels") o.channels = ParseInt32(args.Next("1 or 2 after --channels"), "--channels", 1, 2);
    else if (word == "--rate-as-is") o.rateOverride = 0;
    else if (word == "--quiet") o.quiet = true;
    else if (word == "--null" || word == "-n") o.null = true;
    else if (word == "--raw") o.raw = true;
    else if (word == "--stats") o.stats = true;
    else if (word.rfind("--", 0) == 0) throw UsageError("unknown option " + word);
    else positional.push_back(word);
  }
  // With --null there is no OUT.
  if (o.null) positional.push_back("");
  // render PLUGIN IN OUT, or render IN OUT --plugin FILE ... (or both: PLUGIN first).
  if (positional.size() == 3) {
    o.stages.insert(o.stages.begin(), Stage{positional[0], leading, nullptr, {}});
    positional.erase(positional.begin());
  } else if (positional.size() != 2 || o.stages.empty()) {
    throw UsageError("render takes PLUGIN IN OUT, or IN OUT with one or more --plugin FILE");
  } else if (!leading.empty()) {
    throw UsageError("--set " + leading.front() + " comes before any plug-in");
  }
  if (!(o.fps > 0)) throw UsageError("--fps must be above 0");
  if (o.tail < 0 || o.tail > 3600) throw UsageError("--tail must be 0 to 3600 seconds");
  if (!o.bits.empty() && o.bits != "16" && o.bits != "24" && o.bits != "32" && o.bits != "float")
    throw UsageError("--bits takes 16, 24, 32 or float, not '" + o.bits + "'");
  for (Stage& stage : o.stages)
    if (stage.id == 0) stage.id = o.id;
  o.in = positional[0];
  o.out = positional[1];
  return o;
}

// The levels of one side of the render (input or output): peak and power of
// the finite samples always, loudness with --stats.
struct Meter {
  Level level;
  double sum = 0;
  std::unique_ptr<Loudness> loudness;

  Meter(bool stats, int rate) {
    if (stats) loudness = std::make_unique<Loudness>(rate);
  }
  void Add(const std::vector<float>& l, const std::vector<float>& r, size_t n) {
    for (const auto* x : {&l, &r})
      for (size_t i = 0; i < n; ++i) {
        if (!std::isfinite((*x)[i])) continue;
        level.peak = std::max(level.peak, static_cast<double>(std::fabs((*x)[i])));
        sum += static_cast<double>((*x)[i]) * (*x)[i];
      }
    if (loudness) loudness->Add(l.data(), r.data(), n);
  }
  void Finish(size_t frames) {
    level.rms = frames ? std::sqrt(sum / (2.0 * static_cast<double>(frames))) : 0.0;
    if (loudness) loudness->Finish();
  }
};

// The first sample of a block that matches, as its index in the block, or -1.
template <class Test>
int64_t FirstWhere(const std::vector<float>& l, const std::vector<float>& r, size_t n, Test test) {
  for (size_t i = 0; i < n; ++i)
    if (test(l[i]) || test(r[i])) return static_cast<int64_t>(i);
  return -1;
}

// One warning for overs: samples beyond full scale (clipped by a format of
// integers, kept by a float one), and with --stats a true peak above 0 dBTP.
void WarnOvers(const RenderOptions& o, const Meter& out, double firstOver, bool fixedPoint) {
  const double truePeak = out.loudness ? out.loudness->TruePeakDecibels() : -INFINITY;
  if (firstOver < 0 && !(truePeak > 0.0)) return;
  std::string what;
  char buffer[200];
  if (firstOver >= 0) {
    std::snprintf(buffer, sizeof buffer, "peaks at %+.2f dBFS, beyond full scale from %.3f s", Decibels(out.level.peak),
                  firstOver);
    what = buffer;
  }
  if (truePeak > 0.0) {
    std::snprintf(buffer, sizeof buffer, "%shas a true peak of %+.2f dBTP", what.empty() ? "" : " and ", truePeak);
    what += buffer;
  }
  const std::string name = o.out == "-" ? "standard output" : o.out;
  const std::string outcome =
      firstOver < 0 ? "it may clip when converted to a lossy or fixed-point format"
      : o.null      ? "nothing is written, but those samples would clip in a fixed-point format"
      : fixedPoint  ? name + " holds whole numbers, so those samples are clipped"
                    : name + " keeps float samples as they are, but they clip when converted to a "
                             "fixed-point format";
  std::fprintf(stderr, "velmor-host render: warning: the output %s; %s\n", what.c_str(), outcome.c_str());
}

// On standard output, or on standard error when the audio goes there. The
// loudness figures are defined from 8000 Hz on (the K-weighting's shelf
// sits at 1.5 kHz); below, and for anything not a number, they read n/a.
void PrintStats(std::FILE* to, const Meter& in, const Meter& out, double duration, double seconds, int rate) {
  auto figure = [rate](double v) {
    char text[32];
    if (rate < 8000 || std::isnan(v) || v == HUGE_VAL) return std::string("n/a");
    std::snprintf(text, sizeof text, "%.2f", v);
    return std::string(text);
  };
  std::fprintf(to, "stats: peak_in=%.2f rms_in=%.2f lufs_in=%s lra_in=%s tp_in=%.2f "
               "peak_out=%.2f rms_out=%.2f lufs_out=%s lra_out=%s tp_out=%.2f seconds=%.4f realtime=%.1f\n",
               Decibels(in.level.peak), Decibels(in.level.rms), figure(in.loudness->Integrated()).c_str(),
               figure(in.loudness->Range()).c_str(), in.loudness->TruePeakDecibels(), Decibels(out.level.peak),
               Decibels(out.level.rms), figure(out.loudness->Integrated()).c_str(),
               figure(out.loudness->Range()).c_str(), out.loudness->TruePeakDecibels(), seconds,
               seconds > 0 ? duration / seconds : INFINITY);
}

// The output's sample format: --bits, or the input's where the output's
// container holds it; its channels: --channels. A line says whatever is
// converted, so that nothing changes silently.
OutputShape OutputShapeFor(const RenderOptions& o, const AudioReader& input) {
  OutputShape shape;
  shape.channels = o.channels;
  shape.raw = o.raw;
  const int asked = o.bits == "16" ? SF_FORMAT_PCM_16 : o.bits == "24" ? SF_FORMAT_PCM_24
                  : o.bits == "32" ? SF_FORMAT_PCM_32 : o.bits == "float" ? SF_FORMAT_FLOAT : 0;
  shape.sampleFormat = o.raw ? (asked ? asked : SF_FORMAT_FLOAT) : OutputSampleFormat(o.out, asked ? asked : input.sampleFormat());
  if (o.null || o.raw) return shape;
  if (asked && shape.sampleFormat != asked)
    std::fprintf(stderr, "velmor-host render: %s cannot hold %s samples; it is written as %s\n", o.out.c_str(),
                 SampleFormatName(asked).c_str(), SampleFormatName(shape.sampleFormat).c_str());
  // Vorbis holds no samples of a width, only its coding: naming .ogg asked for it.
  else if (!asked && shape.sampleFormat != input.sampleFormat() && shape.sampleFormat != SF_FORMAT_VORBIS)
    std::fprintf(stderr, "velmor-host render: %s is %s; %s is written as %s (--bits chooses)\n", o.in.c_str(),
                 SampleFormatName(input.sampleFormat()).c_str(), o.out.c_str(),
                 SampleFormatName(shape.sampleFormat).c_str());
  if (input.channels() == 1 && shape.channels == 2)
    std::fprintf(stderr, "velmor-host render: %s is mono; the effects are stereo, so it is processed as two equal "
                 "channels and written as stereo (--channels 1 writes their mean)\n", o.in.c_str());
  if (input.channels() == 2 && shape.channels == 1)
    std::fprintf(stderr, "velmor-host render: %s is written as one channel, the mean of the two\n", o.out.c_str());
  return shape;
}

// Writing into the file being read would destroy it: the same file under any
// name (a link, another path) is refused.
void RefuseInputAsOutput(const std::string& in, const std::string& out) {
  struct stat a {}, b {};
  if (out != "-" && stat(in.c_str(), &a) == 0 && stat(out.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino && S_ISREG(b.st_mode))
    throw Failure(out + " is the input " + in + "; name another file for the output");
}

// One block through every plug-in of the stack in turn, as the editor runs
// the filters of one object; moving values are taken at the block's start.
void RunStack(std::vector<Stage>& stages, std::vector<float>& left, std::vector<float>& right, size_t n,
              host::BlockRequest request, double start) {
  for (Stage& stage : stages) {
    for (const Automation& a : stage.automations) stage.plugin->SetValue(a.item, a.At(start));
    request.id = stage.id;
    if (!stage.plugin->Process(left.data(), right.data(), static_cast<int32_t>(n), request).result)
      throw Failure(stage.path + " failed on frame " + std::to_string(request.frame));
  }
}

// The plug-ins and their settings: an item set twice for one plug-in is a
// mistake (keyframes go in one --set); one library used twice for one object
// shares that object's state, as in the editor, which is said once.
void OpenStages(std::vector<Stage>& stages) {
  for (Stage& stage : stages) {
    stage.plugin = OpenPlugin(stage.path);
    for (const auto& s : stage.settings) {
      stage.automations.push_back(ParseAutomation(*stage.plugin, s));
      for (size_t k = 0; k + 1 < stage.automations.size(); ++k)
        if (stage.automations[k].item == stage.automations.back().item) {
          const std::string& label = stage.plugin->description().items[stage.automations[k].item].label;
          throw UsageError(label + " is set twice for " + stage.path + "; one --set takes keyframes: " + label +
                           "=0:VALUE,SECONDS:VALUE");
        }
    }
  }
  for (size_t a = 0; a < stages.size(); ++a)
    for (size_t b = a + 1; b < stages.size(); ++b)
      if (stages[a].path == stages[b].path && stages[a].id == stages[b].id) {
        std::fprintf(stderr, "velmor-host render: warning: %s is used twice for object %lld: both uses share one "
                     "object's state, as two uses of one effect on one object do in the editor; give each its own "
                     "--id N to keep them apart\n", stages[a].path.c_str(), static_cast<long long>(stages[a].id));
        return;
      }
}

// The input, then --tail's silence, in blocks: the frames past the input's
// end read as zeros.
class PaddedInput {
 public:
  PaddedInput(AudioReader& reader, double tail)
      : reader_(reader), frames_(static_cast<size_t>(std::max<int64_t>(reader.frames(), 0))),
        total_(frames_ + static_cast<size_t>(std::llround(tail * reader.sampleRate()))) {}
  size_t total() const { return total_; }

  // The next n frames, from frame done: n, or fewer where a read failed
  // inside the input.
  size_t Read(std::vector<float>& left, std::vector<float>& right, size_t done, size_t n) {
    size_t got = ended_ ? 0 : reader_.Read(left.data(), right.data(), n);
    if (!ended_ && got < n && done + got < frames_) return got;
    ended_ = ended_ || done + got >= frames_;
    std::fill(left.begin() + static_cast<ptrdiff_t>(got), left.begin() + static_cast<ptrdiff_t>(n), 0.0f);
    std::fill(right.begin() + static_cast<ptrdiff_t>(got), right.begin() + static_cast<ptrdiff_t>(n), 0.0f);
    return n;
  }

 private:
  AudioReader& reader_;
  size_t frames_, total_;
  bool ended_ = false;
};

// What render says of the samples that pass: the input's first sample that
// is not finite (once), and the time of the output's first over.
struct SampleWatch {
  void Input(const RenderOptions& o, const std::vector<float>& l, const std::vector<float>& r, size_t n,
             double at, double rate) {
    const int64_t i = FirstWhere(l, r, n, [](float x) { return !std::isfinite(x); });
    if (warned || i < 0) return;
    std::fprintf(stderr, "velmor-host render: warning: %s holds a sample that is not a finite number (NaN or "
                 "infinity) at %.3f s; the plug-ins get it as it is%s\n", o.in.c_str(),
                 at + static_cast<double>(i) / rate, o.stats ? ", and --stats counts only the finite samples" : "");
    warned = true;
  }
  void Output(const std::vector<float>& l, const std::vector<float>& r, size_t n, double at, double rate) {
    const int64_t i = FirstWhere(l, r, n, [](float x) { return std::isfinite(x) && std::fabs(x) > 1.0f; });
    if (firstOver < 0 && i >= 0) firstOver = at + static_cast<double>(i) / rate;
  }
  bool warned = false;
  double firstOver = -1.0;
};

// Frame b covers the samples from floor(b * rate / fps) up to the next
// frame's start, as the editor plays one object; the last block is shorter.
// With --block, every block but the last has that many samples.
size_t BlockEnd(const RenderOptions& o, int64_t b, double rate) {
  if (o.blockLength > 0) return static_cast<size_t>((b + 1) * o.blockLength);
  return static_cast<size_t>(std::floor(static_cast<double>(b + 1) * rate / o.fps));
}

void WarnCutShort(const std::string& path, const AudioReader& input) {
  if (input.declaredFrames() <= input.frames()) return;
  const double rate = input.sampleRate();
  std::fprintf(stderr, "velmor-host render: warning: %s ends at %.3f s, although its header says %.3f s; rendered to "
               "its end\n", path.c_str(), static_cast<double>(input.frames()) / rate,
               static_cast<double>(input.declaredFrames()) / rate);
}

}  // namespace

int Render(Arguments& args) {
  RenderOptions o = ParseRenderOptions(args);
  OpenStages(o.stages);
  AudioReader input(o.in);
  // A video frame is one block, of rate / fps samples: at least one sample
  // and at most 2^24.
  if (o.blockLength == 0 && !(static_cast<double>(input.sampleRate()) / o.fps <= static_cast<double>(1 << 24)))
    throw UsageError("--fps is too low for " + std::to_string(input.sampleRate()) + " Hz: a frame would exceed 16777216 samples");
  if (!o.null) RefuseInputAsOutput(o.in, o.out);
  std::unique_ptr<AudioWriter> output =
      o.null ? nullptr : std::make_unique<AudioWriter>(o.out, input.sampleRate(), OutputShapeFor(o, input));
  WarnCutShort(o.in, input);

  host::BlockRequest request;
  request.id = o.id;
  request.sampleRate = o.rateOverride ? o.rateOverride : input.sampleRate();
  const bool bar = !o.quiet && isatty(STDERR_FILENO);
  const double rate = input.sampleRate();
  PaddedInput source(input, o.tail);
  Meter in(o.stats, input.sampleRate()), out(o.stats, input.sampleRate());
  SampleWatch watch;
  double seconds = 0;
  size_t done = 0;
  std::vector<float> left, right;
  for (int64_t b = 0; done < source.total(); ++b) {
    const auto end = std::min(source.total(), BlockEnd(o, b, rate));
    if (end <= done) continue;
    const size_t n = end - done;
    left.resize(n);
    right.resize(n);
    // Fewer than n only where reading failed: what was read is written.
    const size_t got = source.Read(left, right, done, n);
    if (got == 0) break;
    const double at = static_cast<double>(done) / rate;
    watch.Input(o, left, right, got, at, rate);
    in.Add(left, right, got);
    request.frame = static_cast<int32_t>(b);
    const auto began = std::chrono::steady_clock::now();
    RunStack(o.stages, left, right, got, request, at);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    out.Add(left, right, got);
    watch.Output(left, right, got, at, rate);
    if (output) output->Write(left.data(), right.data(), got);
    done += got;
    if (bar && (b % 30 == 0 || done == source.total())) Progress(done, source.total());
    if (got < n) break;
  }
  if (output) output->Commit();
  if (output && output->notFinite() > 0)
    std::fprintf(stderr, "velmor-host render: warning: the output holds %zu samples that are not finite numbers; %s "
                 "holds whole numbers, so NaN is written as 0 and infinity as full scale\n", output->notFinite(),
                 o.out.c_str());
  in.Finish(done);
  out.Finish(done);
  WarnOvers(o, out, watch.firstOver, output && output->fixedPoint());
  if (o.stats)
    PrintStats(o.out == "-" ? stderr : stdout, in, out, static_cast<double>(done) / rate, seconds, input.sampleRate());
  return 0;
}

}  // namespace velmor::cli
