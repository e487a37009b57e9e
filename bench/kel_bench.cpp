// The kel interpreter side by side with Duktape (a compact bytecode
// JavaScript interpreter) on the same scripts (bench/kel/*.js): integer
// arithmetic, text concatenation, object properties, arrays, calls, JSON,
// dates and regular expressions. Each script's top level runs once, untimed;
// an iteration calls its `bench()`. Both engines must give the same result.
// After the runs a table gives kel's time as a ratio to Duktape's (CPU time
// of the benchmark thread per iteration, the median of the repetitions; the
// goal is <= 1.0). Unless told otherwise each benchmark runs 5 times and the
// repetitions of both engines take turns in a random order: this machine's
// speed comes and goes in phases longer than one run, and a phase then
// lands on both engines alike instead of on whichever ran during it. A script that
// kel cannot run yet (a built-in it lacks) is skipped with kel's error.
//   build/bin/bench_kel --benchmark_min_time=0.5
//   build/bin/bench_kel --once=kel/calls     (one call of bench(), no
//                                              timing: for callgrind)
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef ORV_HAVE_DUKTAPE
#include <duktape.h>
#endif

#include "kel/abstract_var_set.h"
#include "kel/error.h"
#include "kel/kel_runner.h"
#include "kel/parser.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

// Duktape's Date.parse gives a number where kel's gives a date object: this
// line makes Duktape's give a date too (the same work in both).
const char* kDuktapeDateCompat =
    "Date.parse = (function (p) { return function (t) { return new Date(p(t)); }; })(Date.parse);\n";

double threadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A JSON document of a little over 1 MB: an array of records of texts,
// integers, booleans, nulls, nested objects and arrays.
std::string makeDocument() {
  std::string doc = "{\"name\": \"inventory\", \"version\": 3, \"items\": [";
  for (int i = 0; doc.size() < (1u << 20); i++) {
    if (i > 0) doc += ", ";
    std::string n = std::to_string(i);
    doc += "{\"id\": " + n + ", \"name\": \"host-" + n + ".example.org\", \"active\": " +
           (i % 3 == 0 ? "true" : "false") + ", \"owner\": null, \"ports\": [22, 80, " + std::to_string(1000 + i % 9000) +
           "], \"tags\": [\"linux\", \"rack " + std::to_string(i % 40) + "\"], \"location\": {\"site\": \"dc" +
           std::to_string(i % 5) + "\", \"row\": " + std::to_string(i % 12) + ", \"note\": \"line \\\"" + n +
           "\\\"\\n\"}}";
  }
  doc += "]}";
  return doc;
}

const std::string& document() {
  static const std::string doc = makeDocument();
  return doc;
}

// One engine's copy of a script: load (the top level) once, then call.
class Engine {
 public:
  virtual ~Engine() = default;
  // Empty on success, else the engine's error.
  virtual std::string load(const std::string& name, const std::string& text) = 0;
  // The text of bench()'s result; false with the error in `out` on failure.
  virtual bool call(std::string& out) = 0;
};

class KelEngine : public Engine {
 public:
  KelEngine() : root_(Parser::buildRootVarSet()) {
    Any doc;
    doc.setString(document().c_str());
    (void)static_cast<VarSet*>(root_.getTarget())->defineValue("doc", doc);
  }

  std::string load(const std::string& name, const std::string& text) override {
    name_ = name;
    text_ = text;
    setup_ = std::make_unique<Parser>(name_.c_str(), text_, nullptr, 1, 1, false);
    if (!setup_->parseScript() || setup_->executeScript(nullptr, scope()) == 0) return report(*setup_, text_);
    caller_ = std::make_unique<Parser>("shim", kShim, nullptr, 1, 1, false);
    if (!caller_->parseScript()) return report(*caller_, kShim);
    return {};
  }

