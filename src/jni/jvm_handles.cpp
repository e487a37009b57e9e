#include "jni/jvm_handles.h"

JavaVM* _thisVM = nullptr;
JNIEnv* _initialEnv = nullptr;
jclass _AgentHelperClass = nullptr;
