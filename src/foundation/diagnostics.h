// The assertion handler and the stack dumps written when something is badly
// wrong. Thread-safe.
#pragma once

// Set when the shutdown handlers are fired: assertions are then ignored.
extern bool _shutdown;
// When armed, a failed assertion aborts the process (SIGABRT, then _exit(55)).
extern bool _orvanex_assert_enabled;
// Set once the Java VM exists: a failed, unarmed assertion then asks the VM
// for a dump of every thread and lets the caller continue.
extern bool _orvanex_java_loaded;

// How a failed assertion has the Java threads dumped. The Java bridge
// installs it: the VM runs with -Xrs, so it does not answer SIGQUIT and the
// signal would end the process. Returns true when the dump was written.
// Without a hook the VM is sent SIGQUIT.
using JavaThreadDumpHook = bool (*)();
void setJavaThreadDumpHook(JavaThreadDumpHook hook);

// Statistics dumps of higher layers (the Java bridge's queue counters, for
// one), run in the order added by s_dumpStatistics. Add them at start-up.
using StatisticsDumpHook = void (*)();
void addStatisticsDumpHook(StatisticsDumpHook hook);

extern "C" {
// Logs "|||== assertion failure: %s, at %s:%d", dumps the stack, then aborts
// or continues as described above.
void _orvanex_assert(const char* expr, const char* file, int line);
// Logs `title` and up to 50 frames of the current call stack.
void s_dump_stack(const char* title);
// The same on standard output, followed by an empty line.
void s_dump_stack_stdout(const char* title);
// Runs every statistics dump hook.
void s_dumpStatistics();
}

// The checked assertion used throughout the system; always compiled in.
#define orv_assert(expr) ((expr) ? (void)0 : _orvanex_assert(#expr, __FILE__, __LINE__))
