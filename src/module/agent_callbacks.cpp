#include "module/agent_callbacks.h"

#include <string>

#include "foundation/log.h"
#include "host/hostspi.h"
#include "jni/java_env.h"
#include "jni/java_exception.h"
#include "jni/java_string.h"

HandleIdentifyFn _handleIdentifyFn = nullptr;
GetStackTraceHandler* _javaEventHandler = nullptr;
XAlertDecoder* alertDecoder = nullptr;

int handleIdentify(int code, const char*, const char*, const char*, const char*, const char*, const char*,
                   const char*, const char*, const char*) {
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: identify request %d: no identify helper yet", code);
  return -1;
}

const char* JavaModuleFederateProc(DirectorySPI* provider, const char* name, bool flag) {
  HostSPI::federate(name, flag, provider);
  // The domain GUID comes from the provider, which the directory client
  // defines; until it exists there is no GUID to return.
  return nullptr;
}

void GetStackTraceHandler::handleEvent() {
  if (!dumpJavaThreads()) log(_debug_java, LOG_DEBUG, 0, 0, "Java: stack-trace event: no Java thread dump");
}

XAlertDecoder::XAlertDecoder(JNIEnv* env, jclass mapperClass, jobject mapper)
    : mapperClass_(mapperClass ? static_cast<jclass>(env->NewGlobalRef(mapperClass)) : nullptr),
      mapper_(mapper ? env->NewGlobalRef(mapper) : nullptr) {}

void createAlertDecoder(JNIEnv* env, const char* home) {
  jclass cls = env->FindClass("com/vesk/orvanex/agent/AlertDefinitionMapper");
  jobject mapper = nullptr;
  if (cls != nullptr) {
    jmethodID get =
        env->GetStaticMethodID(cls, "get", "(Ljava/lang/String;)Lcom/vesk/orvanex/agent/AlertDefinitionMapper;");
    if (get != nullptr) {
      const std::string catalog = std::string(home ? home : "") + "/alertcatalog";
      jstring path = newJavaString(env, catalog.c_str());
      if (path != nullptr) {
        mapper = env->CallStaticObjectMethod(cls, get, path);
        if (describeJavaException(env)) mapper = nullptr;
        env->DeleteLocalRef(path);
      }
    }
  }
  describeJavaException(env);
  alertDecoder = new XAlertDecoder(env, cls, mapper);
  if (mapper != nullptr) env->DeleteLocalRef(mapper);
  if (cls != nullptr) env->DeleteLocalRef(cls);
}
