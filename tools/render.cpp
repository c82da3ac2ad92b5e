// velmor-host info, render and signal.
#include <ebur128.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
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

namespace {

// The descriptor as an HTML fragment (Japanese headings): the name, the
// information line and a table of the items.
void PrintHtml(const host::Description& d, const std::string& file) {
  std::printf("<h2>%s <small>(%s)</small></h2>\n", XmlEscape(d.name).c_str(), XmlEscape(file).c_str());
  std::printf("<p class=\"information\">%s</p>\n", XmlEscape(d.information).c_str());
  std::printf("<table class=\"items\">\n<thead><tr><th>項目</th><th>種類</th><th>範囲</th><th>初期値</th>"
              "<th>刻み</th><th>選択肢</th></tr></thead>\n<tbody>\n");
  for (const host::ItemInfo& item : d.items) {
    std::printf("<tr><th scope=\"row\">%s</th>", XmlEscape(item.label).c_str());
    if (item.kind == host::ItemKind::Track) {
      std::printf("<td>トラックバー</td><td>%g 〜 %g</td><td>%g</td><td>%g</td><td></td></tr>\n", item.min, item.max,
                  item.defaultValue, item.step);
    } else {
      std::string options, initial;
      for (const auto& option : item.options) {
        options += (options.empty() ? "" : "<br>") + std::to_string(option.value) + ": " + XmlEscape(option.name);
        if (option.value == item.defaultValue) initial = XmlEscape(option.name);
      }
      std::printf("<td>リスト</td><td></td><td>%s</td><td></td><td>%s</td></tr>\n",
                  initial.empty() ? std::to_string(static_cast<int64_t>(item.defaultValue)).c_str() : initial.c_str(),
                  options.c_str());
    }
  }
  std::printf("</tbody>\n</table>\n");
}

}  // namespace

