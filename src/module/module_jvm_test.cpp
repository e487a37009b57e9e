// The module entry with a real Java VM, one VM per test process: moduleMain
// on a start-up thread, the agent natives against the host stand-in, a Java
// module started with startJavaModule, and the properties natives.
#include <gtest/gtest.h>
#include <jni.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "host/host_globals.h"
#include "host/orvanex.h"
#include "jni/jvm_handles.h"
#include "module/agent_callbacks.h"
#include "module/agent_helper_natives.h"
#include "module/module_entry.h"
#include "testing/test_util.h"

namespace {

// Runs `fn` on a thread with a 16 MiB stack, as the host daemon runs its
// start-up, and waits for it. The thread detaches from the VM before it ends.
void runOnStartupThread(const std::function<void()>& fn) {
  struct Call {
    const std::function<void()>* fn;
  } call{&fn};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 16u << 20);
  pthread_t t;
  auto body = [](void* p) -> void* {
    (*static_cast<Call*>(p)->fn)();
    if (_thisVM != nullptr) _thisVM->DetachCurrentThread();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&t, &attr, body, &call), 0);
  pthread_attr_destroy(&attr);
  pthread_join(t, nullptr);
}

void link(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// A home with the built jars, the test jar in lib/boot, commons-logging, an
// alert catalog and the given configuration; the log goes to logs/test.log.
class JvmHome {
 public:
  explicit JvmHome(const std::string& properties) {
    const std::string built = ORV_BINARY_DIR;
    for (const char* d : {"bin", "lib", "lib/boot", "lib/thirdparty", "logs", "tmp"}) {
      EXPECT_EQ(mkdir(dir_.file(d).c_str(), 0755), 0) << d;
    }
    link(built + "/jars/orvanex.jar", dir_.file("bin/orvanex.jar"));
    link(built + "/jars/orvagent.jar", dir_.file("bin/orvagent.jar"));
    link(built + "/jars/orvtests.jar", dir_.file("lib/boot/orvtests.jar"));
    link(built + "/home/lib/thirdparty/commons-logging.jar", dir_.file("lib/thirdparty/commons-logging.jar"));
    orvtest::writeFile(dir_.file("alertcatalog"),
                       "probe.alert.long = The long text\nprobe.alert.short = Short\n"
                       "probe.alert.description = What it means\n");
    orvtest::writeFile(dir_.file("orvanex.properties"), properties);
    setLog(log().c_str());
    s_setOrvanexPropertiesPath(dir_.file("orvanex.properties").c_str());
    EXPECT_TRUE(s_testOrvanexProperties(false, nullptr));

    Orvanex& host = Orvanex::instance();
    host.setHome(dir_.path().c_str());
    host.setServes("probe.example");
    host.setServerMode("agent");
    host.setHostname("probe-host");
    host.setAuthenticates("LOCAL");
    host.setLocalAuthServices({"login", "ldap"});
    // A small VM: heap 16 + 32 + 200 MB.
    _perf_share_factor = 1.0;
    _perf_dh = 16;
    _perf_sh = 32;
    _perf_dm = 16;
    _perf_eden = 0.0;
  }

  const std::string& path() const { return dir_.path(); }
  std::string log() const { return dir_.file("logs/test.log"); }

 private:
  orvtest::TempDir dir_;
};

std::string callStaticString(JNIEnv* env, const char* className, const char* method) {
  jclass cls = env->FindClass(className);
  if (cls == nullptr) {
    env->ExceptionDescribe();
    return "(no class)";
  }
  jmethodID m = env->GetStaticMethodID(cls, method, "()Ljava/lang/String;");
  if (m == nullptr) {
    env->ExceptionDescribe();
    return "(no method)";
  }
  auto s = static_cast<jstring>(env->CallStaticObjectMethod(cls, m));
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return "(exception)";
  }
  std::string out;
  if (s != nullptr) {
    const char* chars = env->GetStringUTFChars(s, nullptr);
    out = chars;
    env->ReleaseStringUTFChars(s, chars);
  }
  return out;
}

