// Consolidation of one day of statistics files into one.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/log.h"
#include "foundation/os_path.h"
#include "util/stats_file.h"

namespace {

bool endsWith(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// A cheap fingerprint of an entry, to spot one that is already in the result
// (a source whose delete failed after an earlier run is merged again).
size_t fingerprint(const StatEntry& e) {
  size_t h = std::hash<int64_t>()(e.time) ^ (e.rows.size() * 0x9e3779b97f4a7c15ull);
  for (const StatRow& r : e.rows) {
    h = h * 31 + std::hash<int64_t>()(r.cls);
    h = h * 31 + std::hash<int64_t>()(r.id);
    h = h * 31 + r.data.size();
  }
  return h;
}

}  // namespace

int StatsFile::consolidate(const char* dir, int yyyymmdd) {
  return consolidate(dir, yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100);
}

int StatsFile::consolidate(const char* dir, int year, int month, int day) {
  char prefix[32];
  snprintf(prefix, sizeof prefix, "%04d%02d%02d-", year, month, day);
  char outName[64];
  snprintf(outName, sizeof outName, "%04d%02d%02d-000000.stats", year, month, day);
  std::string outPath = std::string(dir) + "/" + outName;

  DIR* d = s_opendir(dir, true);
  if (d == nullptr) {
    log(errno, "Error: unable to read directory '%s'", dir);
    return -1;
  }
  std::vector<std::string> names;
  while (struct dirent* ent = readdir(d)) {
    std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    if (name.size() < 7 || name.compare(0, strlen(prefix), prefix) != 0 || !endsWith(name, ".stats")) continue;
    names.push_back(name);
  }
  closedir(d);
  // Directory order is arbitrary; a sorted listing makes ties in start time
  // come out the same on every run.
  std::sort(names.begin(), names.end());

  std::vector<std::unique_ptr<StatsFile>> files;
  bool onlyResult = true;
  for (const std::string& name : names) {
    std::string path = std::string(dir) + "/" + name;
    printf("Will consolidate: %s\n", path.c_str());
    char adjusted[4200];
    const char* real = s_adjust_path(adjusted, sizeof adjusted, path.c_str());
    std::unique_ptr<StatsFile> f(real != nullptr ? StatsFile::readFromFile(real) : nullptr);
    if (!f) {
      log(0, "Warning: unable to read statistics file '%s'; left alone", path.c_str());
      continue;
    }
    if (name != outName) onlyResult = false;
    f->setSourcePath(path);
    files.push_back(std::move(f));
  }
  if (files.empty()) return 0;
  // The day's result alone: it is already what a run would write.
  if (onlyResult) return 0;

  std::stable_sort(files.begin(), files.end(),
                   [](const std::unique_ptr<StatsFile>& a, const std::unique_ptr<StatsFile>& b) {
                     return a->start() < b->start();
                   });

  StatsFile merged(files.front()->version());
  int64_t start = files.front()->start();
  int64_t end = files.front()->end();
  size_t total = 0;
  for (const auto& f : files) total += f->entries().size();
  merged.mutableEntries().reserve(total);
  std::unordered_multimap<size_t, size_t> seen;
  seen.reserve(total);
  for (const auto& f : files) {
    start = std::min(start, f->start());
    end = std::max(end, f->end());
    for (StatEntry& e : f->mutableEntries()) {
      size_t h = fingerprint(e);
      auto range = seen.equal_range(h);
      bool dup = false;
      for (auto it = range.first; it != range.second && !dup; ++it) dup = merged.entries()[it->second] == e;
      if (dup) continue;
      seen.emplace(h, merged.entries().size());
      merged.mutableEntries().push_back(std::move(e));
    }
    f->mutableEntries().clear();
  }
  merged.setRange(start, end);

  char adjustedOut[4200];
  const char* realOut = s_adjust_path(adjustedOut, sizeof adjustedOut, outPath.c_str());
  int rc = realOut != nullptr ? merged.writeToFile(realOut) : -ENAMETOOLONG;
  printf("write returns %d\n", rc);
  if (rc < 0) {
    log(-rc, "Error: unable to write to file '%s'", outPath.c_str());
    return -1;
  }
  printf("Data consolidated in: %s\n", outPath.c_str());
  for (const auto& f : files) {
    // The result replaced the day's earlier result in place: never delete it.
    if (f->sourcePath() == outPath) continue;
    if (s_unlink(f->sourcePath().c_str()) != 0) {
      log(errno, "Warning: Unable to delete data file: '%s'", f->sourcePath().c_str());
    }
  }
  return 0;
}
