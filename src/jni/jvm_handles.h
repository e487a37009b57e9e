// The process-wide Java VM handles, set once by the module entry when the VM
// has been created and read by the whole Java bridge afterwards (written
// before any other thread uses them; read without locks).
#pragma once

#include <jni.h>

// The Java VM of the process.
extern JavaVM* _thisVM;
// The environment of the host's start-up thread, which created the VM. Only
// that thread may use it.
extern JNIEnv* _initialEnv;
// Global reference to com/vesk/orvanex/agent/AgentHelper.
extern jclass _AgentHelperClass;
