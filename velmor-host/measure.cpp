// velmor-host's measurements: response, gain, impulse, transfer, pitch and
// lag. Each drives fresh objects of any plug-in with a test signal, one block
// per video frame at 30 fps, and plots what comes out as an SVG chart (and,
// with --csv, the numbers).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cstdio>

#include "velmor-host/cli.h"
#include "velmor-host/plot.h"

namespace velmor::cli {
namespace {

enum class Kind { Response, Gain, Impulse, Transfer, Pitch, Lag };

struct Run {
  std::string label;
  std::vector<std::string> settings;
  bool captioned = false;  // made by --each: labelled by its one setting
};

struct PanelLayout {
  std::string title;
  std::vector<std::string> settings;
  std::vector<Run> runs;
  bool captioned = false;  // made by --panel-each
};

struct Request {
  Kind kind;
  std::string plugin, svg, csv, title;
  std::vector<std::string> settings;  // for every run
  std::vector<PanelLayout> panels;
  int rate = 44100;
  double seconds = NAN, frequency = NAN, from = 0, yMin = NAN, yMax = NAN;
  int channel = 0;  // impulse: 0, 1, or 2 for both
};

// One measured signal: a channel of the plug-in's output, or a trace made
// from it.
struct Trace {
  std::vector<double> x, y;
};

// Runs `left` and `right` through a fresh object in blocks of one video frame.
void Drive(host::Plugin& plugin, std::vector<float>& left, std::vector<float>& right, int rate, int64_t id) {
  const size_t block = static_cast<size_t>(std::max(1, rate / 30));
  host::BlockRequest request;
  request.id = id;
  request.sampleRate = rate;
  for (size_t start = 0; start < left.size(); start += block, ++request.frame) {
    const size_t n = std::min(block, left.size() - start);
    if (!plugin.Process(&left[start], &right[start], static_cast<int32_t>(n), request).result)
      throw Failure(plugin.path() + " failed on frame " + std::to_string(request.frame));
  }
}

// The component of x at `frequency` over [from, x.size()), as an amplitude
// (sine and cosine correlation over whole cycles).
double Amplitude(const std::vector<float>& x, size_t from, double frequency, int rate) {
  double in = 0, quad = 0;
  for (size_t i = from; i < x.size(); ++i) {
    const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / rate;
    in += x[i] * std::sin(phase);
    quad += x[i] * std::cos(phase);
  }
  return 2.0 * std::sqrt(in * in + quad * quad) / static_cast<double>(x.size() - from);
}

std::vector<float> Sine(double frequency, double amplitude, size_t n, int rate) {
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i)
    x[i] = static_cast<float>(amplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate));
  return x;
}


// The frequency of x between successive upward zero crossings (each placed
// by linear interpolation), at the time of the later crossing in ms.
Trace ZeroCrossingPitch(const std::vector<float>& x, int rate) {
  Trace t;
  double last = NAN;
  for (size_t i = 1; i < x.size(); ++i) {
    if (!(x[i - 1] < 0 && x[i] >= 0)) continue;
    const double at = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
    if (!std::isnan(last)) {
      t.x.push_back(1000.0 * at / rate);
      t.y.push_back(rate / (at - last));
    }
    last = at;
  }
  return t;
}

// The magnitude response from 20 Hz to just under half the rate, a sine at
// a time, in dB.
Trace ResponseTrace(host::Plugin& plugin, int rate, int64_t& id) {
  // Small enough for the distortion's unclipped path.
  const double amplitude = 1e-4, lo = 20.0, hi = 0.49 * rate;
  Trace t;
  for (int k = 0; k < 240; ++k) {
    const double f = lo * std::pow(hi / lo, k / 239.0);
    const double cycles = std::max(20.0, std::ceil(f * 0.25));
    const size_t window = static_cast<size_t>(std::llround(cycles * rate / f));
    const size_t settle = std::max<size_t>(static_cast<size_t>(rate / 4), static_cast<size_t>(10.0 * rate / f));
    std::vector<float> left = Sine(f, amplitude, settle + window, rate), right = left;
    Drive(plugin, left, right, rate, ++id);
    t.x.push_back(f);
    t.y.push_back(std::max(Decibels(Amplitude(left, settle, f, rate) / amplitude), -200.0));
  }
  return t;
}