  bool call(std::string& out) override {
    if (caller_->executeScript(nullptr, scope()) == 0) {
      out = report(*caller_, kShim);
      caller_->recover();
      return false;
    }
    std::unique_ptr<Any> value = caller_->getReturnValue();
    if (!value) {
      out = "undefined";
      return true;
    }
    char* text = value->toString(caller_.get());
    out = text != nullptr ? text : "";
    std::free(text);
    return true;
  }

 private:
  static constexpr const char* kShim = "return bench();";

  AbstractVarSet* scope() { return static_cast<AbstractVarSet*>(root_.getTarget()); }
  static std::string report(const Parser& parser, std::string_view text) {
    const Error* error = parser.getError();
    std::string message = error != nullptr ? KelRunner::describe(*error, text) : "failed without an error report";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return message;
  }

  ObjRef root_;
  std::string name_;
  std::string text_;
  std::unique_ptr<Parser> setup_;
  std::unique_ptr<Parser> caller_;
};

#ifdef ORV_HAVE_DUKTAPE
class DuktapeEngine : public Engine {
 public:
  DuktapeEngine() : ctx_(duk_create_heap_default()) {
    duk_push_lstring(ctx_, document().data(), document().size());
    duk_put_global_string(ctx_, "doc");
  }
  ~DuktapeEngine() override { duk_destroy_heap(ctx_); }

  std::string load(const std::string& name, const std::string& text) override {
    std::string source = (name == "date_parse" ? std::string(kDuktapeDateCompat) : std::string()) + text;
    std::string error;
    if (duk_peval_lstring(ctx_, source.data(), source.size()) != 0) error = duk_safe_to_string(ctx_, -1);
    duk_pop(ctx_);
    return error;
  }

  bool call(std::string& out) override {
    duk_get_global_string(ctx_, "bench");
    bool ok = duk_pcall(ctx_, 0) == 0;
    out = duk_safe_to_string(ctx_, -1);
    duk_pop(ctx_);
    return ok;
  }

 private:
  duk_context* ctx_;
};
#endif

struct Outcome {
  double seconds = 0;  // CPU time per iteration, 0 when not run: the last run's
  std::vector<double> runs;  // every repetition's
  std::string result;
  std::string skipped;
  // The median of the repetitions (0 when none ran).
  [[nodiscard]] double median() const {
    if (runs.empty()) return 0;
    std::vector<double> sorted = runs;
    std::sort(sorted.begin(), sorted.end());
    size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  }
};

std::map<std::string, std::map<std::string, Outcome>>& outcomes() {
  static std::map<std::string, std::map<std::string, Outcome>> table;
  return table;
}

std::unique_ptr<Engine> makeEngine(const std::string& engine) {
#ifdef ORV_HAVE_DUKTAPE
  if (engine == "duktape") return std::make_unique<DuktapeEngine>();
#endif
  return std::make_unique<KelEngine>();
}

void runScript(benchmark::State& state, const std::string& engineName, const std::string& script,
               const std::string& text) {
  Outcome& outcome = outcomes()[script][engineName];
  std::unique_ptr<Engine> engine = makeEngine(engineName);
  std::string error = engine->load(script, text);
  std::string result;
  if (error.empty() && !engine->call(result)) error = result;
  if (!error.empty()) {
    outcome.skipped = error.substr(0, error.find('\n'));
    state.SkipWithError((engineName + ": " + outcome.skipped).c_str());
    return;
  }
  outcome.result = result;
  double start = threadCpuSeconds();
  for (auto _ : state) {
    if (!engine->call(result)) {
      state.SkipWithError((engineName + ": " + result).c_str());
      return;
    }
  }
  outcome.seconds = (threadCpuSeconds() - start) / static_cast<double>(state.iterations());
  outcome.runs.push_back(outcome.seconds);
  auto& row = outcomes()[script];
  auto duk = row.find("duktape");
  if (engineName == "kel" && duk != row.end() && duk->second.seconds > 0) {
    state.counters["vs_duktape"] = outcome.seconds / duk->second.seconds;
  }
  state.SetLabel("result " + result);
}

