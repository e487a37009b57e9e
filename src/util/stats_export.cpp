#include "util/stats_export.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "util/stats_file.h"

namespace {

void appendJsonString(std::string* out, const std::string& s) {
  out->push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          *out += buf;
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

std::string number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[40];
  snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string xmlEscape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

// A "nice" step (1, 2 or 5 times a power of ten) giving about `ticks` ticks.
double niceStep(double span, int ticks) {
  if (span <= 0) return 1;
  double raw = span / ticks;
  double p = std::pow(10.0, std::floor(std::log10(raw)));
  double m = raw / p;
  return (m < 1.5 ? 1 : m < 3 ? 2 : m < 7 ? 5 : 10) * p;
}

std::string tickLabel(double v, double step) {
  char buf[40];
  double a = std::fabs(v);
  if (a >= 1e9 || (a > 0 && a < 1e-3 && step < 1e-3)) {
    snprintf(buf, sizeof buf, "%.3g", v);
  } else if (step >= 1) {
    snprintf(buf, sizeof buf, "%.0f", v);
  } else {
    int digits = static_cast<int>(std::ceil(-std::log10(step)));
    snprintf(buf, sizeof buf, "%.*f", std::min(digits, 9), v);
  }
  return buf;
}

std::string timeLabel(int64_t t, int64_t step) {
  time_t tt = static_cast<time_t>(t);
  struct tm tm;
  if (localtime_r(&tt, &tm) == nullptr) return "?";
  char buf[40];
  // The date where the ticks are a day or more apart or at midnight.
  if (step >= 86400 || (tm.tm_hour == 0 && tm.tm_min == 0)) {
    strftime(buf, sizeof buf, "%m-%d %H:%M", &tm);
  } else {
    strftime(buf, sizeof buf, "%H:%M", &tm);
  }
  return buf;
}

const char* const kColors[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b",
                               "#e377c2", "#7f7f7f", "#bcbd22", "#17becf", "#393b79", "#637939"};

}  // namespace

std::string statsFileToJSON(const StatsFile& file) {
  std::string out;
  out.reserve(file.entries().size() * 64);
  out += "{\"version\":" + std::to_string(file.version()) + ",\"start\":" + std::to_string(file.start()) +
         ",\"end\":" + std::to_string(file.end()) + ",\"entries\":[";
  bool firstEntry = true;
  for (const StatEntry& e : file.entries()) {
    if (!firstEntry) out += ',';
    firstEntry = false;
    out += "{\"time\":" + std::to_string(e.time) + ",\"rows\":[";
    bool firstRow = true;
    for (const StatRow& r : e.rows) {
      if (!firstRow) out += ',';
      firstRow = false;
      out += "{\"cls\":" + std::to_string(r.cls) + ",\"id\":" + std::to_string(r.id) + ",\"label\":";
      appendJsonString(&out, r.label);
      out += ",\"data\":[";
      for (size_t i = 0; i < r.data.size(); ++i) {
        if (i > 0) out += ',';
        out += r.data[i].isDouble() ? number(r.data[i].d) : std::to_string(r.data[i].l);
      }
      out += "]}";
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

std::vector<PlotSeries> collectSeries(const std::vector<const StatsFile*>& files, const PlotSelection& sel) {
  std::vector<PlotSeries> series;
  std::map<std::tuple<int64_t, int64_t, std::string, size_t>, size_t> index;
  for (const StatsFile* f : files) {
    for (const StatEntry& e : f->entries()) {
      for (const StatRow& r : e.rows) {
        if (sel.hasCls && r.cls != sel.cls) continue;
        if (!sel.label.empty() && r.label != sel.label) continue;
        for (size_t i = 0; i < r.data.size(); ++i) {
          auto key = std::make_tuple(r.cls, r.id, r.label, i);
          auto it = index.find(key);
          if (it == index.end()) {
            it = index.emplace(key, series.size()).first;
            series.push_back(PlotSeries{r.cls, r.id, r.label, i, {}});
          }
          series[it->second].points.emplace_back(e.time, r.data[i].asDouble());
        }
      }
    }
  }
  for (PlotSeries& s : series) {
    std::stable_sort(s.points.begin(), s.points.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  return series;
}

std::string plotSeriesSVG(const std::vector<PlotSeries>& series, const PlotSelection& sel, size_t leftOut) {
  const int W = sel.width, H = sel.height;
  const int left = 80, right = 230, top = 40, bottom = 70;
  const int pw = W - left - right, ph = H - top - bottom;
  std::string svg;
  char buf[512];
  snprintf(buf, sizeof buf,
           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
           "font-family=\"sans-serif\" font-size=\"12\">\n"
           "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
           W, H, W, H);
  svg += buf;
  std::string title = sel.title.empty() ? "Statistics" : sel.title;
  snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"24\" font-size=\"16\" text-anchor=\"middle\">", left + pw / 2);
  svg += buf + xmlEscape(title) + "</text>\n";

  int64_t t0 = INT64_MAX, t1 = INT64_MIN;
  double v0 = INFINITY, v1 = -INFINITY;
  for (const PlotSeries& s : series) {
    for (const auto& [t, v] : s.points) {
      t0 = std::min(t0, t);
      t1 = std::max(t1, t);
      if (std::isfinite(v)) {
        v0 = std::min(v0, v);
        v1 = std::max(v1, v);
      }
    }
  }
  if (series.empty() || t0 > t1) {
    snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">no data</text>\n</svg>\n",
             left + pw / 2, top + ph / 2);
    return svg + buf;
  }
  if (!(v0 <= v1)) v0 = v1 = 0;
  if (v0 > 0 && v0 < (v1 - v0)) v0 = 0;  // start at zero unless that flattens the lines
  if (v0 == v1) {
    v0 -= 1;
    v1 += 1;
  }
  double vstep = niceStep(v1 - v0, 6);
  v0 = std::floor(v0 / vstep) * vstep;
  v1 = std::ceil(v1 / vstep) * vstep;
  if (t0 == t1) {
    t0 -= 30;
    t1 += 30;
  }
  auto X = [&](int64_t t) { return left + static_cast<double>(t - t0) * pw / static_cast<double>(t1 - t0); };
  auto Y = [&](double v) { return top + ph - (v - v0) * ph / (v1 - v0); };

  // Grid, ticks and labels.
  svg += "<g stroke=\"#e0e0e0\" stroke-width=\"1\">\n";
  std::string labels;
  for (double v = v0; v <= v1 + vstep / 2; v += vstep) {
    snprintf(buf, sizeof buf, "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\"/>\n", left, Y(v), left + pw, Y(v));
    svg += buf;
    snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n", left - 6, Y(v) + 4,
             tickLabel(std::fabs(v) < vstep / 1e6 ? 0 : v, vstep).c_str());
    labels += buf;
  }
  static const int64_t kSteps[] = {60,    300,   600,   900,    1800,   3600,   7200,
                                   10800, 21600, 43200, 86400, 172800, 604800, 2592000};
  int64_t tstep = kSteps[sizeof kSteps / sizeof kSteps[0] - 1];
  for (int64_t s : kSteps) {
    if ((t1 - t0) / s <= 8) {
      tstep = s;
      break;
    }
  }
  // Ticks on round local times: align to the step in local time.
  time_t tt = static_cast<time_t>(t0);
  struct tm tm;
  long offset = localtime_r(&tt, &tm) != nullptr ? tm.tm_gmtoff : 0;
  int64_t first = ((t0 + offset + tstep - 1) / tstep) * tstep - offset;
  for (int64_t t = first; t <= t1; t += tstep) {
    snprintf(buf, sizeof buf, "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>\n", X(t), top, X(t), top + ph);
    svg += buf;
    snprintf(buf, sizeof buf, "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", X(t), top + ph + 18,
             xmlEscape(timeLabel(t, tstep)).c_str());
    labels += buf;
  }
  svg += "</g>\n";
  snprintf(buf, sizeof buf,
           "<g stroke=\"black\" stroke-width=\"1\"><line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/>"
           "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\"/></g>\n",
           left, top + ph, left + pw, top + ph, left, top, left, top + ph);
  svg += buf;
  svg += "<g fill=\"black\">\n" + labels + "</g>\n";
  std::string from = statTimeText(t0), to = statTimeText(t1);
  snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">", left + pw / 2, H - 18);
  svg += buf + xmlEscape("time (" + from + " to " + to + ")") + "</text>\n";
  snprintf(buf, sizeof buf, "<text transform=\"translate(18,%d) rotate(-90)\" text-anchor=\"middle\">value</text>\n",
           top + ph / 2);
  svg += buf;

  // The lines, then the legend.
  for (size_t i = 0; i < series.size(); ++i) {
    const char* color = kColors[i % (sizeof kColors / sizeof kColors[0])];
    snprintf(buf, sizeof buf, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" points=\"", color);
    svg += buf;
    bool any = false;
    for (const auto& [t, v] : series[i].points) {
      if (!std::isfinite(v)) continue;
      snprintf(buf, sizeof buf, "%s%.1f,%.1f", any ? " " : "", X(t), Y(v));
      svg += buf;
      any = true;
    }
    svg += "\"/>\n";
  }
  int lx = left + pw + 16;
  snprintf(buf, sizeof buf, "<g font-size=\"11\">\n");
  svg += buf;
  for (size_t i = 0; i < series.size(); ++i) {
    const char* color = kColors[i % (sizeof kColors / sizeof kColors[0])];
    int ly = top + 10 + static_cast<int>(i) * 18;
    snprintf(buf, sizeof buf, "<rect x=\"%d\" y=\"%d\" width=\"14\" height=\"4\" fill=\"%s\"/>", lx, ly - 4, color);
    svg += buf;
    std::string name = series[i].label + " [" + std::to_string(series[i].index) + "] cls " +
                       std::to_string(series[i].cls) + " id " + std::to_string(series[i].id);
    if (name.size() > 34) name = name.substr(0, 31) + "...";
    snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\">", lx + 20, ly + 2);
    svg += buf + xmlEscape(name) + "</text>\n";
  }
  if (leftOut > 0) {
    int ly = top + 10 + static_cast<int>(series.size()) * 18;
    snprintf(buf, sizeof buf, "<text x=\"%d\" y=\"%d\">(%zu more series not drawn)</text>\n", lx, ly + 2, leftOut);
    svg += buf;
  }
  svg += "</g>\n</svg>\n";
  return svg;
}
