// orvstat: reads, converts, consolidates and draws statistics files.
//   orvstat dump FILE
//   orvstat json FILE
//   orvstat consolidate DIR YYYYMMDD
//   orvstat plot FILE... --out FILE.svg [--cls N] [--label TEXT] [--title TEXT]
// Exit status: 0 done, 1 the work failed, 2 bad usage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "util/stats_export.h"
#include "util/stats_file.h"

namespace {

const char kUsage[] =
    "usage: orvstat dump FILE\n"
    "       orvstat json FILE\n"
    "       orvstat consolidate DIR YYYYMMDD\n"
    "       orvstat plot FILE... --out FILE.svg [--cls N] [--label TEXT] [--title TEXT]\n"
    "\n"
    "  dump         the readable listing of a statistics file\n"
    "  json         the file as JSON (entries, rows, data)\n"
    "  consolidate  merges DIR/YYYYMMDD-*.stats into DIR/YYYYMMDD-000000.stats\n"
    "  plot         draws every datum of the chosen rows over time as an SVG chart;\n"
    "               --cls keeps rows of that class, --label rows with that label\n";

int usage(const char* message) {
  if (message != nullptr) fprintf(stderr, "orvstat: %s\n", message);
  fputs(kUsage, stderr);
  return 2;
}

std::unique_ptr<StatsFile> load(const char* path) {
  std::unique_ptr<StatsFile> f(StatsFile::readFromFile(path));
  if (!f) fprintf(stderr, "orvstat: unable to read statistics file '%s'\n", path);
  return f;
}

bool parseInt64(const char* text, long long* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

bool writeAll(const char* path, const std::string& text) {
  FILE* f = fopen(path, "w");
  if (f == nullptr) {
    fprintf(stderr, "orvstat: unable to write '%s': %s\n", path, strerror(errno));
    return false;
  }
  bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = fclose(f) == 0 && ok;
  if (!ok) fprintf(stderr, "orvstat: unable to write '%s': %s\n", path, strerror(errno));
  return ok;
}

int plot(int argc, char** argv) {
  std::vector<const char*> inputs;
  const char* out = nullptr;
  PlotSelection sel;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--out") {
      if ((out = value()) == nullptr) return usage("--out needs a file name");
    } else if (a == "--cls") {
      long long cls;
      if (!parseInt64(value(), &cls)) return usage("--cls needs an integer");
      sel.hasCls = true;
      sel.cls = cls;
    } else if (a == "--label") {
      const char* v = value();
      if (v == nullptr) return usage("--label needs a text");
      sel.label = v;
    } else if (a == "--title") {
      const char* v = value();
      if (v == nullptr) return usage("--title needs a text");
      sel.title = v;
    } else if (a.rfind("--", 0) == 0) {
      return usage(("unknown option " + a).c_str());
    } else {
      inputs.push_back(argv[i]);
    }
  }
  if (inputs.empty()) return usage("plot needs at least one file");
  if (out == nullptr) return usage("plot needs --out FILE.svg");
  std::vector<std::unique_ptr<StatsFile>> files;
  std::vector<const StatsFile*> views;
  for (const char* p : inputs) {
    auto f = load(p);
    if (!f) return 1;
    views.push_back(f.get());
    files.push_back(std::move(f));
  }
  if (sel.title.empty()) {
    sel.title = "Statistics";
    if (sel.hasCls) sel.title += " of class " + std::to_string(sel.cls);
    if (!sel.label.empty()) sel.title += " (" + sel.label + ")";
  }
  std::vector<PlotSeries> series = collectSeries(views, sel);
  size_t leftOut = 0;
  if (series.size() > sel.maxSeries) {
    leftOut = series.size() - sel.maxSeries;
    series.resize(sel.maxSeries);
  }
  if (series.empty()) fprintf(stderr, "orvstat: no rows match; the chart says so\n");
  return writeAll(out, plotSeriesSVG(series, sel, leftOut)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(nullptr);
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  if (cmd == "dump" || cmd == "json") {
    if (argc != 3) return usage((cmd + " takes one file").c_str());
    auto f = load(argv[2]);
    if (!f) return 1;
    if (cmd == "dump") {
      f->dump(stdout);
    } else {
      std::string text = statsFileToJSON(*f);
      fwrite(text.data(), 1, text.size(), stdout);
    }
    return fflush(stdout) == 0 ? 0 : 1;
  }
  if (cmd == "consolidate") {
    if (argc != 4) return usage("consolidate takes a directory and a day");
    long long day;
    if (!parseInt64(argv[3], &day) || strlen(argv[3]) != 8 || day / 100 % 100 < 1 || day / 100 % 100 > 12 ||
        day % 100 < 1 || day % 100 > 31) {
      return usage("the day must be YYYYMMDD");
    }
    return StatsFile::consolidate(argv[2], static_cast<int>(day)) == 0 ? 0 : 1;
  }
  if (cmd == "plot") return plot(argc, argv);
  return usage(("unknown command " + cmd).c_str());
}
