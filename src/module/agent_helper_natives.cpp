#include "module/agent_helper_natives.h"

#include <string>

#include "foundation/log.h"
#include "foundation/properties.h"
#include "host/orvanex.h"
#include "jni/java_exception.h"
#include "jni/java_string.h"
#include "jni/jvm_handles.h"
#include "jni/convert.h"
#include "jni/utf_chars.h"
#include "model/attributes.h"

namespace {

// Buffer sizes the host's password calls are given.
constexpr int kPasswordLen = 132;
constexpr int kPairPasswordLen = 8192;

// The natives whose host or bridge counterparts are not there yet log that
// they were called and give Java the neutral answer.
void notYet(const char* what) { log(_debug_java, LOG_DEBUG, 0, 0, "Java: %s is not available yet", what); }

// ---- AgentHelper

void setPassword2(JNIEnv* env, jclass, jstring key, jstring value) {
  UtfChars k(env, key);
  UtfChars v(env, value);
  if (k.get() == nullptr || v.get() == nullptr) return;
  Orvanex::instance().setPassword(k.get(), v.get());
}

void setPassword3(JNIEnv* env, jclass, jstring a, jstring b, jstring c) {
  UtfChars ua(env, a);
  UtfChars ub(env, b);
  UtfChars uc(env, c);
  if (ua.get() == nullptr || ub.get() == nullptr || uc.get() == nullptr) return;
  Orvanex::instance().setPassword(ua.get(), ub.get(), uc.get());
}

jstring getPassword1(JNIEnv* env, jclass, jstring key) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return nullptr;
  char buf[kPasswordLen];
  if (Orvanex::instance().getPassword(k.get(), buf, sizeof buf) != 0) return nullptr;
  return newJavaString(env, buf);
}

jstring getPassword2(JNIEnv* env, jclass, jstring a, jstring b) {
  UtfChars ua(env, a);
  UtfChars ub(env, b);
  if (ua.get() == nullptr || ub.failed()) return nullptr;
  // A large value: kept off the stack of a Java thread.
  std::string buf(kPairPasswordLen, '\0');
  if (Orvanex::instance().getPassword(ua.get(), ub.get(), buf.data(), buf.size()) != 0) return nullptr;
  return newJavaString(env, buf.c_str());
}

jobjectArray validateLogin(JNIEnv*, jclass, jstring, jstring) {
  notYet("AgentHelper.validateLogin");
  return nullptr;
}

jobjectArray getNativeGroups(JNIEnv*, jclass, jstring) {
  notYet("AgentHelper.getNativeGroups");
  return nullptr;
}

jobjectArray getLocalAuthServices(JNIEnv* env, jclass) {
  return newJavaStringArray(env, Orvanex::instance().getLocalAuthServices());
}

jstring getServesDomain(JNIEnv* env, jclass) { return newJavaString(env, Orvanex::instance().getServes()); }

jstring getAuthenticates(JNIEnv* env, jclass) { return newJavaString(env, Orvanex::instance().getAuthenticates()); }

jobject loginServiceUser(JNIEnv*, jclass, jstring) {
  notYet("AgentHelper.loginServiceUser");
  return nullptr;
}

jobject getServesDirectory(JNIEnv*, jclass) {
  notYet("AgentHelper.getServesDirectory");
  return nullptr;
}

void notifyRuleSetAddOrChange(JNIEnv*, jclass, jobject, jobjectArray) {
  notYet("AgentHelper.notifyRuleSetAddOrChange");
}

void notifyRuleSetRemoved(JNIEnv*, jclass, jstring, jstring, jobjectArray) {
  notYet("AgentHelper.notifyRuleSetRemoved");
}

void registerRuleHelper(JNIEnv*, jclass, jobject) { notYet("AgentHelper.registerRuleHelper"); }

jstring getServerMode(JNIEnv* env, jclass) { return newJavaString(env, Orvanex::instance().getServerMode()); }

void setLastTick(JNIEnv*, jclass, jlong) { notYet("AgentHelper.setLastTick"); }

void addStatRow(JNIEnv*, jclass, jint, jint, jstring, jobjectArray) { notYet("AgentHelper.addStatRow"); }

void startStatEntry(JNIEnv*, jclass) { notYet("AgentHelper.startStatEntry"); }

void endStatEntry(JNIEnv*, jclass) { notYet("AgentHelper.endStatEntry"); }

void setReady(JNIEnv*, jclass, jboolean flag) { Orvanex::instance().setReady(flag != JNI_FALSE); }

jstring getHostname(JNIEnv* env, jclass) { return newJavaString(env, Orvanex::instance().getHostname()); }

void addShutdownHandler(JNIEnv*, jclass, jobject) { notYet("AgentHelper.addShutdownHandler"); }

jstring decodePassword(JNIEnv* env, jclass, jstring text) {
  UtfChars t(env, text);
  if (t.get() == nullptr) return nullptr;
  char buf[kPasswordLen];
  if (Orvanex::instance().decodePassword(t.get(), buf, sizeof buf) != 0) return nullptr;
  return newJavaString(env, buf);
}

