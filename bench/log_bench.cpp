// Lines per second through `log` into a daily file, from one and from four
// threads, side by side with two plain stdio writers of the same lines:
//   - Fprintf: one FILE* kept open, fprintf + fflush per line (the floor: no
//     hand-over, no reopening at all);
//   - OpenClosePerLine: the dated file opened and closed for every line,
//     which is what the hand-over of the open stream between writers avoids.
// Compare the items_per_second columns of the same thread count.
#include <benchmark/benchmark.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>

#include "foundation/log.h"

namespace {

std::string g_dir;
const char kPayload[] = "connection 10.1.2.3:4433 established, session resumed, cipher ECDHE-RSA-AES256";

// The same prefix `log` writes, so the three writers produce the same bytes.
int prefix(char* out, size_t room, struct tm* tm) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  localtime_r(&tv.tv_sec, tm);
  return snprintf(out, room, "%02d:%02d:%02d.%03d: ", tm->tm_hour, tm->tm_min, tm->tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
}

void BM_Log(benchmark::State& state) {
  long long n = 0;
  for (auto _ : state) log(0, "writer %d line %lld %s", state.thread_index(), n++, kPayload);
  state.SetItemsProcessed(state.iterations());
}

std::mutex g_fileMutex;
FILE* g_file = nullptr;

void BM_Fprintf(benchmark::State& state) {
  if (state.thread_index() == 0) {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    if (g_file == nullptr) g_file = fopen((g_dir + "/fprintf.log").c_str(), "a");
  }
  long long n = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    if (g_file == nullptr) continue;
    char pre[32];
    struct tm tm;
    prefix(pre, sizeof pre, &tm);
    fprintf(g_file, "%swriter %d line %lld %s\n", pre, state.thread_index(), n++, kPayload);
    fflush(g_file);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_OpenClosePerLine(benchmark::State& state) {
  long long n = 0;
  for (auto _ : state) {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    char pre[32];
    struct tm tm;
    prefix(pre, sizeof pre, &tm);
    char path[256];
    snprintf(path, sizeof path, "%s/perline_%04d%02d%02d.log", g_dir.c_str(), tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday);
    FILE* f = fopen(path, "a");
    if (f == nullptr) continue;
    fprintf(f, "%swriter %d line %lld %s\n", pre, state.thread_index(), n++, kPayload);
    fclose(f);
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Log)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_Fprintf)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_OpenClosePerLine)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/logbench.XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  g_dir = tmpl;
  setLogDir(g_dir.c_str());
  setLogName("bench");

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  if (g_file != nullptr) fclose(g_file);
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return 0;
}