// The output's peak against the input's level, -60 to 0 dB, in dB.
Trace TransferTrace(const Request& r, host::Plugin& plugin, int64_t& id) {
  const int rate = r.rate;
  const size_t settle = static_cast<size_t>(rate / 5), window = static_cast<size_t>(rate / 10);
  Trace t;
  for (int level = -60; level <= 0; ++level) {
    std::vector<float> left = Sine(r.frequency, std::pow(10.0, level / 20.0), settle + window, rate), right = left;
    Drive(plugin, left, right, rate, ++id);
    float peak = 0;
    for (size_t i = settle; i < left.size(); ++i) peak = std::max(peak, std::fabs(left[i]));
    t.x.push_back(level);
    t.y.push_back(std::max(Decibels(peak), -120.0));
  }
  return t;
}

// The output traces of one run (one per channel where the channels differ).
std::vector<Trace> MeasureRun(const Request& r, host::Plugin& plugin, int64_t& id) {
  const int rate = r.rate;
  const auto frames = static_cast<size_t>(std::llround(r.seconds * rate));
  auto time = [&](size_t i) { return r.seconds < 1 ? 1000.0 * static_cast<double>(i) / rate : static_cast<double>(i) / rate; };
  auto channels = [&](const std::vector<float>& left, const std::vector<float>& right, auto&& value) {
    std::vector<Trace> traces(left == right ? 1 : 2);
    for (size_t c = 0; c < traces.size(); ++c) {
      const std::vector<float>& x = c == 0 ? left : right;
      for (size_t i = 0; i < x.size(); ++i) traces[c].x.push_back(time(i)), traces[c].y.push_back(value(x[i], i));
    }
    return traces;
  };
  switch (r.kind) {
    case Kind::Response: return {ResponseTrace(plugin, rate, id)};
    case Kind::Transfer: return {TransferTrace(r, plugin, id)};
    case Kind::Gain: {
      std::vector<float> left(frames, 1.0f), right(frames, 1.0f);
      Drive(plugin, left, right, rate, ++id);
      return channels(left, right, [](float v, size_t) { return static_cast<double>(v); });
    }
    case Kind::Impulse: {
      std::vector<float> left(frames, 0.0f), right(frames, 0.0f);
      if (frames > 0) left[0] = r.channel != 1 ? 1.0f : 0.0f, right[0] = r.channel != 0 ? 1.0f : 0.0f;
      Drive(plugin, left, right, rate, ++id);
      return channels(left, right, [](float v, size_t) { return static_cast<double>(v); });
    }
    case Kind::Lag: {
      // A ramp comes out as itself, late by the plug-in's delay at that time.
      std::vector<float> left(frames), right;
      for (size_t i = 0; i < frames; ++i) left[i] = static_cast<float>(i);
      right = left;
      Drive(plugin, left, right, rate, ++id);
      return channels(left, right, [&](float v, size_t i) { return 1000.0 * (static_cast<double>(i) - v) / rate; });
    }
    case Kind::Pitch: {
      std::vector<float> left = Sine(r.frequency, 0.5, frames, rate), right = left;
      Drive(plugin, left, right, rate, ++id);
      return {ZeroCrossingPitch(left, rate)};
    }
  }
  return {};
}

// The caption of a curve or panel made by --each or --panel-each: a
// drop-down list's option text, or a slider's name and value.
std::string Caption(const host::Plugin& plugin, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  const std::string name = assignment.substr(0, eq), value = assignment.substr(eq + 1);
  const host::ItemInfo& item = plugin.description().items[FindItemOrFail(plugin, name)];
  if (item.kind != host::ItemKind::Select) return item.label + " " + value;
  const double v = ParseItemValue(item, value);
  for (const auto& option : item.options)
    if (option.value == v) return option.name;
  return item.label + " " + value;
}

