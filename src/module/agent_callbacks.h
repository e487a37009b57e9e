// The hooks and adapters through which the host reaches the Java agent:
// identification, provider federation, stack dumps and alert texts. Installed
// once by moduleMain on the start-up thread; called later on host threads.
#pragma once

#include <jni.h>

class DirectorySPI;

// The identify hook of the directory client: a request code and nine texts
// (any may be null); returns the Java agent's answer.
using HandleIdentifyFn = int (*)(int code, const char* s1, const char* s2, const char* s3, const char* s4,
                                 const char* s5, const char* s6, const char* s7, const char* s8, const char* s9);
extern HandleIdentifyFn _handleIdentifyFn;

// Asks the registered Java IdentifyHelper. Until one is registered (and the
// Java bridge can attach host threads) the answer is -1.
int handleIdentify(int code, const char* s1, const char* s2, const char* s3, const char* s4, const char* s5,
                   const char* s6, const char* s7, const char* s8, const char* s9);

// The federate procedure of the agent: hands the provider to the host
// (HostSPI::federate) and returns the provider's domain GUID.
const char* JavaModuleFederateProc(DirectorySPI* provider, const char* name, bool flag);

// The runtime's stack-trace event: asks Java to dump all its threads
// (com.vesk.orvanex.diag.DiagHelper.dumpAllThreads). Holds nothing.
class GetStackTraceHandler {
 public:
  void handleEvent();
};
extern GetStackTraceHandler* _javaEventHandler;

// The decoder of alert identifiers into texts, backed by the Java
// AlertDefinitionMapper of the installation's alert catalog. Created once at
// start-up; its references live as long as the process.
class XAlertDecoder {
 public:
  // Takes global references to the mapper class and object.
  XAlertDecoder(JNIEnv* env, jclass mapperClass, jobject mapper);
  XAlertDecoder(const XAlertDecoder&) = delete;
  XAlertDecoder& operator=(const XAlertDecoder&) = delete;

  [[nodiscard]] jclass mapperClass() const { return mapperClass_; }
  [[nodiscard]] jobject mapper() const { return mapper_; }

 private:
  jclass mapperClass_;
  jobject mapper_;
};
extern XAlertDecoder* alertDecoder;

// Creates alertDecoder from HOME/alertcatalog. Java exceptions are described.
void createAlertDecoder(JNIEnv* env, const char* home);
