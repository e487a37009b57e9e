// The timing values and limits of the communication layer, gathered in one
// place so that tests and tools can shorten them. Every default is the value
// peers and operators expect; change them only before the first connection
// or stream is created (they are read without a lock afterwards).
#pragma once

#include <cstddef>

struct ComsSettings {
  // Silence after which a connection counts as lost, and the heartbeat
  // period, until the two ends have agreed their own (C_SETTIMING).
  int lostTimeMs = 20000;
  int heartbeatMs = 4500;
  // One turn of a coms thread's loop; its later list runs after each turn.
  int loopMs = 5000;
  // Bytes a connection may hold in its write queue (unsent, because the peer
  // does not read fast enough). A connection past the bound is dropped as
  // lost rather than letting a peer that never reads exhaust memory.
  size_t writeQueueLimit = size_t{64} << 20;
  // Attempts and spacing of bind() while the port is still in use.
  int bindRetries = 20;
  int bindRetryMs = 4000;
  // Handlers that stall every connection of a coms thread are logged past
  // these durations.
  int longReceiveMs = 1000;
  int longLostMs = 100;
  // Blocking stream connections: the longest wait for a connect, a read or a
  // write before the stream is treated as broken.
  int streamTimeoutMs = 300000;
  // Largest single item (string, byte block) a stream reader accepts before
  // the bytes are there; a peer's length beyond it is refused instead of
  // being allocated.
  size_t streamItemLimit = size_t{64} << 20;
};

// The process-wide settings (never destroyed).
ComsSettings& comsSettings();
