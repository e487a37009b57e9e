// Connection: what each unit of the control protocol does, on the coms
// thread (the ControlSink side of the connection).
#include <sys/time.h>

#include <chrono>

#include "coms/coms_error.h"
#include "coms/coms_settings.h"
#include "coms/connection.h"
#include "coms/connector.h"
#include "foundation/log.h"
#include "wire/byte_order.h"
#include "wire/message.h"

namespace {

// Timing values from a peer: a heartbeat of 0 ms would spin the thread and
// a negative one is no period at all.
constexpr uint32_t kMinTimingMs = 10;
constexpr uint32_t kMaxTimingMs = 86400000;

int clampTiming(uint32_t ms) { return static_cast<int>(ms < kMinTimingMs ? kMinTimingMs : ms > kMaxTimingMs ? kMaxTimingMs : ms); }

// Milliseconds from (s1, us1) to (s2, us2); the seconds are the low 32 bits
// of the clock, so the difference is taken modulo 2^32.
long long deltaMs(uint32_t s1, uint32_t us1, uint32_t s2, uint32_t us2) {
  auto ds = static_cast<int32_t>(s2 - s1);
  return static_cast<long long>(ds) * 1000 + (static_cast<long long>(us2) - static_cast<long long>(us1)) / 1000;
}

}  // namespace

bool Connection::onHeartbeat() { return !cleanedUp_; }

bool Connection::onHello(uint32_t type, uint8_t flag, uint32_t typeVersion, bool v2) {
  if (!isServer()) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: hello from a server ignored", name_);
    return true;
  }
  if (helloReceived_) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: second hello ignored", name_);
    return true;
  }
  helloReceived_ = true;
  type_ = type;
  helloFlag_ = flag;
  typeVersion_ = typeVersion;
  version2_ = v2;
  log(_debug_coms, LOG_INFO, 0, 0, "%s: hello: type %u, version %u%s", name_, type, typeVersion,
      v2 ? "" : " (version 0)");
  bool ok;
  {
    ListenerCall call(this);
    ok = connector_->callNewConnection(this, static_cast<int>(type));
  }
  if (!ok) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: connection type %u refused", name_, type);
    writeControl(C_AUTHFAIL);
    closeAfterWrite_ = true;
    return false;
  }
  accepted_ = true;
  connected_.store(true);
  if (v2) {
    unsigned char fields[4];
    wire::put32(fields, static_cast<uint32_t>(connector_->getServerVersion()));
    writeControl(C_COMPLETE2, fields, 4);
  } else {
    writeControl(C_COMPLETE);
  }
  return !cleanedUp_;
}

bool Connection::onComplete(uint32_t serverVersion, bool v2) {
  if (isServer() || completed_) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: unexpected completion ignored", name_);
    return true;
  }
  completed_ = true;
  serverVersion_.store(v2 ? static_cast<int>(serverVersion) : 0);
  connected_.store(true);
  log(_debug_coms, LOG_INFO, 0, 0, "%s: connect complete (server version %d)", name_, serverVersion_.load());
  {
    ListenerCall call(this);
    if (ConnectionListener* l = listener_.load()) l->onConnectComplete(this);
  }
  return !cleanedUp_;
}

bool Connection::onAuthFail() {
  if (isServer() || completed_) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: unexpected C_AUTHFAIL ignored", name_);
    return true;
  }
  log(_debug_coms, LOG_WARNING, 0, 0, "%s: %s", name_, comsErrorText(COMS_AUTH_FAILURE));
  reportNoConnect(COMS_AUTH_FAILURE);
  cleanup();
  return false;
}

bool Connection::onClose() {
  log(_debug_coms, LOG_INFO, 0, 0, "%s: peer closed the connection", name_);
  bool wasFinished = finished_;
  finished_ = true;
  connected_.store(false);
  if (!wasFinished) {
    {
      ListenerCall call(this);
      if (ConnectionListener* l = listener_.load()) l->onClosed(this);
    }
  }
  cleanup();
  destroyIfOrphan();
  return false;
}

