// Views of statistics files for people and other tools: the JSON form of a
// file, and an SVG line chart of chosen series over time.
// Thread-safe: pure functions of their arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class StatsFile;

// {"version":10,"start":...,"end":...,"entries":[{"time":...,"rows":[{"cls":
// ...,"id":...,"label":"...","data":[1,2.5]}]}]}. Doubles that JSON cannot
// carry (NaN, infinities) are null.
[[nodiscard]] std::string statsFileToJSON(const StatsFile& file);

// Which rows to draw: a class (any when unset) and a label (any when empty).
struct PlotSelection {
  bool hasCls = false;
  int64_t cls = 0;
  std::string label;
  std::string title;
  int width = 960;
  int height = 540;
  // More series than this are not drawn; the chart says how many were left out.
  size_t maxSeries = 12;
};

// One line of the chart: the values of datum `index` of the rows with the
// same (cls, id, label), in time order.
struct PlotSeries {
  int64_t cls = 0;
  int64_t id = 0;
  std::string label;
  size_t index = 0;
  std::vector<std::pair<int64_t, double>> points;
};

// The series the selection picks from the files, in order of first
// appearance.
[[nodiscard]] std::vector<PlotSeries> collectSeries(const std::vector<const StatsFile*>& files,
                                                    const PlotSelection& selection);

// The SVG document: axes with labels and ticks (local times along the
// bottom), one polyline per series and a legend. An empty selection gives a
// chart that says there is no data.
[[nodiscard]] std::string plotSeriesSVG(const std::vector<PlotSeries>& series, const PlotSelection& selection,
                                        size_t leftOut);
