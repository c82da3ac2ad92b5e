// velmor-host response: the magnitude response measured with steady sines,
// plotted as an SVG (dB against log frequency).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "tools/cli.h"

namespace velmor::cli {
namespace {

constexpr double kAmplitude = 1e-4;  // small enough for the distortion's unclipped path
constexpr int kPoints = 240;

struct Point {
  double frequency, decibels;
};

// Drives a fresh object with a sine and takes the output's component at that
// frequency (sine and cosine correlation over whole cycles).
double MeasureGain(host::Plugin& plugin, double frequency, int rate, int64_t id) {
  const double cycles = std::max(20.0, std::ceil(frequency * 0.25));
  const size_t window = static_cast<size_t>(std::llround(cycles * rate / frequency));
  const size_t settle = std::max<size_t>(static_cast<size_t>(rate / 4), static_cast<size_t>(10.0 * rate / frequency));
  const size_t total = settle + window;
  std::vector<float> left(total), right(total);
  for (size_t i = 0; i < total; ++i)
    left[i] = right[i] = static_cast<float>(kAmplitude * std::sin(2.0 * M_PI * frequency * static_cast<double>(i) / rate));
  const size_t block = static_cast<size_t>(std::max(1, rate / 30));
  host::BlockRequest request;
  request.id = id;
  request.sampleRate = rate;
  for (size_t start = 0; start < total; start += block) {
    const size_t n = std::min(block, total - start);
    if (!plugin.Process(&left[start], &right[start], static_cast<int32_t>(n), request).result)
      throw Failure("the plug-in failed while measuring " + std::to_string(frequency) + " Hz");
    ++request.frame;
  }
  double in = 0, quad = 0;
  for (size_t i = settle; i < total; ++i) {
    const double phase = 2.0 * M_PI * frequency * static_cast<double>(i) / rate;
    in += left[i] * std::sin(phase);
    quad += left[i] * std::cos(phase);
  }
  const double amplitude = 2.0 * std::sqrt(in * in + quad * quad) / static_cast<double>(window);
  return amplitude / kAmplitude;
}

std::string FrequencyLabel(double f) {
  char buf[32];
  if (f >= 1000) std::snprintf(buf, sizeof buf, "%gk", f / 1000);
  else std::snprintf(buf, sizeof buf, "%g", f);
  return buf;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

std::string Plot(const std::vector<Point>& points, const std::string& title) {
  const double W = 960, H = 540, left = 80, right = 30, top = 60, bottom = 70;
  const double fLo = points.front().frequency, fHi = points.back().frequency;
  double dbMax = -1e9, dbMin = 1e9;
  for (const Point& p : points)
    if (std::isfinite(p.decibels)) dbMax = std::max(dbMax, p.decibels), dbMin = std::min(dbMin, p.decibels);
  if (dbMax < dbMin) dbMax = 0, dbMin = -1;
  dbMax = std::ceil((dbMax + 1) / 6) * 6;
  dbMin = std::max(std::floor((dbMin - 1) / 6) * 6, dbMax - 120);
  const double dbStep = (dbMax - dbMin) > 60 ? 12 : 6;
  auto X = [&](double f) { return left + (W - left - right) * std::log(f / fLo) / std::log(fHi / fLo); };
  auto Y = [&](double db) {
    db = std::clamp(db, dbMin, dbMax);
    return top + (H - top - bottom) * (dbMax - db) / (dbMax - dbMin);
  };
  std::ostringstream svg;
  svg.precision(6);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W
      << ' ' << H << "\" font-family=\"sans-serif\" font-size=\"13\">\n";
  svg << "<metadata id=\"measurements\">\nfrequency_hz,gain_db\n";
  for (const Point& p : points) svg << p.frequency << ',' << p.decibels << '\n';
  svg << "</metadata>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "<text x=\"" << W / 2 << "\" y=\"30\" text-anchor=\"middle\" font-size=\"16\">" << Escape(title) << "</text>\n";
  svg << "<g stroke=\"#ddd\" stroke-width=\"1\">\n";
  for (double decade = 10; decade <= fHi * 10; decade *= 10)
    for (double m : {1.0, 2.0, 5.0}) {
      const double f = decade * m;
      if (f < fLo || f > fHi) continue;
      svg << "<line x1=\"" << X(f) << "\" y1=\"" << top << "\" x2=\"" << X(f) << "\" y2=\"" << H - bottom << "\"/>\n";
    }
  for (double db = dbMin; db <= dbMax + 1e-9; db += dbStep)
    svg << "<line x1=\"" << left << "\" y1=\"" << Y(db) << "\" x2=\"" << W - right << "\" y2=\"" << Y(db) << "\"/>\n";
  svg << "</g>\n<g fill=\"#333\">\n";
  for (double decade = 10; decade <= fHi * 10; decade *= 10)
    for (double m : {1.0, 2.0, 5.0}) {
      const double f = decade * m;
      if (f < fLo || f > fHi) continue;
      svg << "<text x=\"" << X(f) << "\" y=\"" << H - bottom + 18 << "\" text-anchor=\"middle\">" << FrequencyLabel(f) << "</text>\n";
    }
  for (double db = dbMin; db <= dbMax + 1e-9; db += dbStep)
    svg << "<text x=\"" << left - 8 << "\" y=\"" << Y(db) + 4 << "\" text-anchor=\"end\">" << db << "</text>\n";
  svg << "<text x=\"" << (left + W - right) / 2 << "\" y=\"" << H - 20 << "\" text-anchor=\"middle\">frequency (Hz)</text>\n";
  svg << "<text transform=\"translate(24 " << (top + H - bottom) / 2 << ") rotate(-90)\" text-anchor=\"middle\">gain (dB)</text>\n";
  svg << "</g>\n<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << W - left - right << "\" height=\""
      << H - top - bottom << "\" fill=\"none\" stroke=\"#333\"/>\n";
  svg << "<polyline fill=\"none\" stroke=\"#1f6fd1\" stroke-width=\"2\" points=\"";
  for (const Point& p : points) svg << X(p.frequency) << ',' << Y(p.decibels) << ' ';
  svg << "\"/>\n</svg>\n";
  return svg.str();
}

}  // namespace

int Response(Arguments& args) {
  std::string pluginPath, svgPath;
  std::vector<std::string> settings;
  int rate = 44100;
  while (!args.Empty()) {
    const std::string word = args.Next("argument");
    if (word == "--svg") svgPath = args.Next("OUT.svg after --svg");
    else if (word == "--set") settings.push_back(args.Next("NAME=VALUE after --set"));
    else if (word == "--rate") rate = ParseInt32(args.Next("HZ after --rate"), "--rate", 1000, 384000);
    else if (word.rfind("--", 0) == 0) throw UsageError("unknown option " + word);
    else if (pluginPath.empty()) pluginPath = word;
    else throw UsageError("response takes one PLUGIN");
  }
  if (pluginPath.empty()) throw UsageError("missing PLUGIN");
  if (svgPath.empty()) throw UsageError("missing --svg OUT.svg");
  auto plugin = OpenPlugin(pluginPath);
  std::string title = plugin->description().name;
  std::string shown;
  for (const auto& s : settings) shown += (shown.empty() ? "" : ", ") + ApplySetting(*plugin, s);
  title += shown.empty() ? " (defaults)" : " (" + shown + ")";
  title += ", " + std::to_string(rate) + " Hz";

  std::vector<Point> points;
  const double fLo = 20.0, fHi = 0.49 * rate;
  for (int k = 0; k < kPoints; ++k) {
    const double f = fLo * std::pow(fHi / fLo, static_cast<double>(k) / (kPoints - 1));
    const double gain = MeasureGain(*plugin, f, rate, 1000 + k);
    points.push_back({f, gain > 0 ? 20.0 * std::log10(gain) : -200.0});
  }
  WriteTextFile(svgPath, Plot(points, title));
  return 0;
}

}  // namespace velmor::cli
