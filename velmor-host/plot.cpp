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

std::string RenderSvg(const Chart& chart) {
  const size_t panels = std::max<size_t>(1, chart.panels.size());
  const double W = chart.width, left = 84, top = chart.title.empty() ? 16 : 48, bottom = 58;
  double right = 24;
  const double band = 22, gap = 14;
  const double ph = chart.panelHeight > 0 ? chart.panelHeight : panels == 1 ? 420 : 200;
  const double H = top + static_cast<double>(panels) * (band + ph) + static_cast<double>(panels - 1) * gap + bottom;
  double plotWidth = W - left - right;

  double xLo = std::numeric_limits<double>::infinity(), xHi = -xLo;
  for (const Panel& p : chart.panels)
    for (const Series& s : p.series)
      for (double x : s.x)
        if (std::isfinite(x) && (!chart.x.logarithmic || x > 0)) xLo = std::min(xLo, x), xHi = std::max(xHi, x);
  const Range xr = AxisRange(chart.x, xLo, xHi, false);
  auto X = [&](double x) { return left + plotWidth * Fraction(chart.x, xr, x); };
  auto PanelTop = [&](size_t p) { return top + static_cast<double>(p) * (band + ph + gap) + band; };
  std::vector<Range> yRanges;
  for (size_t p = 0; p < panels; ++p) {
    double yLo = std::numeric_limits<double>::infinity(), yHi = -yLo;
    if (p < chart.panels.size())
      for (const Series& s : chart.panels[p].series)
        for (size_t i = 0; i < s.y.size(); ++i)
          if (std::isfinite(s.y[i]) && (!chart.y.logarithmic || s.y[i] > 0) && s.x[i] >= xr.lo && s.x[i] <= xr.hi)
            yLo = std::min(yLo, s.y[i]), yHi = std::max(yHi, s.y[i]);
    yRanges.push_back(AxisRange(chart.y, yLo, yHi, true));
  }
  // The corners a legend may take, top right first, with the lines each
  // would hide.
  struct Place {
    double x, y;
    size_t covered;
  };
  auto LegendPlace = [&](size_t p) {
    const Panel& panel = chart.panels[p];
    size_t rows = 0;
    for (const Series& s : panel.series) rows += !s.label.empty();
    const double w = LegendWidth(panel), h = 17 * static_cast<double>(rows) + 6;
    const double y0 = PanelTop(p), y1 = y0 + ph;
    auto Y = [&](double y) { return y1 - ph * Fraction(chart.y, yRanges[p], y); };
    Place best{0, 0, SIZE_MAX};
    for (const auto& c : {std::pair{W - right - w - 6, y0 + 6}, std::pair{left + 6, y0 + 6},
                          std::pair{W - right - w - 6, y1 - 6 - h}, std::pair{left + 6, y1 - 6 - h}}) {
      const size_t covered = CoveredPoints(panel, X, Y, c.first - 4, c.second - 4, w + 8, h + 8);
      if (covered < best.covered) best = {c.first, c.second, covered};
    }
    return best;
  };
  // Where every corner of some panel hides a line, all legends go beside the
  // plots, which narrow to make room.
  bool legendsOutside = false;
  double widest = 0;
  for (size_t p = 0; p < chart.panels.size(); ++p) {
    widest = std::max(widest, LegendWidth(chart.panels[p]));
    if (LegendWidth(chart.panels[p]) > 0 && LegendPlace(p).covered > 0) legendsOutside = true;
  }
  if (legendsOutside) right += widest + 10, plotWidth = W - left - right;

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H << "\" viewBox=\"0 0 " << W
      << ' ' << H << "\" font-family=\"" << kFonts << "\" font-size=\"13\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  if (!chart.title.empty())
    svg << "<text x=\"" << W / 2 << "\" y=\"30\" text-anchor=\"middle\" font-size=\"16\">" << XmlEscape(chart.title)
        << "</text>\n";
  const std::vector<double> xTicks = Ticks(chart.x, xr);
  for (size_t p = 0; p < panels; ++p) {
    static const Panel kEmpty;
    const Panel& panel = p < chart.panels.size() ? chart.panels[p] : kEmpty;
    const double y0 = PanelTop(p), y1 = y0 + ph;
    const Range yr = yRanges[p];
    auto Y = [&](double y) { return y1 - ph * Fraction(chart.y, yr, y); };

    if (!panel.title.empty())
      svg << "<text x=\"" << left << "\" y=\"" << y0 - 7 << "\" font-weight=\"bold\">" << XmlEscape(panel.title) << "</text>\n";
    svg << "<g stroke=\"#ddd\" stroke-width=\"1\">\n";
    for (double t : xTicks)
      svg << "<line x1=\"" << Number(X(t)) << "\" y1=\"" << y0 << "\" x2=\"" << Number(X(t)) << "\" y2=\"" << y1 << "\"/>\n";
    const std::vector<double> yTicks = Ticks(chart.y, yr);
    for (double t : yTicks)
      svg << "<line x1=\"" << left << "\" y1=\"" << Number(Y(t)) << "\" x2=\"" << W - right << "\" y2=\"" << Number(Y(t)) << "\"/>\n";
    svg << "</g>\n<g fill=\"#333\">\n";
    for (double t : yTicks)
      svg << "<text x=\"" << left - 8 << "\" y=\"" << Number(Y(t) + 4) << "\" text-anchor=\"end\">"
          << TickLabel(t, chart.y.logarithmic) << "</text>\n";
    if (p + 1 == panels)
      for (double t : xTicks)
        svg << "<text x=\"" << Number(X(t)) << "\" y=\"" << y1 + 18 << "\" text-anchor=\"middle\">"
            << TickLabel(t, chart.x.logarithmic) << "</text>\n";
    svg << "</g>\n";
    svg << "<clipPath id=\"plot" << p << "\"><rect x=\"" << left << "\" y=\"" << y0 << "\" width=\"" << plotWidth
        << "\" height=\"" << ph << "\"/></clipPath>\n";
    svg << "<g clip-path=\"url(#plot" << p << ")\" fill=\"none\" stroke-width=\"1.6\" stroke-linejoin=\"round\">\n";
    for (const Series& s : panel.series) {
      svg << "<polyline stroke=\"" << kPalette[static_cast<size_t>(s.colour) % std::size(kPalette)] << "\""
          << (s.dashed ? " stroke-dasharray=\"6 4\"" : "") << " points=\"";
      // Points of one pixel column are reduced to their extremes, in the
      // order they occur; a non-finite value breaks the line.
      const size_t n = std::min(s.x.size(), s.y.size());
      const bool reduce = static_cast<double>(n) > 2 * plotWidth;
      bool open = true;
      auto emit = [&](double x, double y) {
        if (!open) svg << "\"/>\n<polyline stroke=\"" << kPalette[static_cast<size_t>(s.colour) % std::size(kPalette)]
                       << "\"" << (s.dashed ? " stroke-dasharray=\"6 4\"" : "") << " points=\"";
        open = true;
        svg << Number(X(x)) << ',' << Number(Y(y)) << ' ';
      };
      // Only the points within the horizontal range, and one each side.
      size_t i = 0, end = n;
      while (i + 1 < n && s.x[i + 1] < xr.lo) ++i;
      while (end > i + 1 && s.x[end - 2] > xr.hi) --end;
      for (const size_t n = end; i < n;) {
        if (!std::isfinite(s.y[i]) || (chart.y.logarithmic && s.y[i] <= 0)) {
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
        for (; j < n && std::floor(X(s.x[j])) == column && std::isfinite(s.y[j]); ++j) {
          if (s.y[j] < s.y[lo]) lo = j;
          if (s.y[j] > s.y[hi]) hi = j;
        }
        // A column whose extremes are under half a pixel apart is one point.
        emit(s.x[std::min(lo, hi)], s.y[std::min(lo, hi)]);
        if (std::fabs(Y(s.y[lo]) - Y(s.y[hi])) >= 0.5) emit(s.x[std::max(lo, hi)], s.y[std::max(lo, hi)]);
        i = j;
      }
      svg << "\"/>\n";
    }
    svg << "</g>\n<rect x=\"" << left << "\" y=\"" << y0 << "\" width=\"" << plotWidth << "\" height=\"" << ph
        << "\" fill=\"none\" stroke=\"#333\"/>\n";
    // The legend: one row per labelled series, in the corner of the plot
    // where it covers no line (top right first), or else beside the plot.
    std::vector<const Series*> labelled;
    for (const Series& s : panel.series)
      if (!s.label.empty()) labelled.push_back(&s);
    if (!labelled.empty()) {
      const double boxWidth = LegendWidth(panel), rowHeight = 17;
      const double boxHeight = rowHeight * static_cast<double>(labelled.size()) + 6;
      double bx = left + plotWidth + 10, by = y0;
      if (!legendsOutside) {
        const Place place = LegendPlace(p);
        bx = place.x, by = place.y;
      }
      svg << "<g><rect x=\"" << Number(bx) << "\" y=\"" << by << "\" width=\"" << Number(boxWidth) << "\" height=\""
          << boxHeight << "\" fill=\"white\" fill-opacity=\"0.85\" stroke=\"#bbb\"/>\n";
      for (size_t k = 0; k < labelled.size(); ++k) {
        const double ry = by + 3 + rowHeight * (static_cast<double>(k) + 0.5);
        svg << "<line x1=\"" << Number(bx + 6) << "\" y1=\"" << ry << "\" x2=\"" << Number(bx + 32) << "\" y2=\"" << ry
            << "\" stroke=\"" << kPalette[static_cast<size_t>(labelled[k]->colour) % std::size(kPalette)]
            << "\" stroke-width=\"2\"" << (labelled[k]->dashed ? " stroke-dasharray=\"6 4\"" : "") << "/>\n";
        svg << "<text x=\"" << Number(bx + 38) << "\" y=\"" << ry + 4.5 << "\" fill=\"#222\">" << XmlEscape(labelled[k]->label)
            << "</text>\n";
      }
      svg << "</g>\n";
    }
  }
  const double plotsTop = top + band, plotsBottom = H - bottom;
  svg << "<g fill=\"#333\"><text x=\"" << left + plotWidth / 2 << "\" y=\"" << H - 14
      << "\" text-anchor=\"middle\">" << XmlEscape(chart.x.label) << "</text>\n";
  svg << "<text transform=\"translate(22 " << (plotsTop + plotsBottom) / 2 << ") rotate(-90)\" text-anchor=\"middle\">"
      << XmlEscape(chart.y.label) << "</text></g>\n</svg>\n";
  return svg.str();
}

std::string RenderCsv(const Chart& chart) {
  std::ostringstream csv;
  csv.precision(9);
  csv << "panel,series,x,y\n";
  for (const Panel& p : chart.panels)
    for (const Series& s : p.series)
      for (size_t i = 0; i < std::min(s.x.size(), s.y.size()); ++i)
        csv << '"' << p.title << "\",\"" << s.label << "\"," << s.x[i] << ',' << s.y[i] << '\n';
  return csv.str();
}

}  // namespace velmor::cli
