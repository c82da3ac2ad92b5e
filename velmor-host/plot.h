// Line charts as standalone SVG: one or more panels stacked over a shared
// horizontal axis, each with its own vertical range and legend.
#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace velmor::cli {

struct Series {
  std::string label;
  std::vector<double> x, y;
  int colour = 0;       // index into the chart's palette
  bool dashed = false;
};

struct Panel {
  std::string title;  // drawn at the panel's top left; may be empty
  std::vector<Series> series;
};

struct Axis {
  std::string label;
  bool logarithmic = false;
  double min = NAN, max = NAN;  // NaN: from the data
};

struct Chart {
  std::string title;
  Axis x, y;
  std::vector<Panel> panels;
  double width = 960;
  double panelHeight = 0;  // 0: 420 for one panel, 200 each for more
};

// The chart as an SVG document. Text is set in a Japanese Windows font first
// (Meiryo, Yu Gothic), with generic fallbacks. Series with more points than
// the plot has pixels are drawn as the minimum and maximum of each pixel
// column, so that single-sample peaks stay visible.
std::string RenderSvg(const Chart& chart);

// The chart's points as CSV: panel,series,x,y (one row per point).
std::string RenderCsv(const Chart& chart);

}  // namespace velmor::cli
