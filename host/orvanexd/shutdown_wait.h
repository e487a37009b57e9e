// How the host daemon waits for the end: SIGTERM or SIGINT, taken with
// sigwait by the one thread that waits, never by a handler (the Java VM owns
// the process's signal handlers once it exists). Kept apart so that the
// runtime's signal thread can take its place.
#pragma once

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread. Call it first in
// main, before any thread exists, so that every thread (the VM's included)
// inherits the mask and the signals wait for waitForShutdown.
void blockShutdownSignals();

// Waits for SIGTERM or SIGINT and returns it; SIGHUP is taken and ignored.
// Every `tickSeconds` (when > 0) without a signal, calls `tick`.
[[nodiscard]] int waitForShutdown(int tickSeconds, void (*tick)());