std::map<std::string, std::string> loadScripts() {
  std::map<std::string, std::string> scripts;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(ORV_KEL_BENCH_DIR, ec)) {
    if (entry.path().extension() != ".js") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    scripts[entry.path().stem().string()] = text.str();
  }
  if (ec) std::fprintf(stderr, "bench_kel: cannot read %s: %s\n", ORV_KEL_BENCH_DIR, ec.message().c_str());
  return scripts;
}

void printSummary() {
  std::printf("\n%-16s %12s %12s %8s  %s\n", "script", "kel ms", "duktape ms", "ratio", "note");
  for (const auto& [script, row] : outcomes()) {
    auto get = [&](const char* engine) {
      auto it = row.find(engine);
      return it != row.end() ? it->second : Outcome{};
    };
    Outcome kel = get("kel");
    Outcome duk = get("duktape");
    kel.seconds = kel.median();
    duk.seconds = duk.median();
    std::string note;
    if (!kel.skipped.empty()) note = "kel: " + kel.skipped;
    if (!duk.skipped.empty()) note += (note.empty() ? "" : "; ") + std::string("duktape: ") + duk.skipped;
    if (note.empty() && kel.result != duk.result && kel.seconds > 0 && duk.seconds > 0) {
      note = "results differ: kel " + kel.result + ", duktape " + duk.result;
    }
    auto ms = [](double s) { return s > 0 ? std::to_string(s * 1e3).substr(0, 9) : std::string("-"); };
    std::string ratio = kel.seconds > 0 && duk.seconds > 0 ? std::to_string(kel.seconds / duk.seconds).substr(0, 5) : "-";
    std::printf("%-16s %12s %12s %8s  %s\n", script.c_str(), ms(kel.seconds).c_str(), ms(duk.seconds).c_str(),
                ratio.c_str(), note.c_str());
  }
}

// --once=<engine>/<script>: loads the script and calls bench() once.
int runOnce(const std::string& spec, const std::map<std::string, std::string>& scripts) {
  size_t slash = spec.find('/');
  std::string engineName = spec.substr(0, slash);
  std::string script = slash == std::string::npos ? "" : spec.substr(slash + 1);
  auto it = scripts.find(script);
  if (it == scripts.end()) {
    std::fprintf(stderr, "bench_kel: no script %s\n", script.c_str());
    return 2;
  }
  std::unique_ptr<Engine> engine = makeEngine(engineName);
  std::string error = engine->load(script, it->second);
  std::string result;
  if (!error.empty() || !engine->call(result)) {
    std::fprintf(stderr, "bench_kel: %s\n", error.empty() ? result.c_str() : error.c_str());
    return 1;
  }
  std::printf("%s\n", result.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> scripts = loadScripts();
  for (int i = 1; i < argc; i++) {
    if (std::strncmp(argv[i], "--once=", 7) == 0) return runOnce(argv[i] + 7, scripts);
  }
  std::vector<std::string> engines;
#ifdef ORV_HAVE_DUKTAPE
  engines.push_back("duktape");
#endif
  engines.push_back("kel");
  for (const auto& [script, text] : scripts) {
    for (const std::string& engine : engines) {
      std::string name = engine + "/" + script;
      benchmark::RegisterBenchmark(name.c_str(), [engine, script = script, text = text](benchmark::State& state) {
        runScript(state, engine, script, text);
      })->Unit(benchmark::kMillisecond);
    }
  }
  std::vector<char*> args(argv, argv + argc);
  bool interleavingGiven = false;
  bool repetitionsGiven = false;
  for (int i = 1; i < argc; i++) {
    if (std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0) interleavingGiven = true;
    if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) repetitionsGiven = true;
  }
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  static char repetitions[] = "--benchmark_repetitions=5";
  if (!interleavingGiven) args.push_back(interleave);
  if (!repetitionsGiven) args.push_back(repetitions);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printSummary();
  return 0;
}
