// The process's allocator hooks and their memory tracing, in the library
// liborvmemhooks.so. The library defines malloc, calloc, realloc, free and the
// aligned and size-query functions of the C library; a program gets them by
// linking the library before the C library (orvanexd links it first) or by
// preloading it (LD_PRELOAD). With tracing off every call costs one flag test
// and goes straight to the C library's allocator.
//
// Tracing can also be started without code: ORV_MEMTRACE_FILE=<path> or
// ORV_MEMTRACE_SOCKET=<path> (and ORV_MEMTRACE_GUARDS=1 for guard patterns)
// in the environment start it when the library is loaded; the variables are
// then removed so that programs started from this one do not overwrite the
// trace.
//
// Thread-safe: every traced call of every thread passes one lock.
#pragma once

#include <stdbool.h>

#ifdef __cplusplus
extern "C" {
#endif

// Starts tracing to the file `path` (created or truncated), or with
// `useSocket` to the memory analyzer listening on the Unix socket `path`
// (retried every 2 seconds while it does not answer). Writes a mapping record
// for every executable mapping of the process, then traces every allocation
// and release. Returns 0, or -1 after printing why tracing stays off (it is
// already on, the destination cannot be opened, or these hooks are not the
// process's allocator).
int orv_init_mem_hooks(const char* path, bool useSocket);

// Wraps every block allocated while tracing in guard patterns, checked when
// the block is freed or reallocated. Call it before orv_init_mem_hooks.
void orv_init_mem_guards(void);

// Turns tracing off in a freshly forked child (the fork itself already does
// so; calling it again is harmless). Never call it after vfork: the child
// shares the parent's memory.
void orv_post_fork_hooks(void);

// Writes a message record with the caller's stack while tracing is on.
void _orv_mem_mesg(const char* text);

#ifdef __cplusplus
}
#endif
