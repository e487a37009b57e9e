// The natives of the Java agent's helper classes (com.vesk.orvanex.agent and
// its asset package): how the agent reaches the host runtime. Registered once
// by moduleMain; each native runs on the calling Java thread.
#pragma once

#include <jni.h>

// One class's registration table.
struct AgentNativeTable {
  const char* className;  // JNI form, e.g. "com/vesk/orvanex/agent/AgentHelper"
  const JNINativeMethod* methods;
  int count;
};

// The tables in registration order, AgentHelper first; `*count` receives
// their number.
[[nodiscard]] const AgentNativeTable* agentNativeTables(int* count);

// Registers every table with RegisterNatives: AgentHelper on
// _AgentHelperClass, the other classes looked up by name. A class or method
// that is missing is described (the Java exception is then clear) and logged,
// and the other tables are still registered. Returns the number of tables
// that failed.
int registerAgentHelperNatives(JNIEnv* env);