// NAME=V1,V2,...: the item's name and its values as given.
std::pair<std::string, std::vector<std::string>> EachValue(const std::string& text, const char* option) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
    throw UsageError(std::string(option) + " takes NAME=VALUE,VALUE,..., not '" + text + "'");
  std::vector<std::string> values;
  for (size_t at = eq + 1;;) {
    const size_t comma = text.find(',', at);
    values.push_back(text.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return {text.substr(0, eq), values};
}

// The options that build panels and series; false for any other word.
bool ParseLayoutOption(const std::string& word, Arguments& args, Request& r) {
  auto panel = [&]() -> PanelLayout& {
    if (r.panels.empty()) r.panels.push_back({});
    return r.panels.back();
  };
  if (word == "--set") {
    const std::string s = args.Next("NAME=VALUE after --set");
    if (r.panels.empty()) r.settings.push_back(s);
    else if (panel().runs.empty()) panel().settings.push_back(s);
    else panel().runs.back().settings.push_back(s);
  } else if (word == "--panel") {
    r.panels.push_back({args.Next("TITLE after --panel"), {}, {}, false});
  } else if (word == "--series") {
    panel().runs.push_back({args.Next("LABEL after --series"), {}, false});
  } else if (word == "--each") {
    const auto [name, values] = EachValue(args.Next("NAME=VALUE,... after --each"), "--each");
    for (const auto& v : values) panel().runs.push_back({"", {name + "=" + v}, true});
  } else if (word == "--panel-each") {
    const auto [name, values] = EachValue(args.Next("NAME=VALUE,... after --panel-each"), "--panel-each");
    for (const auto& v : values) r.panels.push_back({"", {name + "=" + v}, {}, true});
  } else {
    return false;
  }
  return true;
}

bool EndsIn(const std::string& name, const char* suffix) {
  const size_t n = std::strlen(suffix);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i]) return false;
  return true;
}

// The request's defaults where nothing was given, and the checks of what was.
void Complete(Request& r) {
  if (r.plugin.empty()) throw UsageError("missing PLUGIN");
  if (r.svg.empty() && r.csv.empty()) throw UsageError("missing --svg OUT.svg (or --csv OUT.csv)");
  if (!r.svg.empty() && !EndsIn(r.svg, ".svg"))
    throw UsageError("--svg writes an SVG chart: name it with .svg, not '" + r.svg + "'");
  const Kind kind = r.kind;
  const double defaultSeconds = kind == Kind::Gain ? 1.0 : kind == Kind::Impulse ? 2.0 : kind == Kind::Lag ? 0.05 : 0.5;
  if (std::isnan(r.seconds)) r.seconds = defaultSeconds;
  if (!(r.seconds > 0) || r.seconds > 60) throw UsageError("--seconds must be above 0 and at most 60");
  if (!(r.from >= 0 && r.from < r.seconds)) throw UsageError("--from must be at least 0 and below --seconds");
  if (r.yMin >= r.yMax) throw UsageError("--ymin must be below --ymax");
  if (std::isnan(r.frequency)) r.frequency = kind == Kind::Pitch ? 440.0 : 1000.0;
  if (!(r.frequency > 0) || !(r.frequency < r.rate / 2.0)) throw UsageError("--frequency must be above 0 and below half the rate");
  if (r.panels.empty()) r.panels.push_back({});
  for (PanelLayout& p : r.panels)
    if (p.runs.empty()) p.runs.push_back({});
}

Request Parse(Kind kind, Arguments& args) {
  Request r;
  r.kind = kind;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (ParseLayoutOption(word, args, r)) continue;
    if (word == "--svg") r.svg = args.Next("OUT.svg after --svg");
    else if (word == "--csv") r.csv = args.Next("OUT.csv after --csv");
    else if (word == "--title") r.title = args.Next("TEXT after --title");
    else if (word == "--rate") r.rate = ParseInt32(args.Next("HZ after --rate"), "--rate", 1000, 384000);
    else if (word == "--seconds") r.seconds = ParseNumber(args.Next("S after --seconds"), "--seconds");
    else if (word == "--frequency") r.frequency = ParseNumber(args.Next("HZ after --frequency"), "--frequency");
    else if (word == "--from") r.from = ParseNumber(args.Next("S after --from"), "--from");
    else if (word == "--ymin") r.yMin = ParseNumber(args.Next("Y after --ymin"), "--ymin");
    else if (word == "--ymax") r.yMax = ParseNumber(args.Next("Y after --ymax"), "--ymax");
    else if (word == "--channel") {
      const std::string c = args.Next("0, 1 or both after --channel");
      if (c != "0" && c != "1" && c != "both") throw UsageError("--channel takes 0, 1 or both, not '" + c + "'");
      r.channel = c == "both" ? 2 : c == "1";
    } else if (word.rfind("--", 0) == 0) {
      throw UsageError("unknown option " + word);
    } else if (r.plugin.empty()) {
      r.plugin = word;
    } else {
      throw UsageError("one PLUGIN only");
    }
  }
  Complete(r);
  return r;
}