bool Connection::onEnableTiming() {
  bool first = !timingEnabled_.exchange(true);
  if (isServer()) {
    if (first) writeControl(C_ENABLE_TIMING);
  } else {
    // The client states the timing both ends keep.
    unsigned char fields[8];
    wire::put32(fields, static_cast<uint32_t>(lostTimeMs_.load()));
    wire::put32(fields + 4, static_cast<uint32_t>(heartbeatMs_.load()));
    writeControl(C_SETTIMING, fields, 8);
  }
  armHeartbeat();
  resetLostTimer();
  return !cleanedUp_;
}

bool Connection::onSetTiming(uint32_t lostTimeMs, uint32_t heartbeatMs) {
  lostTimeMs_.store(clampTiming(lostTimeMs));
  heartbeatMs_.store(clampTiming(heartbeatMs));
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: timing set: lost %d ms, heartbeat %d ms", name_, lostTimeMs_.load(),
      heartbeatMs_.load());
  if (timingEnabled_.load()) {
    armHeartbeat();
    resetLostTimer();
  }
  return !cleanedUp_;
}

bool Connection::onLatencyProbe(uint32_t seconds, uint32_t micros) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  unsigned char fields[16];
  wire::put32(fields, seconds);
  wire::put32(fields + 4, micros);
  wire::put32(fields + 8, static_cast<uint32_t>(now.tv_sec));
  wire::put32(fields + 12, static_cast<uint32_t>(now.tv_usec));
  writeControl(C_LD_REPLY, fields, 16);
  // A reply can end the connection (its write queue over the bound, or a
  // failed write): the parser must not go on with the bytes of a connection
  // that has been cleaned up.
  return !cleanedUp_;
}

bool Connection::onLatencyReply(uint32_t probeSeconds, uint32_t probeMicros, uint32_t peerSeconds,
                                uint32_t peerMicros) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  auto nowS = static_cast<uint32_t>(now.tv_sec);
  auto nowUs = static_cast<uint32_t>(now.tv_usec);
  long long roundTrip = deltaMs(probeSeconds, probeMicros, nowS, nowUs);
  if (roundTrip < 0) roundTrip = 0;
  long long latency = roundTrip / 2;
  long long drift = deltaMs(peerSeconds, peerMicros, nowS, nowUs);
  if (drift > latency) drift -= latency;
  latency_.store(static_cast<int>(latency));
  drift_.store(static_cast<int>(drift));
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: latency %lld ms, drift %lld ms", name_, latency, drift);
  {
    ListenerCall call(this);
    if (LatencyListener* l = latencyListener_.load()) l->onLatency(this, static_cast<int>(latency), static_cast<int>(drift));
  }
  return !cleanedUp_;
}

bool Connection::onMessage(std::unique_ptr<Message> message) {
  if (isServer() ? !accepted_ : !completed_) {
    // A peer that sends messages before its hello was taken does not speak
    // this protocol.
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: message of type %d before the hello completed", name_,
        message->getMessageType());
    fail(COMS_NOT_CONNECTED);
    return false;
  }
  int type = message->getMessageType();
  auto start = std::chrono::steady_clock::now();
  int rc;
  {
    ListenerCall call(this);
    ConnectionListener* l = listener_.load();
    if (l == nullptr) {
      log(_debug_coms, LOG_DEBUG, 0, 0, "%s: no listener: message of type %d dropped", name_, type);
      return true;
    }
    rc = l->onReceive(this, message.get());
  }
  auto t = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (t > comsSettings().longReceiveMs && _debug_coms < LOG_INFO) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: LONG onReceive: t = %d, type = %d", name_, static_cast<int>(t), type);
  }
  if (rc != 0) {
    if (rc != 1) log(_debug_coms, LOG_WARNING, 0, 0, "WARNING: unexpected return from onReceive");
    (void)message.release();  // the listener keeps it
  }
  return !cleanedUp_;
}

bool Connection::onIgnoredCode(unsigned char code) {
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: control code %d ignored", name_, code);
  return !cleanedUp_;
}

void Connection::onFrameError(const char* text, uint32_t length, uint32_t type) {
  log(_debug_coms, LOG_ERROR, 0, 0, "%s: %s", name_, text);
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: frame length %u, message type %u: the stream cannot be followed", name_,
      length, type);
  fail(COMS_NOT_CONNECTED);
}