std::string callMapper(JNIEnv* env, const char* method, const char* id) {
  jclass cls = alertDecoder->mapperClass();
  jmethodID m = env->GetMethodID(cls, method, "(Ljava/lang/String;)Ljava/lang/String;");
  jstring arg = env->NewStringUTF(id);
  auto s = static_cast<jstring>(env->CallObjectMethod(alertDecoder->mapper(), m, arg));
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    return "(exception)";
  }
  env->DeleteLocalRef(arg);
  if (s == nullptr) return "(null)";
  const char* chars = env->GetStringUTFChars(s, nullptr);
  std::string out = chars;
  env->ReleaseStringUTFChars(s, chars);
  return out;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ModuleJvm, StartsTheAgentAndAJavaModule) {
  JvmHome home("probe_setting: probe-value\nlog_java: INFO\n");
  std::string report;
  int mainResult = -2;
  int failedTables = -1;
  std::string longText, missingText;
  runOnStartupThread([&] {
    mainResult = moduleMain();
    if (mainResult != 0) return;
    JNIEnv* env = _initialEnv;
    // Every agent table matches its Java class (registering again is harmless).
    failedTables = registerAgentHelperNatives(env);

    Properties props;
    props.setProperty("class", "com.vesk.orvanex.tests.ProbeModule", 1);
    props.setProperty("color", "blue", 2);
    props.setProperty("color", "green", 3);  // the later entry wins
    EXPECT_EQ(startJavaModule("probe", &props), 0);
    report = callStaticString(env, "com/vesk/orvanex/tests/ProbeModule", "report");
    ASSERT_NE(alertDecoder, nullptr);
    ASSERT_NE(alertDecoder->mapper(), nullptr);
    longText = callMapper(env, "getLongMessage", "probe.alert");
    missingText = callMapper(env, "getShortMessage", "no.such.alert");
  });
  ASSERT_EQ(mainResult, 0) << orvtest::readFile(home.log());
  EXPECT_EQ(failedTables, 0);
  EXPECT_TRUE(_orvanex_java_loaded);
  EXPECT_NE(_AgentHelperClass, nullptr);
  EXPECT_EQ(_handleIdentifyFn, &handleIdentify);
  EXPECT_NE(_javaEventHandler, nullptr);

  const struct {
    const char* line;
  } want[] = {
      {"name=probe"},
      {"props={class=com.vesk.orvanex.tests.ProbeModule, color=green}"},
      {"hostname=probe-host"},
      {"serverMode=agent"},
      {"serves=probe.example"},
      {"authenticates=LOCAL"},
      {"localAuth=[login, ldap]"},
      {"property=probe-value"},
      {"missingProperty=null"},
      {"nullKeyProperty=null"},
      {"password=s3cret"},
      {"pairPassword=pair-s3cret"},
      {"missingPassword=null"},
      {"decoded=plain"},
      {"decodedNull=null"},
      {"validateLogin=null"},
      {"loginServiceUser=null"},
      {"allProperties.probe_setting=probe-value"},
      {"allProperties.class=com.vesk.orvanex.Attributes"},
  };
  for (const auto& w : want) EXPECT_TRUE(has(report, std::string(w.line) + "\n")) << w.line << "\n" << report;
  EXPECT_TRUE(has(report, "home=" + home.path() + "\n")) << report;

  EXPECT_TRUE(Orvanex::instance().isReady());
  int code = 0;
  EXPECT_EQ(Orvanex::instance().getModuleStatus(&code), "probe running");
  EXPECT_EQ(code, 7);
  EXPECT_EQ(Orvanex::instance().getThreadMap(), "probe-thread-map");
  EXPECT_EQ(longText, "The long text");
  EXPECT_EQ(missingText, "(null)");

  const std::string log = orvtest::readFile(home.log());
  for (const char* line : {"Using ZGC", "JVM Parameters: ", "    -Xrs", "    -Xmx248m", "    -Xms248m", "    abort",
                           "XS#6 { ", "Start java module: probe", "orvj: register native methods (env present)",
                           "Host: module status 7: probe running", "Host: task log: probe module started"}) {
    EXPECT_TRUE(has(log, line)) << line;
  }
  EXPECT_FALSE(has(log, "unable to register")) << log;
}

TEST(ModuleJvm, PropertiesNatives) {
  JvmHome home(
      "text_key: text value\n"
      "unicode_key: gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80\n"
      "int_key: 42\n"
      "bad_int_key: -5\n"
      "level_key: DEBUG\n"
      "bool_key: true\n"
      "double_key: 2.5\n"
      "dup_key: first\n"
      "dup_key: second\n");
  std::string report;
  int mainResult = -2;
  runOnStartupThread([&] {
    mainResult = moduleMain();
    if (mainResult != 0) return;
    report = callStaticString(_initialEnv, "com/vesk/orvanex/tests/PropertiesProbe", "run");
  });
  ASSERT_EQ(mainResult, 0) << orvtest::readFile(home.log());
  const char* want[] = {
      "test=true",
      "string=text value",
      "stringDefault=dflt",
      "stringNullDefault=null",
      "stringNullKey=dflt",
      "int=42",
      "intInvalid=-1",
      "intNullKey=-3",
      "level=2",
      "bool=true",
      "boolDefault=true",
      "double=2.5",
      "doubleNullKey=0.25",
      "all.text_key=text value",
      "all.text_key.type=7",
      "all.dup_key=second",
      "all.size=8",
  };
  for (const char* w : want) EXPECT_TRUE(has(report, std::string(w) + "\n")) << w << "\n" << report;
  // The four-byte character arrives whole (as a surrogate pair in Java,
  // which reports it in modified UTF-8 again).
  EXPECT_TRUE(has(report, "unicode=gr\xC3\xBC\xC3\x9F \xED\xA0\xBD\xED\xB8\x80\n")) << report;
}

}  // namespace
