// The module's entry points for the host, exported under their plain names:
// moduleMain once, then startJavaModule for each Java module, or runJavaClass
// to run a program and end the process. The host calls all three on its one
// start-up thread, which then owns the VM's first JNIEnv.
#pragma once

class Properties;

extern "C" {
// Builds the option list, creates the Java VM, registers the natives and
// creates the alert decoder. Returns 0, or -1 when the VM cannot be created.
// Ends the process (status 1) when the agent's classes are missing.
int moduleMain();

// Starts the Java module `name` through AgentHelper.startModule with the home
// directory and `props` as a java.util.Properties (a null set gives an empty
// one). Java exceptions are described. Returns 0.
int startJavaModule(const char* name, Properties* props);

// Runs the static main(String[]) of `className` (dotted form) with no
// arguments and ends the process: status 0 when main returned normally, 1
// when the class or its main cannot be found or main threw.
[[noreturn]] void runJavaClass(const char* className);

// The VM's abort hook: logs "JVM Aborted with status: %d".
void abortHook(int status);
}
