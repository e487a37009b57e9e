// Loads arbitrary bytes as a properties file in both forms, merges the set
// back onto the file and diffs sets, checking what must hold for any input:
// no overrun, keys never hold their separator, the merge accepts exactly the
// files the load accepts, and a merged file reads back with the set's values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/properties.h"

namespace {

const std::string& workDir() {
  static const std::string dir = [] {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/propfuzz.XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) abort();
    return tmpl;
  }();
  static const bool cleanup = [] {
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
    return true;
  }();
  (void)cleanup;
  return dir;
}

void writeAll(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, f) != size) abort();
  fclose(f);
}

// Stops the run at a broken invariant, naming its line.
void checkAt(bool ok, int line) {
  if (!ok) {
    fprintf(stderr, "properties_fuzz: invariant of line %d broken\n", line);
    abort();
  }
}
#define check(ok) checkAt((ok), __LINE__)

void readEverything(const Properties& p) {
  int i;
  bool b;
  double d;
  for (const Properties::Entry* e = p.head(); e != nullptr; e = e->next) {
    (void)p.intFromProperty(e->key, "fuzz", true, &i, 0);
    (void)p.levelFromProperty(e->key, "fuzz", true, &i, 0);
    (void)p.boolFromProperty(e->key, "fuzz", true, &b, false);
    (void)p.doubleFromProperty(e->key, "fuzz", true, &d, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string src = workDir() + "/src";
  const std::string dst = workDir() + "/dst";
  writeAll(src, data, size);

  Properties colon;
  const bool colonOk = colon.load(src.c_str(), false);
  for (const Properties::Entry* e = colon.head(); e != nullptr; e = e->next) {
    check(strchr(e->key, ':') == nullptr);
    check(strchr(e->key, '\n') == nullptr && strchr(e->value, '\n') == nullptr);
    check(strlen(e->key) + strlen(e->value) < static_cast<size_t>(Properties::kMaxLine));
  }
  Properties equals;
  (void)equals.load(src.c_str(), true);
  for (const Properties::Entry* e = equals.head(); e != nullptr; e = e->next) {
    check(strchr(e->key, '=') == nullptr);
    check(strchr(e->value, '\\') == nullptr);
  }
  readEverything(colon);
  readEverything(equals);

  // The merge accepts exactly the files the load accepts; a merged file reads
  // back with this set's values for every key.
  const bool merged = colon.merge(src.c_str(), dst.c_str());
  check(merged == colonOk);
  if (merged) {
    Properties back;
    check(back.load(dst.c_str(), false));
    for (const Properties::Entry* e = colon.head(); e != nullptr; e = e->next) {
      const char* value = back.getProperty(e->key);
      check(value != nullptr && strcmp(value, colon.getProperty(e->key)) == 0);
    }
  }

  std::unique_ptr<Properties> d1(colon.diff(equals));
  std::unique_ptr<Properties> d2(equals.diff(colon));
  // Against itself only entries shadowed by a newer one of the same key.
  std::unique_ptr<Properties> self(colon.diff(colon));
  for (const Properties::Entry* e = self->head(); e != nullptr; e = e->next) {
    check(strcmp(colon.getProperty(e->key), e->value) != 0);
  }
  Properties copy(colon);
  copy.copyFrom(*d1);
  return 0;
}
