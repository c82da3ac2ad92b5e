// SVG line charts for velmor-host's measurements.
#include "velmor-host/plot.h"

#include "velmor-host/cli.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sstream>

namespace velmor::cli {
namespace {

const char* const kPalette[] = {"#1f6fd1", "#d1491f", "#2a9d3a", "#8e44ad", "#c49000", "#16a0a0", "#555555"};
const char* const kFonts = "Meiryo, 'Yu Gothic', YuGothic, 'Hiragino Sans', 'Noto Sans CJK JP', sans-serif";

// Roughly how wide a label is set at 13 px: kana and kanji take a full em.
double TextWidth(const std::string& s) {
  double width = 0;
  for (unsigned char c : s) {
    if (c < 0x80) width += 7.2;
    else if (c >= 0xE0) width += 13;
    else if (c >= 0xC0) width += 8;
  }
  return width;
}

std::string Number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", v);
  return buffer;
}

std::string TickLabel(double v, bool logarithmic) {
  char buffer[32];
  if (std::fabs(v) < 1e-12) v = 0;
  if (logarithmic && v >= 1000) std::snprintf(buffer, sizeof buffer, "%gk", v / 1000);
  else std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

struct Range {
  double lo, hi;
};

// The range an axis shows: its fixed ends, or the data's with a margin.
Range AxisRange(const Axis& axis, double lo, double hi, bool margin) {
  if (!(lo <= hi)) lo = axis.logarithmic ? 1 : 0, hi = axis.logarithmic ? 10 : 1;
  if (axis.logarithmic) {
    lo = std::max(lo, 1e-12);
    hi = std::max(hi, lo * 1.0001);
    if (margin) lo /= std::pow(hi / lo, 0.05), hi *= std::pow(hi / lo, 0.05);
  } else {
    if (hi - lo < 1e-9 * std::max(1.0, std::fabs(hi))) lo -= 0.5, hi += 0.5;
    if (margin) {
      const double pad = 0.06 * (hi - lo);
      lo -= pad, hi += pad;
    }
  }
  return {std::isnan(axis.min) ? lo : axis.min, std::isnan(axis.max) ? hi : axis.max};
}

std::vector<double> Ticks(const Axis& axis, Range r) {
  std::vector<double> ticks;
  if (axis.logarithmic) {
    const bool fine = r.hi / r.lo < 20;
    for (double decade = std::pow(10.0, std::floor(std::log10(r.lo))); decade <= r.hi; decade *= 10)
      for (double m = 1; m < 10; ++m) {
        const double v = decade * m;
        if ((fine || m == 1 || m == 2 || m == 5) && v >= r.lo * 0.9999 && v <= r.hi * 1.0001) ticks.push_back(v);
      }
    return ticks;
  }
  const double raw = (r.hi - r.lo) / 6;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  double step = magnitude;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (raw <= m * magnitude) {
      step = m * magnitude;
      break;
    }
  for (double v = std::ceil(r.lo / step - 1e-9) * step; v <= r.hi + step * 1e-9; v += step) ticks.push_back(v);
  return ticks;
}

// Position along an axis, 0 at lo and 1 at hi.
double Fraction(const Axis& axis, Range r, double v) {
  if (axis.logarithmic) return std::log(std::max(v, 1e-300) / r.lo) / std::log(r.hi / r.lo);
  return (v - r.lo) / (r.hi - r.lo);
}

// The width of a panel's legend box (0 without labelled series).
double LegendWidth(const Panel& panel) {
  double longest = -1;
  for (const Series& s : panel.series)
    if (!s.label.empty()) longest = std::max(longest, TextWidth(s.label));
  return longest < 0 ? 0 : 46 + longest;
}

// How many points of the panel's lines, traced every two pixels, fall in a
// box: a legend there would hide them.
template <class ToX, class ToY>
size_t CoveredPoints(const Panel& panel, ToX X, ToY Y, double bx, double by, double bw, double bh) {
  size_t covered = 0;
  auto inside = [&](double px, double py) { return px >= bx && px <= bx + bw && py >= by && py <= by + bh; };
  for (const Series& s : panel.series) {
    bool have = false;
    double px = 0, py = 0;
    for (size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i) {
      if (!std::isfinite(s.x[i]) || !std::isfinite(s.y[i])) {
        have = false;
        continue;
      }
      const double qx = X(s.x[i]), qy = Y(s.y[i]);
      if (!std::isfinite(qx) || !std::isfinite(qy)) {
        have = false;
        continue;
      }
      if (!have) covered += inside(qx, qy);
      else {
        const double length = std::hypot(qx - px, qy - py);
        const int steps = static_cast<int>(std::min(4096.0, std::ceil(length / 2)));
        for (int k = 1; k <= steps; ++k) {
          const double f = static_cast<double>(k) / steps;
          covered += inside(px + (qx - px) * f, py + (qy - py) * f);
        }
      }
      have = true, px = qx, py = qy;
    }
  }
  return covered;
}

}  // namespace

namespace {

// The geometry of a chart: its size, its plots' places, the axes' ranges
// and where the legends go.
class SvgChart {
 public:
  explicit SvgChart(const Chart& chart)
      : chart_(chart),
        panels_(std::max<size_t>(1, chart.panels.size())),
        W_(chart.width),
        top_(chart.title.empty() ? 16 : 48),
        ph_(chart.panelHeight > 0 ? chart.panelHeight : panels_ == 1 ? 420 : 200),
        H_(top_ + static_cast<double>(panels_) * (kBand + ph_) + static_cast<double>(panels_ - 1) * kGap + kBottom),
        plotWidth_(W_ - kLeft - right_) {
    double xLo = std::numeric_limits<double>::infinity(), xHi = -xLo;
    for (const Panel& p : chart.panels)
      for (const Series& s : p.series)
        for (double x : s.x)
          if (std::isfinite(x) && (!chart.x.logarithmic || x > 0)) xLo = std::min(xLo, x), xHi = std::max(xHi, x);
    xr_ = AxisRange(chart.x, xLo, xHi, false);
    for (size_t p = 0; p < panels_; ++p) yRanges_.push_back(YRange(p));
    PlaceLegends();
  }

