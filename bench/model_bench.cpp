// The value model's hot paths side by side with the standard library doing
// the same job: copying a value, finding an attribute by name, sharing and
// releasing a counted reference (from one and two threads), and escaping a
// large text as a JSON string.
//   build/bin/bench_model --benchmark_min_time=0.2
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#if __has_include(<rapidjson/writer.h>)
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#define HAVE_RAPIDJSON 1
#endif

#include "model/any.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

const char* kText = "a directory attribute value of ordinary length";

void BM_AnyCopyString(benchmark::State& state) {
  Any source(kText);
  for (auto _ : state) {
    Any copy(source);
    benchmark::DoNotOptimize(copy.getString());
  }
}
BENCHMARK(BM_AnyCopyString);

void BM_StdStringCopy(benchmark::State& state) {
  std::string source(kText);
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_StdStringCopy);

void BM_AnyCopyInt(benchmark::State& state) {
  Any source(42LL);
  for (auto _ : state) {
    Any copy(source);
    benchmark::DoNotOptimize(copy.getInt64());
  }
}
BENCHMARK(BM_AnyCopyInt);

std::vector<std::string> keyNames(int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; i++) names.push_back("attribute." + std::to_string(i));
  return names;
}

void BM_AttributesLookup(benchmark::State& state) {
  int n = (int)state.range(0);
  std::vector<std::string> names = keyNames(n);
  Attributes attrs;
  for (const auto& name : names) attrs.setAttribute(name.c_str(), "value");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(attrs.getAttribute(names[i].c_str()));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_AttributesLookup)->Arg(10)->Arg(1000);

void BM_UnorderedMapLookup(benchmark::State& state) {
  int n = (int)state.range(0);
  std::vector<std::string> names = keyNames(n);
  std::unordered_map<std::string, std::unique_ptr<Any>> map;
  for (const auto& name : names) map.emplace(name, std::make_unique<Any>("value"));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(names[i]));
    if (++i == names.size()) i = 0;
  }
}
BENCHMARK(BM_UnorderedMapLookup)->Arg(10)->Arg(1000);

ObjRef* sharedRef() {
  static ObjRef* ref = new ObjRef(new Any(1));
  return ref;
}

void BM_ObjRefShareRelease(benchmark::State& state) {
  ObjRef* root = sharedRef();
  for (auto _ : state) {
    ObjRef copy(*root);
    benchmark::DoNotOptimize(copy.getTarget());
  }
}
BENCHMARK(BM_ObjRefShareRelease)->Threads(1)->Threads(2);

void BM_SharedPtrCopy(benchmark::State& state) {
  static std::shared_ptr<Any> root = std::make_shared<Any>(1);
  for (auto _ : state) {
    std::shared_ptr<Any> copy(root);
    benchmark::DoNotOptimize(copy.get());
  }
}
BENCHMARK(BM_SharedPtrCopy)->Threads(1)->Threads(2);

// About 1 MB of mixed text: mostly ASCII words, with quotes, line breaks,
// accented letters and a few characters outside the basic plane.
std::string megabyteText() {
  const char* pieces[] = {"plain words and numbers 12345 ", "\"quoted\" ", "line\n", "caf\xC3\xA9 ",
                          "\xE2\x82\xAC ", "\xF0\x9F\x98\x80 ", "tab\there "};
  const int weights[] = {20, 2, 2, 2, 1, 1, 1};
  std::string text;
  while (text.size() < (1 << 20)) {
    for (int p = 0; p < 7; p++) {
      for (int w = 0; w < weights[p]; w++) text += pieces[p];
    }
  }
  text.resize(1 << 20);
  while (!text.empty() && (unsigned char)text.back() >= 0x80) text.pop_back();  // whole characters only
  return text;
}

void BM_EscapeJSONString1MB(benchmark::State& state) {
  Any value(megabyteText().c_str());
  for (auto _ : state) {
    char* escaped = value.escapeJSONString();
    benchmark::DoNotOptimize(escaped);
    free(escaped);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (1 << 20));
}
BENCHMARK(BM_EscapeJSONString1MB);

void BM_StdStringCopy1MB(benchmark::State& state) {
  std::string text = megabyteText();
  for (auto _ : state) {
    std::string copy(text);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (1 << 20));
}
BENCHMARK(BM_StdStringCopy1MB);

#ifdef HAVE_RAPIDJSON
void BM_RapidJsonString1MB(benchmark::State& state) {
  std::string text = megabyteText();
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.data(), (rapidjson::SizeType)text.size());
    benchmark::DoNotOptimize(buffer.GetString());
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (1 << 20));
}
BENCHMARK(BM_RapidJsonString1MB);
#endif

}  // namespace

BENCHMARK_MAIN();