int Measure(Kind kind, Arguments& args) {
  const Request r = Parse(kind, args);
  auto plugin = OpenPlugin(r.plugin);
  Chart chart;
  const std::string time = r.seconds < 1 ? "時間 (ms)" : "時間 (秒)";
  switch (kind) {
    case Kind::Response: chart.x = {"周波数 (Hz)", true}, chart.y = {"ゲイン (dB)"}; break;
    case Kind::Gain: chart.x = {time}, chart.y = {"ゲイン"}; break;
    case Kind::Impulse: chart.x = {time}, chart.y = {"出力"}; break;
    case Kind::Transfer: chart.x = {"入力レベル (dBFS)"}, chart.y = {"出力ピーク (dBFS)"}; break;
    case Kind::Pitch: chart.x = {"時間 (ms)"}, chart.y = {"ピッチ (Hz)"}; break;
    case Kind::Lag: chart.x = {time}, chart.y = {"遅れ (ms)"}; break;
  }
  if (r.from > 0) chart.x.min = r.seconds < 1 || kind == Kind::Pitch ? 1000 * r.from : r.from;
  chart.y.min = r.yMin, chart.y.max = r.yMax;
  std::string shown;
  int64_t id = 0;
  for (const PanelLayout& layout : r.panels) {
    Panel panel{layout.captioned ? Caption(*plugin, layout.settings.front()) : layout.title, {}};
    if (kind == Kind::Pitch) {
      const std::vector<float> in = Sine(r.frequency, 0.5, static_cast<size_t>(std::llround(r.seconds * r.rate)), r.rate);
      Trace t = ZeroCrossingPitch(in, r.rate);
      panel.series.push_back({"入力", t.x, t.y, 6, true});
    }
    if (kind == Kind::Transfer) panel.series.push_back({"入力 = 出力", {-60, 0}, {-60, 0}, 6, true});
    for (size_t k = 0; k < layout.runs.size(); ++k) {
      const Run& run = layout.runs[k];
      plugin->ResetValues();
      std::string applied;
      for (const auto* list : {&r.settings, &layout.settings, &run.settings})
        for (const auto& s : *list) applied += (applied.empty() ? "" : ", ") + ApplySetting(*plugin, s);
      if (shown.empty()) shown = applied;
      const std::vector<Trace> traces = MeasureRun(r, *plugin, id);
      for (size_t c = 0; c < traces.size(); ++c) {
        std::string label = run.captioned ? Caption(*plugin, run.settings.front()) : run.label;
        if (traces.size() > 1) label += std::string(label.empty() ? "" : " ") + (c == 0 ? "左 (ch 0)" : "右 (ch 1)");
        // One curve per channel: coloured apart; several runs: a colour per
        // run, channel 1 dashed.
        const int colour = static_cast<int>(layout.runs.size() == 1 ? c : k);
        panel.series.push_back({label, traces[c].x, traces[c].y, colour, c == 1});
      }
    }
    chart.panels.push_back(std::move(panel));
  }
  // The settings every curve shares stay in the title.
  std::string fixed;
  plugin->ResetValues();
  for (const auto& s : r.settings) fixed += (fixed.empty() ? "" : ", ") + ApplySetting(*plugin, s);
  if (!r.title.empty()) chart.title = r.title;
  else if (r.panels.size() == 1 && r.panels[0].runs.size() == 1)
    chart.title = plugin->description().name + (shown.empty() ? " (初期値)" : " (" + shown + ")") + ", " + std::to_string(r.rate) + " Hz";
  else
    chart.title = plugin->description().name + (fixed.empty() ? "" : " (" + fixed + ")") + ", " + std::to_string(r.rate) + " Hz";
  if (!r.svg.empty()) WriteTextFile(r.svg, RenderSvg(chart));
  if (!r.csv.empty()) WriteTextFile(r.csv, RenderCsv(chart));
  return 0;
}

}  // namespace

int Response(Arguments& args) { return Measure(Kind::Response, args); }
int Gain(Arguments& args) { return Measure(Kind::Gain, args); }
int Impulse(Arguments& args) { return Measure(Kind::Impulse, args); }
int Transfer(Arguments& args) { return Measure(Kind::Transfer, args); }
int Pitch(Arguments& args) { return Measure(Kind::Pitch, args); }
int Lag(Arguments& args) { return Measure(Kind::Lag, args); }

}  // namespace velmor::cli