  std::string Render() {
    svg_ << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W_ << "\" height=\"" << H_ << "\" viewBox=\"0 0 "
         << W_ << ' ' << H_ << "\" font-family=\"" << kFonts << "\" font-size=\"13\">\n";
    svg_ << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    if (!chart_.title.empty())
      svg_ << "<text x=\"" << W_ / 2 << "\" y=\"30\" text-anchor=\"middle\" font-size=\"16\">" << XmlEscape(chart_.title)
           << "</text>\n";
    for (size_t p = 0; p < panels_; ++p) {
      static const Panel kEmpty;
      const Panel& panel = p < chart_.panels.size() ? chart_.panels[p] : kEmpty;
      Grid(p, panel);
      svg_ << "<clipPath id=\"plot" << p << "\"><rect x=\"" << kLeft << "\" y=\"" << PanelTop(p) << "\" width=\""
           << plotWidth_ << "\" height=\"" << ph_ << "\"/></clipPath>\n";
      svg_ << "<g clip-path=\"url(#plot" << p << ")\" fill=\"none\" stroke-width=\"1.6\" stroke-linejoin=\"round\">\n";
      for (const Series& s : panel.series) Line(p, s);
      svg_ << "</g>\n<rect x=\"" << kLeft << "\" y=\"" << PanelTop(p) << "\" width=\"" << plotWidth_ << "\" height=\""
           << ph_ << "\" fill=\"none\" stroke=\"#333\"/>\n";
      Legend(p, panel);
    }
    const double plotsTop = top_ + kBand, plotsBottom = H_ - kBottom;
    svg_ << "<g fill=\"#333\"><text x=\"" << kLeft + plotWidth_ / 2 << "\" y=\"" << H_ - 14
         << "\" text-anchor=\"middle\">" << XmlEscape(chart_.x.label) << "</text>\n";
    svg_ << "<text transform=\"translate(22 " << (plotsTop + plotsBottom) / 2 << ") rotate(-90)\" text-anchor=\"middle\">"
         << XmlEscape(chart_.y.label) << "</text></g>\n</svg>\n";
    return svg_.str();
  }

 private:
  static constexpr double kLeft = 84, kBottom = 58, kBand = 22, kGap = 14, kRowHeight = 17;

  // A legend's corner and the points of the lines it would hide there.
  struct Place {
    double x, y;
    size_t covered;
  };

  double X(double x) const { return kLeft + plotWidth_ * Fraction(chart_.x, xr_, x); }
  double PanelTop(size_t p) const { return top_ + static_cast<double>(p) * (kBand + ph_ + kGap) + kBand; }
  double Y(size_t p, double y) const { return PanelTop(p) + ph_ - ph_ * Fraction(chart_.y, yRanges_[p], y); }