int Info(Arguments& args) {
  std::string path;
  bool html = false;
  while (!args.Empty()) {
    const std::string word = args.Next("PLUGIN");
    if (word == "--html") html = true;
    else if (word.rfind("--", 0) == 0) throw UsageError("unknown option " + word);
    else if (path.empty()) path = word;
    else throw UsageError("info takes one PLUGIN");
  }
  if (path.empty()) throw UsageError("missing PLUGIN");
  auto plugin = OpenPlugin(path);
  const host::Description& d = plugin->description();
  if (html) {
    PrintHtml(d, path.substr(path.find_last_of("/\\") + 1));
    return 0;
  }
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
};

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
  explicit Loudness(int rate)
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
  ~Loudness() {
    ebur128_destroy(&state_);
    soxr_delete(oversampler_);
  }
  Loudness(const Loudness&) = delete;
  Loudness& operator=(const Loudness&) = delete;

  void Add(const float* left, const float* right, size_t n) {
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
  // After the last Add: the oversampler's tail.
  void Finish() { Oversample(nullptr, 0); }

  double Integrated() const {
    double v = -HUGE_VAL;
    ebur128_loudness_global(state_, &v);
    return v;
  }
  // EBU Tech 3342: short-term values above -70 LUFS and above the relative
  // gate 20 LU under their mean power; the range from the 10th to the 95th
  // percentile, each the value of rank round(p N) among the N kept.
  double Range() const {
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
  double TruePeakDecibels() const { return Decibels(truePeak_); }

 private:
  // Feeds n interleaved frames (none: flush) and keeps the largest magnitude.
  void Oversample(const float* frames, size_t n) {
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

  ebur128_state* state_;
  soxr_t oversampler_ = nullptr;
  size_t step_, sinceStep_ = 0, steps_ = 0, factor_;
  double truePeak_ = 0.0;
  std::vector<double> shortTerms_;
  std::vector<float> interleaved_, oversampled_;
};

}  // namespace

int Render(Arguments& args) {
  std::vector<std::string> positional;
  std::vector<Stage> stages;
  std::vector<std::string> leading;  // --set before any --plugin: for PLUGIN
  double fps = 30.0;
  int64_t blockLength = 0;  // 0: one block per video frame
  int64_t id = 1;
  int rateOverride = 0;
  bool quiet = false, stats = false;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--plugin") stages.push_back(Stage{args.Next("FILE after --plugin"), {}, nullptr, {}});
    else if (word == "--set") (stages.empty() ? leading : stages.back().settings).push_back(args.Next("NAME=VALUE after --set"));
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
  // render PLUGIN IN OUT, or render IN OUT --plugin FILE ... (or both: PLUGIN first).
  if (positional.size() == 3) {
    stages.insert(stages.begin(), Stage{positional[0], leading, nullptr, {}});
    positional.erase(positional.begin());
  } else if (positional.size() != 2 || stages.empty()) {
    throw UsageError("render takes PLUGIN IN OUT, or IN OUT with one or more --plugin FILE");
  } else if (!leading.empty()) {
    throw UsageError("--set " + leading.front() + " comes before any plug-in");
  }
  if (!(fps > 0) || !std::isfinite(fps)) throw UsageError("--fps must be above 0");
  if (blockLength < 0 || blockLength > (int64_t{1} << 24)) throw UsageError("--block must be 1 to 16777216");

  for (Stage& stage : stages) {
    stage.plugin = OpenPlugin(stage.path);
    for (const auto& s : stage.settings) stage.automations.push_back(ParseAutomation(*stage.plugin, s));
  }
  AudioReader input(positional[0]);
  // A video frame is one block, of rate / fps samples: at least one sample
  // and at most 2^24.
  if (blockLength == 0 && !(static_cast<double>(input.sampleRate()) / fps <= static_cast<double>(1 << 24)))
    throw UsageError("--fps is too low for " + std::to_string(input.sampleRate()) + " Hz: a frame would exceed 16777216 samples");
  AudioWriter output(positional[1], input.sampleRate());

  host::BlockRequest request;
  request.id = id;
  request.sampleRate = rateOverride ? rateOverride : input.sampleRate();
  const bool bar = !quiet && isatty(STDERR_FILENO);
  const auto total = static_cast<size_t>(std::max<int64_t>(input.frames(), 0));
  const double rate = input.sampleRate();
  Level in, out;
  double inSum = 0, outSum = 0;
  std::unique_ptr<Loudness> inLoudness, outLoudness;
  if (stats) inLoudness = std::make_unique<Loudness>(input.sampleRate()), outLoudness = std::make_unique<Loudness>(input.sampleRate());
  double seconds = 0;
  size_t done = 0;
  // Peak and power of the finite samples.
  auto measure = [](const std::vector<float>& x, size_t n, Level& level, double& sum) {
    for (size_t i = 0; i < n; ++i) {
      if (!std::isfinite(x[i])) continue;
      level.peak = std::max(level.peak, static_cast<double>(std::fabs(x[i])));
      sum += static_cast<double>(x[i]) * x[i];
    }
  };
  // The first sample of a block that matches, as its time in the file.
  auto firstWhere = [&](const std::vector<float>& l, const std::vector<float>& r, size_t n, auto test) {
    for (size_t i = 0; i < n; ++i)
      if (test(l[i]) || test(r[i])) return static_cast<double>(done + i) / rate;
    return -1.0;
  };
  const auto notFinite = [](float x) { return !std::isfinite(x); };
  const auto beyondFullScale = [](float x) { return std::isfinite(x) && std::fabs(x) > 1.0f; };
  bool warnedNotFinite = false;
  double firstOver = -1.0, outputPeak = 0.0;
  std::vector<float> left, right;
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
    if (!warnedNotFinite) {
      const double at = firstWhere(left, right, got, notFinite);
      if (at >= 0) {
        std::fprintf(stderr, "velmor-host render: warning: %s holds a sample that is not a finite number (NaN or "
                     "infinity) at %.3f s; the plug-ins get it as it is%s\n", positional[0].c_str(), at,
                     stats ? ", and --stats counts only the finite samples" : "");
        warnedNotFinite = true;
      }
    }
    if (stats) measure(left, got, in, inSum), measure(right, got, in, inSum), inLoudness->Add(left.data(), right.data(), got);
    request.frame = static_cast<int32_t>(b);
    // Moving values are taken at the frame's start, once per frame; every
    // plug-in of the stack then runs the block in turn, as the editor runs
    // the filters of one object.
    const double start = static_cast<double>(done) / rate;
    const auto began = std::chrono::steady_clock::now();
    for (size_t s = 0; s < stages.size(); ++s) {
      Stage& stage = stages[s];
      for (const Automation& a : stage.automations) stage.plugin->SetValue(a.item, a.At(start));
      if (!stage.plugin->Process(left.data(), right.data(), static_cast<int32_t>(got), request).result)
        throw Failure(stage.path + " failed on frame " + std::to_string(b));
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (stats) measure(left, got, out, outSum), measure(right, got, out, outSum), outLoudness->Add(left.data(), right.data(), got);
    if (firstOver < 0) firstOver = firstWhere(left, right, got, beyondFullScale);
    for (size_t i = 0; i < got; ++i)
      for (float x : {left[i], right[i]})
        if (std::isfinite(x)) outputPeak = std::max(outputPeak, static_cast<double>(std::fabs(x)));
    output.Write(left.data(), right.data(), got);
    done += got;
    if (bar && (b % 30 == 0 || done == total)) Progress(done, total);
  }
  output.Commit();
  if (stats) inLoudness->Finish(), outLoudness->Finish();
  // One warning for overs: samples beyond full scale (clipped by a format of
  // integers, kept by a float one), and with --stats a true peak above 0 dBTP.
  const double truePeak = stats ? outLoudness->TruePeakDecibels() : -INFINITY;
  if (firstOver >= 0 || truePeak > 0.0) {
    std::string what;
    char buffer[200];
    if (firstOver >= 0) {
      std::snprintf(buffer, sizeof buffer, "peaks at %+.2f dBFS, beyond full scale from %.3f s", Decibels(outputPeak),
                    firstOver);
      what = buffer;
    }
    if (truePeak > 0.0) {
      std::snprintf(buffer, sizeof buffer, "%shas a true peak of %+.2f dBTP", what.empty() ? "" : " and ", truePeak);
      what += buffer;
    }
    const std::string outcome =
        firstOver < 0 ? "it may clip when converted to a lossy or fixed-point format"
        : output.fixedPoint() ? positional[1] + " holds whole numbers, so those samples are clipped"
                              : positional[1] + " keeps float samples as they are, but they clip when converted to a "
                                                "fixed-point format";
    std::fprintf(stderr, "velmor-host render: warning: the output %s; %s\n", what.c_str(), outcome.c_str());
  }
  if (stats) {
    in.rms = done ? std::sqrt(inSum / (2.0 * done)) : 0.0;
    out.rms = done ? std::sqrt(outSum / (2.0 * done)) : 0.0;
    const double duration = static_cast<double>(done) / rate;
    std::printf("stats: peak_in=%.2f rms_in=%.2f lufs_in=%.2f lra_in=%.2f tp_in=%.2f "
                "peak_out=%.2f rms_out=%.2f lufs_out=%.2f lra_out=%.2f tp_out=%.2f seconds=%.4f realtime=%.1f\n",
                Decibels(in.peak), Decibels(in.rms), inLoudness->Integrated(), inLoudness->Range(),
                inLoudness->TruePeakDecibels(), Decibels(out.peak), Decibels(out.rms), outLoudness->Integrated(),
                outLoudness->Range(), outLoudness->TruePeakDecibels(), seconds,
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
