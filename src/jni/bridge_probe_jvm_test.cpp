// The bridge's plumbing and conversions in a real JVM: the checks are written
// in Java (java/tests/com/vesk/orvanex/tests/jni) and reach the converters and
// workers through the probe natives below. One VM per test process.
#include <gtest/gtest.h>
#include <jni.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "jni/bridge_jvm_harness.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/decode_list.h"
#include "jni/java_env.h"
#include "jni/java_exceptions.h"
#include "jni/java_string.h"
#include "jni/java_workers.h"
#include "jni/jvm_handles.h"
#include "jni/native_registry.h"
#include "kel/date_zone_hooks.h"
#include "model/acl.h"
#include "model/any.h"
#include "model/attributes.h"
#include "model/dir_name.h"
#include "model/dir_name_entry.h"
#include "runtime/deferred_op.h"
#include "testing/test_util.h"
#include "wire/model_xlators.h"

namespace {

jobject roundTrip(JNIEnv* env, jclass, jobject o) {
  Any* any = nullptr;
  int rc = toCObject(env, o, &any);
  if (rc != 0) {
    log(0, "probe: toCObject failed: %d", rc);
    return nullptr;
  }
  std::unique_ptr<Any> owned(any);
  jobject out = nullptr;
  rc = toJavaObject(env, &out, any);
  if (rc != 0) {
    log(0, "probe: toJavaObject failed: %d", rc);
    return nullptr;
  }
  return out;
}

jint nativeType(JNIEnv* env, jclass, jobject o) {
  Any* any = nullptr;
  if (toCObject(env, o, &any) != 0 || any == nullptr) return -1;
  const int t = any->getType();
  delete any;
  return t;
}

jint toCStatus(JNIEnv* env, jclass, jobject o) {
  Any* any = nullptr;
  const int rc = toCObject(env, o, &any);
  delete any;
  return rc;
}

jobject attributeRoundTrip(JNIEnv* env, jclass, jobject a) {
  std::unique_ptr<Any> any(unmakeObjectFromAny(env, a));
  return any != nullptr ? makeObjectFromAny(env, any.get()) : nullptr;
}

jobject attributesRoundTrip(JNIEnv* env, jclass, jobject a) {
  std::unique_ptr<Attributes> attrs(unmakeAttributes(env, a));
  return attrs != nullptr ? makeAttributes(env, attrs.get()) : nullptr;
}

jobject parseDirName(JNIEnv* env, jclass, jstring text) {
  std::string t;
  if (!javaStringToUtf8(env, text, &t)) return nullptr;
  int error = 0;
  std::unique_ptr<DirName> n(DirName::createFromString(t.c_str(), &error));
  return n != nullptr ? makeDirName(env, n.get()) : nullptr;
}

jstring nativeTextOf(JNIEnv* env, Translatable* t) {
  char* s = t != nullptr ? t->toString(nullptr) : nullptr;
  jstring out = newJavaString(env, s);
  free(s);
  return out;
}

jstring dirNameText(JNIEnv* env, jclass, jobject name) {
  std::unique_ptr<DirName> n(unmakeDirName(env, name));
  return nativeTextOf(env, n.get());
}

jstring canonicalDirName(JNIEnv* env, jclass, jstring text) {
  std::string t;
  if (!javaStringToUtf8(env, text, &t)) return nullptr;
  int error = 0;
  std::unique_ptr<DirName> n(DirName::createFromString(t.c_str(), &error));
  return nativeTextOf(env, n.get());
}

jobject aclRoundTrip(JNIEnv* env, jclass, jobject acl) {
  std::unique_ptr<Acl> a(unmakeAcl(env, acl));
  return makeAcl(env, a.get());
}

jstring nativeBytes(JNIEnv* env, jclass, jstring s) {
  std::string t;
  if (!javaStringToUtf8(env, s, &t)) return nullptr;
  std::string hex;
  char b[3];
  for (unsigned char c : t) {
    snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  return env->NewStringUTF(hex.c_str());
}

jstring fromNativeBytes(JNIEnv* env, jclass, jstring hex) {
  std::string h;
  if (!javaStringToUtf8(env, hex, &h)) return nullptr;
  std::string bytes;
  for (size_t i = 0; i + 1 < h.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return newJavaString(env, bytes.c_str());
}

jobject int64Attribute(JNIEnv* env, jclass, jlong v, jint subtype) {
  Any a(static_cast<long long>(v));
  a.setSubtype(subtype);
  jobject out = nullptr;
  return anyToJavaAttribute(env, &a, &out) == 0 ? out : nullptr;
}

jobject int64Object(JNIEnv* env, jclass, jlong v, jint subtype) {
  Any a(static_cast<long long>(v));
  a.setSubtype(subtype);
  jobject out = nullptr;
  return toJavaObject(env, &out, &a) == 0 ? out : nullptr;
}

void registerClass(JNIEnv* env, jclass, jint id, jclass cls) { addDecodeListEntry(env, id, cls); }

jobject exceptionFor(JNIEnv* env, jclass, jint code, jstring key, jstring text) {
  std::string k, t;
  const bool hasKey = javaStringToUtf8(env, key, &k);
  const bool hasText = javaStringToUtf8(env, text, &t);
  return makeExtDirectoryException(env, code, hasKey ? k.c_str() : nullptr, hasText ? t.c_str() : nullptr, 0, nullptr);
}

jint testExceptionOf(JNIEnv* env, jclass, jthrowable t) {
  env->Throw(t);
  return ORV_TEST_EXCEPTION(env);
}

jint callAndTest(JNIEnv* env, jclass, jobject r) {
  jclass cls = env->GetObjectClass(r);
  jmethodID run = env->GetMethodID(cls, "run", "()V");
  env->DeleteLocalRef(cls);
  env->CallVoidMethod(r, run);
  return ORV_TEST_EXCEPTION(env);
}

void runRunnable(JNIEnv* env, DeferredOp* op) {
  auto r = static_cast<jobject>(op->object);
  jclass cls = env->GetObjectClass(r);
  jmethodID run = env->GetMethodID(cls, "run", "()V");
  env->CallVoidMethod(r, run);
  (void)testAndLogException(env, "probe runnable threw");
  deleteBridgeGlobalRef(env, r);
}

jboolean runOnWorker(JNIEnv* env, jclass, jobject r, jint w) {
  jobject g = newBridgeGlobalRef(env, r);
  return queueJavaWork(JavaTarget::kOrvEvent, w, runRunnable, new DeferredOp(g)) == 0 ? JNI_TRUE : JNI_FALSE;
}

void queuePropertiesChanged(JNIEnv* env, jclass, jobject listener) {
  // The listener stays referenced for the life of the process, as the
  // agent's listeners do.
  queueEventToJavaWorker(env->NewGlobalRef(listener));
}

void holdAndRelease(JNIEnv* env, jclass, jobject o) { orv_DeleteObjectRef(newBridgeGlobalRef(env, o)); }
jlong liveGlobals(JNIEnv*, jclass) { return liveBridgeGlobalRefs(); }
jboolean syncWorkers(JNIEnv*, jclass, jint ms) { return syncJavaWorkers(ms) ? JNI_TRUE : JNI_FALSE; }

jint threadHashOf(JNIEnv* env, jclass, jstring key) {
  std::string k;
  (void)javaStringToUtf8(env, key, &k);
  return threadHash(k.c_str());
}

jint workerCount(JNIEnv*, jclass) { return javaDispatchThreadCount(); }

jboolean attachFromPlainThread(JNIEnv*, jclass) {
  bool got = true;
  pthread_t t;
  auto body = [](void* p) -> void* {
    *static_cast<bool*>(p) = orvJniAttach() != nullptr;
    return nullptr;
  };
  if (pthread_create(&t, nullptr, body, &got) != 0) return JNI_TRUE;
  pthread_join(t, nullptr);
  return got ? JNI_TRUE : JNI_FALSE;
}

jboolean attachInNative(JNIEnv* env, jclass) {
  JavaThreadScope scope(env);
  return orvJniAttach() == env ? JNI_TRUE : JNI_FALSE;
}

void failAssertion(JNIEnv*, jclass) { orv_assert(!"probe assertion"); }

jint nop(JNIEnv*, jclass, jint x) { return x + 1; }

jstring zoneTm(JNIEnv* env, jclass, jboolean utc, jstring zone, jlong seconds) {
  std::string z;
  const bool hasZone = javaStringToUtf8(env, zone, &z);
  DateZoneHooks hooks = dateZoneHooks();
  struct tm tm {};
  char abbreviation[DateZoneHooks::kAbbreviationSize] = "";
  int offset = 0;
  if (hooks.buildTm == nullptr ||
      hooks.buildTm(utc == JNI_TRUE, hasZone ? z.c_str() : nullptr, seconds, &tm, abbreviation, &offset) != 0) {
    return nullptr;
  }
  char text[128];
  snprintf(text, sizeof text, "%s %d %04d-%02d-%02d %02d:%02d:%02d %d %d", abbreviation, offset, tm.tm_year + 1900,
           tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday, tm.tm_yday);
  return env->NewStringUTF(text);
}

jlong zoneTime(JNIEnv* env, jclass, jstring zone, jint year, jint mon, jint day, jint hour, jint min, jint sec) {
  std::string z;
  const bool hasZone = javaStringToUtf8(env, zone, &z);
  DateZoneHooks hooks = dateZoneHooks();
  struct tm tm {};
  tm.tm_year = year;
  tm.tm_mon = mon;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = min;
  tm.tm_sec = sec;
  int64_t out = 0;
  if (hooks.buildTime == nullptr || hooks.buildTime(hasZone ? z.c_str() : nullptr, &tm, &out) != 0) return INT64_MIN;
  return out;
}

const JNINativeMethod kProbe[] = {
    {const_cast<char*>("roundTrip"), const_cast<char*>("(Ljava/lang/Object;)Ljava/lang/Object;"), (void*)roundTrip},
    {const_cast<char*>("nativeType"), const_cast<char*>("(Ljava/lang/Object;)I"), (void*)nativeType},
    {const_cast<char*>("attributeRoundTrip"), const_cast<char*>("(Lcom/vesk/orvanex/Attribute;)Lcom/vesk/orvanex/Attribute;"), (void*)attributeRoundTrip},
    {const_cast<char*>("attributesRoundTrip"), const_cast<char*>("(Lcom/vesk/orvanex/Attributes;)Lcom/vesk/orvanex/Attributes;"), (void*)attributesRoundTrip},
    {const_cast<char*>("parseDirName"), const_cast<char*>("(Ljava/lang/String;)Lcom/vesk/orvanex/DirName;"), (void*)parseDirName},
    {const_cast<char*>("dirNameText"), const_cast<char*>("(Lcom/vesk/orvanex/DirName;)Ljava/lang/String;"), (void*)dirNameText},
    {const_cast<char*>("canonicalDirName"), const_cast<char*>("(Ljava/lang/String;)Ljava/lang/String;"), (void*)canonicalDirName},
    {const_cast<char*>("aclRoundTrip"), const_cast<char*>("(Lcom/vesk/orvanex/Acl;)Lcom/vesk/orvanex/Acl;"), (void*)aclRoundTrip},
    {const_cast<char*>("nativeBytes"), const_cast<char*>("(Ljava/lang/String;)Ljava/lang/String;"), (void*)nativeBytes},
    {const_cast<char*>("fromNativeBytes"), const_cast<char*>("(Ljava/lang/String;)Ljava/lang/String;"), (void*)fromNativeBytes},
    {const_cast<char*>("int64Attribute"), const_cast<char*>("(JI)Ljava/lang/Object;"), (void*)int64Attribute},
    {const_cast<char*>("int64Object"), const_cast<char*>("(JI)Ljava/lang/Object;"), (void*)int64Object},
    {const_cast<char*>("registerClass"), const_cast<char*>("(ILjava/lang/Class;)V"), (void*)registerClass},
    {const_cast<char*>("toCStatus"), const_cast<char*>("(Ljava/lang/Object;)I"), (void*)toCStatus},
    {const_cast<char*>("exceptionFor"), const_cast<char*>("(ILjava/lang/String;Ljava/lang/String;)Ljava/lang/Throwable;"), (void*)exceptionFor},
    {const_cast<char*>("testExceptionOf"), const_cast<char*>("(Ljava/lang/Throwable;)I"), (void*)testExceptionOf},
    {const_cast<char*>("callAndTest"), const_cast<char*>("(Ljava/lang/Runnable;)I"), (void*)callAndTest},
    {const_cast<char*>("runOnWorker"), const_cast<char*>("(Ljava/lang/Runnable;I)Z"), (void*)runOnWorker},
    {const_cast<char*>("queuePropertiesChanged"), const_cast<char*>("(Ljava/lang/Object;)V"), (void*)queuePropertiesChanged},
    {const_cast<char*>("holdAndRelease"), const_cast<char*>("(Ljava/lang/Object;)V"), (void*)holdAndRelease},
    {const_cast<char*>("liveGlobals"), const_cast<char*>("()J"), (void*)liveGlobals},
    {const_cast<char*>("syncWorkers"), const_cast<char*>("(I)Z"), (void*)syncWorkers},
    {const_cast<char*>("threadHash"), const_cast<char*>("(Ljava/lang/String;)I"), (void*)threadHashOf},
    {const_cast<char*>("workerCount"), const_cast<char*>("()I"), (void*)workerCount},
    {const_cast<char*>("attachFromPlainThread"), const_cast<char*>("()Z"), (void*)attachFromPlainThread},
    {const_cast<char*>("attachInNative"), const_cast<char*>("()Z"), (void*)attachInNative},
    {const_cast<char*>("failAssertion"), const_cast<char*>("()V"), (void*)failAssertion},
    {const_cast<char*>("zoneTm"), const_cast<char*>("(ZLjava/lang/String;J)Ljava/lang/String;"), (void*)zoneTm},
    {const_cast<char*>("zoneTime"), const_cast<char*>("(Ljava/lang/String;IIIIII)J"), (void*)zoneTime},
    {const_cast<char*>("nop"), const_cast<char*>("(I)I"), (void*)nop},
};

std::unique_ptr<orvtest::TempDir> home;

}  // namespace

JNIEnv* startBridgeVm(const std::vector<std::string>& extraOptions, int workers) {
  home = std::make_unique<orvtest::TempDir>();
  orvtest::writeFile(home->file("orvanex.properties"),
                     "java_dispatch_threads: " + std::to_string(workers) + "\nlog_java: DEBUG\n");
  setLog(home->file("bridge.log").c_str());
  s_setOrvanexPropertiesPath(home->file("orvanex.properties").c_str());
  (void)s_testOrvanexProperties(false, nullptr);
  registerModelXlators();

  const std::string built = ORV_BINARY_DIR;
  std::vector<std::string> opts = {
      "-Djava.class.path=" + built + "/jars/orvanex.jar:" + built + "/jars/orvagent.jar:" + built +
          "/jars/orvtests.jar:" + built + "/home/lib/thirdparty/commons-logging.jar",
      "-Xrs", "-Xmx256m", "-Djava.util.logging.config.file=/dev/null"};
  for (const std::string& o : extraOptions) opts.push_back(o);
  std::vector<JavaVMOption> options(opts.size());
  for (size_t i = 0; i < opts.size(); ++i) options[i].optionString = const_cast<char*>(opts[i].c_str());
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_1_8;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  args.ignoreUnrecognized = JNI_FALSE;
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return nullptr;
  _thisVM = vm;
  _initialEnv = env;
  _orvanex_java_loaded = true;
  if (findCommonClassesAndMethods(env) != 0) return nullptr;
  (void)registerNativeMethods(env);
  jclass probe = env->FindClass("com/vesk/orvanex/tests/jni/NativeProbe");
  if (probe == nullptr || env->RegisterNatives(probe, kProbe, sizeof kProbe / sizeof kProbe[0]) != JNI_OK) {
    env->ExceptionDescribe();
    return nullptr;
  }
  env->DeleteLocalRef(probe);
  return env;
}

std::string runJavaChecks(JNIEnv* env, const char* className) {
  jclass cls = env->FindClass(className);
  if (cls == nullptr) {
    env->ExceptionDescribe();
    return std::string("no class ") + className;
  }
  jmethodID run = env->GetStaticMethodID(cls, "run", "()Ljava/lang/String;");
  if (run == nullptr) {
    env->ExceptionDescribe();
    return "no run()";
  }
  // The checks run in a native frame that registered its environment, as a
  // native of the Java API would.
  JavaThreadScope scope(env);
  auto report = static_cast<jstring>(env->CallStaticObjectMethod(cls, run));
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return "run() threw";
  }
  std::string out;
  (void)javaStringToUtf8(env, report, &out);
  return out;
}

TEST(BridgeJvm, Conversions) {
  JNIEnv* env = startBridgeVm({}, 1);
  ASSERT_NE(env, nullptr);
  const std::string report = runJavaChecks(env, "com/vesk/orvanex/tests/jni/ConversionTests");
  EXPECT_EQ(report, "");
  if (!report.empty()) std::cerr << orvtest::readFile(home->file("bridge.log"));
}

TEST(BridgeJvm, WorkersExceptionsAndThreads) {
  JNIEnv* env = startBridgeVm({}, 3);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(runJavaChecks(env, "com/vesk/orvanex/tests/jni/BridgeTests"), "");
  const std::string log = orvtest::readFile(home->file("bridge.log"));
  EXPECT_NE(log.find("Starting 3 java dispatch threads"), std::string::npos);
  EXPECT_NE(log.find("Unexpected Java exception at orv-java"), std::string::npos);
  EXPECT_NE(log.find("java.lang.RuntimeException: from a callback"), std::string::npos);
  dumpJavaBindingPerf();
  EXPECT_NE(orvtest::readFile(home->file("bridge.log")).find("== Java queue: deletes = "), std::string::npos);
}

// 100,000 natives under -Xcheck:jni: a native that leaks local references
// past the VM's capacity makes -Xcheck:jni warn on standard error, which this
// test captures; global references are counted by the bridge.
TEST(BridgeJvm, NoReferenceLeak) {
  orvtest::TempDir dir;
  const std::string err = dir.file("stderr");
  fflush(stderr);
  const int saved = dup(2);
  FILE* f = freopen(err.c_str(), "w", stderr);
  ASSERT_NE(f, nullptr);
  JNIEnv* env = startBridgeVm({"-Xcheck:jni", "-XX:MaxJNILocalCapacity=64"}, 1);
  ASSERT_NE(env, nullptr);
  const std::string report = runJavaChecks(env, "com/vesk/orvanex/tests/jni/ReferenceLeakTests");
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(report, "");
  const std::string text = orvtest::readFile(err);
  EXPECT_EQ(text.find("JNI local refs"), std::string::npos) << text.substr(0, 4000);
  EXPECT_EQ(text.find("FATAL ERROR in native method"), std::string::npos) << text.substr(0, 4000);
  EXPECT_EQ(text.find("WARNING in native method"), std::string::npos) << text.substr(0, 4000);
}

TEST(BridgeJvm, KelValueHandles) {
  JNIEnv* env = startBridgeVm({"-Xcheck:jni"}, 1);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(runJavaChecks(env, "com/vesk/orvanex/tests/jni/KelValueTests"), "");
  EXPECT_NE(orvtest::readFile(home->file("bridge.log")).find("Logic Error: CAnyArray.add() called with illegal value"),
            std::string::npos);
}

TEST(BridgeJvm, KelRunsFromJava) {
  // -Xcheck:jni reports a native's misuse on standard error, captured here.
  orvtest::TempDir dir;
  const std::string err = dir.file("stderr");
  fflush(stderr);
  const int saved = dup(2);
  FILE* f = freopen(err.c_str(), "w", stderr);
  ASSERT_NE(f, nullptr);
  JNIEnv* env = startBridgeVm({"-Xcheck:jni", "-Dorv.demo.kel=" ORV_SOURCE_DIR "/home/files/scripts/demo.kel"}, 2);
  ASSERT_NE(env, nullptr);
  const std::string report = runJavaChecks(env, "com/vesk/orvanex/tests/jni/KelRunTests");
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(report, "");
  const std::string text = orvtest::readFile(err);
  EXPECT_EQ(text.find("WARNING in native method"), std::string::npos) << text.substr(0, 4000);
  EXPECT_EQ(text.find("FATAL ERROR in native method"), std::string::npos) << text.substr(0, 4000);
  const std::string log = orvtest::readFile(home->file("bridge.log"));
  EXPECT_NE(log.find("There was an exception in callHelper"), std::string::npos);
  EXPECT_NE(log.find("JavaObject: Warning: There was an execution exception"), std::string::npos);
  if (!report.empty()) std::cerr << log.substr(log.size() > 20000 ? log.size() - 20000 : 0);
}

// The time-zone conversions kel dates get from Java, checked against
// java.time in the same VM.
TEST(BridgeJvm, TimeZoneHooks) {
  JNIEnv* env = startBridgeVm({}, 1);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(runJavaChecks(env, "com/vesk/orvanex/tests/jni/TimeZoneTests"), "");
}
