// The Java bridge measured inside a real VM: the Java loops of
// com.vesk.orvanex.tests.jni.JniBench time n calls in the thread's CPU time (so that
// other load on the machine does not count), and
// each figure is reported in ns per call beside the floor, the cost of a
// trivial registered native measured in the same run.
#include <benchmark/benchmark.h>
#include <jni.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/jvm_handles.h"
#include "jni/native_registry.h"
#include "model/attributes.h"
#include "wire/model_xlators.h"

namespace {

JNIEnv* env = nullptr;
jclass bench = nullptr;
double floorNs = 0;

jint nop(JNIEnv*, jclass, jint x) { return x + 1; }

jobject attributesRoundTrip(JNIEnv* e, jclass, jobject a) {
  JavaThreadScope scope(e);
  std::unique_ptr<Attributes> attrs(unmakeAttributes(e, a));
  return attrs != nullptr ? makeAttributes(e, attrs.get()) : nullptr;
}

std::unique_ptr<Attributes> lastNative;

jint attributesFromJava(JNIEnv* e, jclass, jobject a) {
  JavaThreadScope scope(e);
  lastNative.reset(unmakeAttributes(e, a));
  return lastNative != nullptr ? lastNative->size() : -1;
}

jobject attributesToJava(JNIEnv* e, jclass) {
  JavaThreadScope scope(e);
  return makeAttributes(e, lastNative.get());
}

std::string buildDir() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string p(path);
  p = p.substr(0, p.rfind('/'));   // bin
  return p.substr(0, p.rfind('/'));  // the build tree
}

bool startVm() {
  const std::string b = buildDir();
  std::vector<std::string> opts = {"-Djava.class.path=" + b + "/jars/orvanex.jar:" + b + "/jars/orvagent.jar:" + b +
                                       "/jars/orvtests.jar:" + b + "/home/lib/thirdparty/commons-logging.jar",
                                   // The heap is committed and touched up front: otherwise the
                                   // first-touch page faults of a growing heap (half the time of
                                   // a conversion that allocates in Java) are measured instead of
                                   // the bridge, which runs in a long-lived, warm VM.
                                   "-Xrs", "-Xms256m", "-Xmx256m", "-XX:+AlwaysPreTouch"};
  std::vector<JavaVMOption> options(opts.size());
  for (size_t i = 0; i < opts.size(); ++i) options[i].optionString = const_cast<char*>(opts[i].c_str());
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  JavaVM* vm = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return false;
  _thisVM = vm;
  _initialEnv = env;
  registerModelXlators();
  if (findCommonClassesAndMethods(env) != 0 || registerNativeMethods(env) != 0) return false;
  jclass cls = env->FindClass("com/vesk/orvanex/tests/jni/JniBench");
  if (cls == nullptr) return false;
  const JNINativeMethod methods[] = {
      {const_cast<char*>("nop"), const_cast<char*>("(I)I"), reinterpret_cast<void*>(nop)},
      {const_cast<char*>("attributesRoundTrip"),
       const_cast<char*>("(Lcom/vesk/orvanex/Attributes;)Lcom/vesk/orvanex/Attributes;"),
       reinterpret_cast<void*>(attributesRoundTrip)},
      {const_cast<char*>("attributesFromJava"), const_cast<char*>("(Lcom/vesk/orvanex/Attributes;)I"),
       reinterpret_cast<void*>(attributesFromJava)},
      {const_cast<char*>("attributesToJava"), const_cast<char*>("()Lcom/vesk/orvanex/Attributes;"),
       reinterpret_cast<void*>(attributesToJava)},
  };
  if (env->RegisterNatives(cls, methods, 4) != JNI_OK) return false;
  bench = static_cast<jclass>(env->NewGlobalRef(cls));
  return true;
}

// n calls of the Java loop `method`, in ns per call.
double timeLoop(const char* method, int n) {
  jmethodID m = env->GetStaticMethodID(bench, method, "(I)J");
  const jlong ns = env->CallStaticLongMethod(bench, m, n);
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return -1;
  }
  return static_cast<double>(ns) / n;
}

void run(benchmark::State& state, const char* method, int batch) {
  (void)timeLoop(method, batch);  // warm-up: let the JIT compile the loop
  double total = 0;
  long long calls = 0;
  for (auto _ : state) {
    total += timeLoop(method, batch) * batch;
    calls += batch;
  }
  state.counters["ns_per_call"] = total / static_cast<double>(calls);
  state.counters["floor_ns_per_call"] = floorNs;
}

void BM_Floor(benchmark::State& state) { run(state, "floor", 100000); }
void BM_CAnyMapPutGet(benchmark::State& state) { run(state, "cAnyMapPutGet", 10000); }
void BM_KelMapCImplPutGet(benchmark::State& state) { run(state, "kelMapPutGet", 10000); }
void BM_Attributes100RoundTrip(benchmark::State& state) { run(state, "attributes100RoundTrip", 200); }
void BM_Attributes100FromJava(benchmark::State& state) { run(state, "attributes100FromJava", 200); }
void BM_Attributes100ToJava(benchmark::State& state) { run(state, "attributes100ToJava", 200); }
void BM_ExecuteExpression(benchmark::State& state) { run(state, "executeExpression", 10000); }

}  // namespace

BENCHMARK(BM_Floor)->Iterations(20);
BENCHMARK(BM_CAnyMapPutGet)->Iterations(20);
BENCHMARK(BM_KelMapCImplPutGet)->Iterations(20);
BENCHMARK(BM_Attributes100RoundTrip)->Iterations(20);
BENCHMARK(BM_Attributes100FromJava)->Iterations(20);
BENCHMARK(BM_Attributes100ToJava)->Iterations(20);
BENCHMARK(BM_ExecuteExpression)->Iterations(20);

int main(int argc, char** argv) {
  setLog("/dev/null");
  if (!startVm()) {
    fprintf(stderr, "bench_jni: cannot start the Java VM with the built jars\n");
    return 1;
  }
  (void)timeLoop("floor", 1000000);
  floorNs = timeLoop("floor", 1000000);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
