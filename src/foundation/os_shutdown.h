// The process's shutdown handlers: objects whose shutdown() runs once when the
// host or the signal thread shuts the process down, newest first.
//
// Thread-safe: handlers may be added from any thread; firing takes the whole
// list at once, so a handler added while the list fires is not lost but runs
// on the next firing.
#pragma once

// The first virtual operation is the shutdown action; the host's handlers
// rely on that slot.
class ShutdownHandler {
 public:
  virtual void shutdown() = 0;
  virtual ~ShutdownHandler() = default;
};

extern "C" {
// Pushes `handler` at the head of the list. The list does not own it; it must
// stay alive until the list has been fired.
void s_addShutdownHandler(ShutdownHandler* handler);
// Sets _shutdown, then calls every handler's shutdown() in list order (newest
// first) with no lock held, and empties the list.
void s_fireShutdownHandlers();
}