  Range YRange(size_t p) const {
    double yLo = std::numeric_limits<double>::infinity(), yHi = -yLo;
    if (p < chart_.panels.size())
      for (const Series& s : chart_.panels[p].series)
        for (size_t i = 0; i < s.y.size(); ++i)
          if (std::isfinite(s.y[i]) && (!chart_.y.logarithmic || s.y[i] > 0) && s.x[i] >= xr_.lo && s.x[i] <= xr_.hi)
            yLo = std::min(yLo, s.y[i]), yHi = std::max(yHi, s.y[i]);
    return AxisRange(chart_.y, yLo, yHi, true);
  }

  // The corners a legend may take, top right first: the one that hides the
  // fewest points of the lines.
  Place LegendPlace(size_t p) const {
    const Panel& panel = chart_.panels[p];
    size_t rows = 0;
    for (const Series& s : panel.series) rows += !s.label.empty();
    const double w = LegendWidth(panel), h = kRowHeight * static_cast<double>(rows) + 6;
    const double y0 = PanelTop(p), y1 = y0 + ph_;
    const auto x = [&](double v) { return X(v); };
    const auto y = [&](double v) { return Y(p, v); };
    Place best{0, 0, SIZE_MAX};
    for (const auto& c : {std::pair{W_ - right_ - w - 6, y0 + 6}, std::pair{kLeft + 6, y0 + 6},
                          std::pair{W_ - right_ - w - 6, y1 - 6 - h}, std::pair{kLeft + 6, y1 - 6 - h}}) {
      const size_t covered = CoveredPoints(panel, x, y, c.first - 4, c.second - 4, w + 8, h + 8);
      if (covered < best.covered) best = {c.first, c.second, covered};
    }
    return best;
  }

  // Where every corner of some panel hides a line, all legends go beside the
  // plots, which narrow to make room.
  void PlaceLegends() {
    double widest = 0;
    for (size_t p = 0; p < chart_.panels.size(); ++p) {
      widest = std::max(widest, LegendWidth(chart_.panels[p]));
      if (LegendWidth(chart_.panels[p]) > 0 && LegendPlace(p).covered > 0) legendsOutside_ = true;
    }
    if (legendsOutside_) right_ += widest + 10, plotWidth_ = W_ - kLeft - right_;
  }

  void Grid(size_t p, const Panel& panel) {
    const double y0 = PanelTop(p), y1 = y0 + ph_;
    const std::vector<double> xTicks = Ticks(chart_.x, xr_), yTicks = Ticks(chart_.y, yRanges_[p]);
    if (!panel.title.empty())
      svg_ << "<text x=\"" << kLeft << "\" y=\"" << y0 - 7 << "\" font-weight=\"bold\">" << XmlEscape(panel.title)
           << "</text>\n";
    svg_ << "<g stroke=\"#ddd\" stroke-width=\"1\">\n";
    for (double t : xTicks)
      svg_ << "<line x1=\"" << Number(X(t)) << "\" y1=\"" << y0 << "\" x2=\"" << Number(X(t)) << "\" y2=\"" << y1 << "\"/>\n";
    for (double t : yTicks)
      svg_ << "<line x1=\"" << kLeft << "\" y1=\"" << Number(Y(p, t)) << "\" x2=\"" << W_ - right_ << "\" y2=\""
           << Number(Y(p, t)) << "\"/>\n";
    svg_ << "</g>\n<g fill=\"#333\">\n";
    for (double t : yTicks)
      svg_ << "<text x=\"" << kLeft - 8 << "\" y=\"" << Number(Y(p, t) + 4) << "\" text-anchor=\"end\">"
           << TickLabel(t, chart_.y.logarithmic) << "</text>\n";
    if (p + 1 == panels_)
      for (double t : xTicks)
        svg_ << "<text x=\"" << Number(X(t)) << "\" y=\"" << y1 + 18 << "\" text-anchor=\"middle\">"
             << TickLabel(t, chart_.x.logarithmic) << "</text>\n";
    svg_ << "</g>\n";
  }

  void OpenPolyline(const Series& s) {
    svg_ << "<polyline stroke=\"" << kPalette[static_cast<size_t>(s.colour) % std::size(kPalette)] << "\""
         << (s.dashed ? " stroke-dasharray=\"6 4\"" : "") << " points=\"";
  }