jstring getOrvanexProperty(JNIEnv* env, jclass, jstring key) {
  UtfChars k(env, key);
  if (k.get() == nullptr) return nullptr;
  char* value = s_getStringProperty(k.get(), nullptr);
  jstring result = newJavaString(env, value);
  s_freeStringProperty(value);
  return result;
}

void addOrvanexPropertiesListener(JNIEnv*, jclass, jobject) { notYet("AgentHelper.addOrvanexPropertiesListener"); }

void reportStatus(JNIEnv* env, jclass, jint code, jstring text) {
  UtfChars t(env, text);
  if (t.failed()) return;
  Orvanex::instance().setModuleStatus(t.get(), code);
}

jobject getOrvanexProperties(JNIEnv* env, jclass) {
  Attributes* attrs = s_getAllProperties();
  if (attrs == nullptr) return nullptr;
  jobject result = makeAttributes(env, attrs);
  delete attrs;
  return result;
}

void setThreadMap(JNIEnv* env, jclass, jstring text) {
  UtfChars t(env, text);
  if (t.failed()) return;
  Orvanex::instance().setThreadMap(t.get());
}

// ---- DomainHelper

jstring domainAdd(JNIEnv*, jclass, jstring, jstring, jstring, jstring) {
  notYet("DomainHelper.add");
  return nullptr;
}

void domainRemove(JNIEnv*, jclass, jstring, jstring, jstring, jstring) { notYet("DomainHelper.remove"); }

void registerIdentifyHelper(JNIEnv*, jclass, jobject) { notYet("DomainHelper.registerIdentifyHelper"); }

jstring updateCert(JNIEnv*, jclass, jstring, jstring) {
  notYet("DomainHelper.updateCert");
  return nullptr;
}

// ---- asset.AssetMonitoringHelper, OrvEventHelper, asset.AssetMapperHelper,
// LogHelper, CiUpdateHelper

void startAssetMonitor(JNIEnv*, jclass, jstring) { notYet("AssetMonitoringHelper.startAssetMonitor"); }

void stopAssetMonitor(JNIEnv*, jclass, jstring) { notYet("AssetMonitoringHelper.stopAssetMonitor"); }

void addOrvEventListener(JNIEnv*, jclass, jobject) { notYet("OrvEventHelper.addOrvEventListener"); }

void broadcastEvent(JNIEnv*, jclass, jobject) { notYet("OrvEventHelper.broadcastEvent"); }

void setAssetMapper(JNIEnv*, jclass, jobject) { notYet("AssetMapperHelper.setAssetMapper"); }

void addLog(JNIEnv* env, jclass, jstring text) {
  UtfChars t(env, text);
  if (t.get() == nullptr) return;
  Orvanex::instance().addTaskLog(t.get());
}

void addCiUpdateListener(JNIEnv*, jclass, jobject) { notYet("CiUpdateHelper.addCiUpdateListener"); }

#define NATIVE(name, sig, fn) {const_cast<char*>(name), const_cast<char*>(sig), reinterpret_cast<void*>(fn)}

