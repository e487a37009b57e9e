// How the host daemon waits for the end: SIGTERM or SIGINT, taken with
// sigwait by the one thread that waits, never by a handler (the Java VM owns
// the process's signal handlers once it exists). Kept apart so that the
// runtime's signal thread can take its place.
#pragma once

// Blocks SIGTERM, SIGINT, SIGHUP, SIGCHLD and SIGQUIT in the calling thread.
// Call it first in main, before any thread exists, so that every thread (the
// VM's included) inherits the mask: the signals wait for the runtime's signal
// thread (SIGTERM, SIGCHLD, SIGQUIT) or for waitForShutdown.
void blockShutdownSignals();

// Waits for SIGINT (and SIGTERM unless `runtimeTakesTerm`: the module's
// signal thread then owns it) and returns it; SIGHUP is taken and ignored.
// Every `tickSeconds` (when > 0) without a signal, calls `tick`.
[[nodiscard]] int waitForShutdown(int tickSeconds, void (*tick)(), bool runtimeTakesTerm);