  // One series: points of one pixel column are reduced to their extremes,
  // in the order they occur; a non-finite value breaks the line.
  void Line(size_t p, const Series& s) {
    OpenPolyline(s);
    const size_t n = std::min(s.x.size(), s.y.size());
    const bool reduce = static_cast<double>(n) > 2 * plotWidth_;
    bool open = true;
    auto emit = [&](double x, double y) {
      if (!open) svg_ << "\"/>\n", OpenPolyline(s);
      open = true;
      svg_ << Number(X(x)) << ',' << Number(Y(p, y)) << ' ';
    };
    // Only the points within the horizontal range, and one each side.
    size_t i = 0, end = n;
    while (i + 1 < n && s.x[i + 1] < xr_.lo) ++i;
    while (end > i + 1 && s.x[end - 2] > xr_.hi) --end;
    while (i < end) {
      if (!std::isfinite(s.y[i]) || (chart_.y.logarithmic && s.y[i] <= 0)) {
        open = false;
        ++i;
        continue;
      }
      if (!reduce) {
        emit(s.x[i], s.y[i]);
        ++i;
        continue;
      }
      const double column = std::floor(X(s.x[i]));
      size_t lo = i, hi = i, j = i;
      for (; j < end && std::floor(X(s.x[j])) == column && std::isfinite(s.y[j]); ++j) {
        if (s.y[j] < s.y[lo]) lo = j;
        if (s.y[j] > s.y[hi]) hi = j;
      }
      // A column whose extremes are under half a pixel apart is one point.
      emit(s.x[std::min(lo, hi)], s.y[std::min(lo, hi)]);
      if (std::fabs(Y(p, s.y[lo]) - Y(p, s.y[hi])) >= 0.5) emit(s.x[std::max(lo, hi)], s.y[std::max(lo, hi)]);
      i = j;
    }
    svg_ << "\"/>\n";
  }

  // The legend: one row per labelled series, in the corner of the plot where
  // it covers no line (top right first), or else beside the plot.
  void Legend(size_t p, const Panel& panel) {
    std::vector<const Series*> labelled;
    for (const Series& s : panel.series)
      if (!s.label.empty()) labelled.push_back(&s);
    if (labelled.empty()) return;
    const double boxWidth = LegendWidth(panel);
    const double boxHeight = kRowHeight * static_cast<double>(labelled.size()) + 6;
    double bx = kLeft + plotWidth_ + 10, by = PanelTop(p);
    if (!legendsOutside_) {
      const Place place = LegendPlace(p);
      bx = place.x, by = place.y;
    }
    svg_ << "<g><rect x=\"" << Number(bx) << "\" y=\"" << by << "\" width=\"" << Number(boxWidth) << "\" height=\""
         << boxHeight << "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#bbb\"/>\n";
    for (size_t k = 0; k < labelled.size(); ++k) {
      const double ry = by + 3 + kRowHeight * (static_cast<double>(k) + 0.5);
      svg_ << "<line x1=\"" << Number(bx + 6) << "\" y1=\"" << ry << "\" x2=\"" << Number(bx + 32) << "\" y2=\"" << ry
           << "\" stroke=\"" << kPalette[static_cast<size_t>(labelled[k]->colour) % std::size(kPalette)]
           << "\" stroke-width=\"2\"" << (labelled[k]->dashed ? " stroke-dasharray=\"6 4\"" : "") << "/>\n";
      svg_ << "<text x=\"" << Number(bx + 38) << "\" y=\"" << ry + 4.5 << "\" fill=\"#222\">"
           << XmlEscape(labelled[k]->label) << "</text>\n";
    }
    svg_ << "</g>\n";
  }

  const Chart& chart_;
  const size_t panels_;
  const double W_, top_, ph_, H_;
  double right_ = 24;
  double plotWidth_;
  Range xr_;
  std::vector<Range> yRanges_;
  bool legendsOutside_ = false;
  std::ostringstream svg_;
};

}  // namespace

std::string RenderSvg(const Chart& chart) { return SvgChart(chart).Render(); }

// A CSV field in quotes, its own quotes doubled.
std::string CsvField(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string RenderCsv(const Chart& chart) {
  std::ostringstream csv;
  csv.precision(9);
  csv << "panel,series,x,y\n";
  for (const Panel& p : chart.panels)
    for (const Series& s : p.series)
      for (size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i)
        csv << CsvField(p.title) << ',' << CsvField(s.label) << ',' << s.x[i] << ',' << s.y[i] << '\n';
  return csv.str();
}

}  // namespace velmor::cli
