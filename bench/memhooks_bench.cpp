// The allocator hooks with tracing off against the C library's allocator
// called directly (__libc_malloc/__libc_free), side by side in one run: a
// malloc/free pair of a few sizes through each. This program links
// liborvmemhooks first, so its malloc and free are the hooks. At the end the
// ratio hooks/C library is printed per size.
#include <dlfcn.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* ptr);
}

namespace {

using MallocFn = void* (*)(size_t);
using FreeFn = void (*)(void*);

// Called through volatile pointers, so neither side can be inlined, folded
// into the other or removed as a dead pair.
MallocFn volatile g_hookedMalloc = &malloc;
FreeFn volatile g_hookedFree = &free;
MallocFn volatile g_libcMalloc = &__libc_malloc;
FreeFn volatile g_libcFree = &__libc_free;

void pairs(benchmark::State& state, MallocFn volatile& allocate, FreeFn volatile& release) {
  size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    void* p = allocate(size);
    benchmark::DoNotOptimize(p);
    release(p);
  }
}

void BM_Hooks(benchmark::State& state) { pairs(state, g_hookedMalloc, g_hookedFree); }
void BM_CLibrary(benchmark::State& state) { pairs(state, g_libcMalloc, g_libcFree); }

// Each size through both, one right after the other, so that a busy machine
// weighs on both sides alike (--benchmark_enable_random_interleaving mixes
// them further).
void registerPairs() {
  for (int64_t size : {16, 256, 4096, 65536}) {
    benchmark::RegisterBenchmark("BM_Hooks", BM_Hooks)->Arg(size);
    benchmark::RegisterBenchmark("BM_CLibrary", BM_CLibrary)->Arg(size);
  }
}

// Prints the usual table, then hooks/C library per size: the median CPU time
// of the repetitions (or of the single run), since other work on the machine
// shows up in wall time.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      auto& slot = _ns[r.run_name.args][r.run_name.function_name];
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") slot.median = r.GetAdjustedCPUTime();
      } else {
        slot.runs.push_back(r.GetAdjustedCPUTime());
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nns per malloc/free pair (CPU time), hooks with tracing off vs the C library:\n");
    for (auto& [size, by] : _ns) {
      double hooks = by["BM_Hooks"].value();
      double libc = by["BM_CLibrary"].value();
      if (hooks <= 0 || libc <= 0) continue;
      std::printf("  size %6s: hooks %6.2f ns, C library %6.2f ns, ratio %.3f\n", size.c_str(), hooks, libc,
                  hooks / libc);
    }
  }

 private:
  struct Times {
    double median = -1;
    std::vector<double> runs;
    double value() {
      if (median >= 0) return median;
      if (runs.empty()) return -1;
      std::sort(runs.begin(), runs.end());
      return runs[runs.size() / 2];
    }
  };
  std::map<std::string, std::map<std::string, Times>> _ns;
};

}  // namespace

int main(int argc, char** argv) {
  Dl_info info;
  void* m = dlsym(RTLD_DEFAULT, "malloc");
  if (m == nullptr || dladdr(m, &info) == 0 || info.dli_fname == nullptr ||
      std::strstr(info.dli_fname, "liborvmemhooks") == nullptr) {
    std::fprintf(stderr, "bench_memhooks: the hooks are not this program's allocator\n");
    return 1;
  }
  registerPairs();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
