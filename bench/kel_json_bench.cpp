// JSON.parse and JSON.stringify of a 10 MB document side by side with
// RapidJSON reading it into its DOM and writing it back, in the same run.
// The document is made here: records of texts (some with escapes and
// non-ASCII), integers, doubles, booleans, nulls and small nested arrays and
// objects, as exported inventories look.
//   build/bin/bench_kel_json --benchmark_min_time=1
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kel/kel_runner.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "model/any.h"

namespace {

const std::string& document() {
  static const std::string text = [] {
    std::string out = "[";
    unsigned seed = 12345;
    auto next = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return (seed >> 8) & 0xFFFFFF;
    };
    char buffer[512];
    for (int i = 0; out.size() < 10u * 1000 * 1000; i++) {
      if (i > 0) out += ",\n";
      std::snprintf(buffer, sizeof buffer,
                    "{\"id\": %d, \"name\": \"host-%06u.example\", \"owner\": \"J\\u00fcrgen \\\"ops\\\" M.\", "
                    "\"active\": %s, \"load\": %u.%03u, \"memory\": %u, \"tags\": [\"linux\", \"prod\", %u], "
                    "\"location\": {\"site\": \"site %u\", \"rack\": null, \"lat\": -%u.%05u}, "
                    "\"note\": \"first line\\nsecond line \\u20ac\"}",
                    i, next(), (next() & 1) != 0 ? "true" : "false", next() % 100, next() % 1000, next(), next() % 50,
                    next() % 20, next() % 90, next() % 100000);
      out += buffer;
    }
    out += "]";
    return out;
  }();
  return text;
}

void BM_KelJsonParse(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    Parser parser("JSON", text, nullptr, 1, 0, false);
    std::unique_ptr<Any> value(parser.parseJSON());
    if (!value) state.SkipWithError("the document did not parse");
    benchmark::DoNotOptimize(value.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_KelJsonParse)->Unit(benchmark::kMillisecond);

// The same without the release of the values (timed apart): how the time
// splits between building the values and freeing them.
void BM_KelJsonParseWithoutRelease(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    Parser parser("JSON", text, nullptr, 1, 0, false);
    std::unique_ptr<Any> value(parser.parseJSON());
    if (!value) state.SkipWithError("the document did not parse");
    state.PauseTiming();
    value.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_KelJsonParseWithoutRelease)->Unit(benchmark::kMillisecond);

// The whole script call: the text held by a variable, JSON.parse(text).
void BM_KelJsonParseScript(benchmark::State& state) {
  const std::string& text = document();
  KelRunner runner;
  MemoryFile out;
  std::string err;
  std::string quoted;
  {
    Any value(text.c_str());
    char* literal = value.escapeJSONString();
    quoted = literal;
    std::free(literal);
  }
  if (runner.runScript("var text = " + quoted + ";", "bench", false, out, err) != 0) {
    state.SkipWithError(err.c_str());
    return;
  }
  for (auto _ : state) {
    if (runner.runScript("var v = JSON.parse(text); v = null;", "bench", false, out, err) != 0) {
      state.SkipWithError(err.c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_KelJsonParseScript)->Unit(benchmark::kMillisecond);

void BM_RapidJsonParse(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse(text.data(), text.size());
    if (doc.HasParseError()) state.SkipWithError("the document did not parse");
    benchmark::DoNotOptimize(&doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_RapidJsonParse)->Unit(benchmark::kMillisecond);

// Correctly rounded numbers, as the kel reader reads them.
void BM_RapidJsonParseFullPrecision(benchmark::State& state) {
  const std::string& text = document();
  for (auto _ : state) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseFullPrecisionFlag>(text.data(), text.size());
    if (doc.HasParseError()) state.SkipWithError("the document did not parse");
    benchmark::DoNotOptimize(&doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_RapidJsonParseFullPrecision)->Unit(benchmark::kMillisecond);

void BM_KelJsonStringify(benchmark::State& state) {
  const std::string& text = document();
  Parser parser("JSON", text, nullptr, 1, 0, false);
  std::unique_ptr<Any> value(parser.parseJSON());
  if (!value) {
    state.SkipWithError("the document did not parse");
    return;
  }
  size_t bytes = 0;
  for (auto _ : state) {
    char* json = value->toJSON(nullptr);
    bytes = std::strlen(json);
    std::free(json);
  }
  state.counters["out_MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_KelJsonStringify)->Unit(benchmark::kMillisecond);

void BM_RapidJsonStringify(benchmark::State& state) {
  const std::string& text = document();
  rapidjson::Document doc;
  doc.Parse(text.data(), text.size());
  size_t bytes = 0;
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.counters["out_MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_RapidJsonStringify)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
