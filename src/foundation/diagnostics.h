// The assertion handler and the stack dumps written when something is badly
// wrong. Thread-safe.
#pragma once

// Set when the shutdown handlers are fired: assertions are then ignored.
extern bool _shutdown;
// When armed, a failed assertion aborts the process (SIGABRT, then _exit(55)).
extern bool _orvanex_assert_enabled;
// Set once the Java VM exists: a failed, unarmed assertion then asks the VM
// for a dump of every thread (SIGQUIT) and lets the caller continue.
extern bool _orvanex_java_loaded;

extern "C" {
// Logs "|||== assertion failure: %s, at %s:%d", dumps the stack, then aborts
// or continues as described above.
void _orvanex_assert(const char* expr, const char* file, int line);
// Logs `title` and up to 50 frames of the current call stack.
void s_dump_stack(const char* title);
// The same on standard output, followed by an empty line.
void s_dump_stack_stdout(const char* title);
}

// The checked assertion used throughout the system; always compiled in.
#define orv_assert(expr) ((expr) ? (void)0 : _orvanex_assert(#expr, __FILE__, __LINE__))