const JNINativeMethod kAgentHelper[] = {
    NATIVE("setPassword", "(Ljava/lang/String;Ljava/lang/String;)V", setPassword2),
    NATIVE("setPassword", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V", setPassword3),
    NATIVE("getPassword", "(Ljava/lang/String;)Ljava/lang/String;", getPassword1),
    NATIVE("getPassword", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", getPassword2),
    NATIVE("validateLogin", "(Ljava/lang/String;Ljava/lang/String;)[Ljava/lang/String;", validateLogin),
    NATIVE("getNativeGroups", "(Ljava/lang/String;)[Ljava/lang/String;", getNativeGroups),
    NATIVE("getLocalAuthServices", "()[Ljava/lang/String;", getLocalAuthServices),
    NATIVE("getServesDomain", "()Ljava/lang/String;", getServesDomain),
    NATIVE("getAuthenticates", "()Ljava/lang/String;", getAuthenticates),
    NATIVE("loginServiceUser", "(Ljava/lang/String;)Lcom/vesk/orvanex/Principal;", loginServiceUser),
    NATIVE("getServesDirectory", "()Lcom/vesk/orvanex/Directory;", getServesDirectory),
    NATIVE("notifyRuleSetAddOrChange", "(Lcom/vesk/orvanex/alert/RuleSet;[Ljava/lang/String;)V",
           notifyRuleSetAddOrChange),
    NATIVE("notifyRuleSetRemoved", "(Ljava/lang/String;Ljava/lang/String;[Ljava/lang/String;)V", notifyRuleSetRemoved),
    NATIVE("registerRuleHelper", "(Lcom/vesk/orvanex/agent/RuleHelper;)V", registerRuleHelper),
    NATIVE("getServerMode", "()Ljava/lang/String;", getServerMode),
    NATIVE("setLastTick", "(J)V", setLastTick),
    NATIVE("addStatRow", "(IILjava/lang/String;[Ljava/lang/Object;)V", addStatRow),
    NATIVE("startStatEntry", "()V", startStatEntry),
    NATIVE("endStatEntry", "()V", endStatEntry),
    NATIVE("setReady", "(Z)V", setReady),
    NATIVE("getHostname", "()Ljava/lang/String;", getHostname),
    NATIVE("addShutdownHandler", "(Lcom/vesk/orvanex/agent/ShutdownHandler;)V", addShutdownHandler),
    NATIVE("decodePassword", "(Ljava/lang/String;)Ljava/lang/String;", decodePassword),
    NATIVE("getOrvanexProperty", "(Ljava/lang/String;)Ljava/lang/String;", getOrvanexProperty),
    NATIVE("addOrvanexPropertiesListener", "(Lcom/vesk/orvanex/agent/OrvanexPropertiesListener;)V",
           addOrvanexPropertiesListener),
    NATIVE("reportStatus", "(ILjava/lang/String;)V", reportStatus),
    NATIVE("getOrvanexProperties", "()Lcom/vesk/orvanex/AnyMap;", getOrvanexProperties),
    NATIVE("setThreadMap", "(Ljava/lang/String;)V", setThreadMap),
};

const JNINativeMethod kDomainHelper[] = {
    NATIVE("add", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
           domainAdd),
    NATIVE("remove", "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V", domainRemove),
    NATIVE("registerIdentifyHelper", "(Lcom/vesk/orvanex/agent/IdentifyHelper;)V", registerIdentifyHelper),
    NATIVE("updateCert", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", updateCert),
};

const JNINativeMethod kAssetMonitoringHelper[] = {
    NATIVE("startAssetMonitor", "(Ljava/lang/String;)V", startAssetMonitor),
    NATIVE("stopAssetMonitor", "(Ljava/lang/String;)V", stopAssetMonitor),
};

const JNINativeMethod kOrvEventHelper[] = {
    NATIVE("addOrvEventListener", "(Lcom/vesk/orvanex/agent/OrvEventListener;)V", addOrvEventListener),
    NATIVE("broadcastEvent", "(Lcom/vesk/orvanex/OrvEvent;)V", broadcastEvent),
};

const JNINativeMethod kAssetMapperHelper[] = {
    NATIVE("setAssetMapper", "(Lcom/vesk/orvanex/AssetMapper;)V", setAssetMapper),
};

const JNINativeMethod kLogHelper[] = {
    NATIVE("addLog", "(Ljava/lang/String;)V", addLog),
};

const JNINativeMethod kCiUpdateHelper[] = {
    NATIVE("addCiUpdateListener", "(Lcom/vesk/orvanex/agent/CiUpdateListener;)V", addCiUpdateListener),
};

#undef NATIVE

template <std::size_t N>
constexpr int countOf(const JNINativeMethod (&)[N]) {
  return static_cast<int>(N);
}

const AgentNativeTable kTables[] = {
    {"com/vesk/orvanex/agent/AgentHelper", kAgentHelper, countOf(kAgentHelper)},
    {"com/vesk/orvanex/agent/DomainHelper", kDomainHelper, countOf(kDomainHelper)},
    {"com/vesk/orvanex/agent/asset/AssetMonitoringHelper", kAssetMonitoringHelper, countOf(kAssetMonitoringHelper)},
    {"com/vesk/orvanex/agent/OrvEventHelper", kOrvEventHelper, countOf(kOrvEventHelper)},
    {"com/vesk/orvanex/agent/asset/AssetMapperHelper", kAssetMapperHelper, countOf(kAssetMapperHelper)},
    {"com/vesk/orvanex/agent/LogHelper", kLogHelper, countOf(kLogHelper)},
    {"com/vesk/orvanex/agent/CiUpdateHelper", kCiUpdateHelper, countOf(kCiUpdateHelper)},
};

}  // namespace

const AgentNativeTable* agentNativeTables(int* count) {
  *count = static_cast<int>(sizeof(kTables) / sizeof(kTables[0]));
  return kTables;
}

int registerAgentHelperNatives(JNIEnv* env) {
  int failed = 0;
  for (const AgentNativeTable& t : kTables) {
    const bool isAgentHelper = t.methods == kAgentHelper;
    jclass cls = isAgentHelper && _AgentHelperClass != nullptr ? _AgentHelperClass : env->FindClass(t.className);
    // A failed look-up or registration leaves a Java exception; it is
    // described (which clears it) before the next JNI call, which a pending
    // exception would otherwise make undefined.
    if (cls == nullptr || env->RegisterNatives(cls, t.methods, t.count) != JNI_OK) {
      describeJavaException(env);
      log(0, "Java: unable to register the natives of %s", t.className);
      ++failed;
    }
    if (cls != nullptr && cls != _AgentHelperClass) env->DeleteLocalRef(cls);
  }
  return failed;
}
