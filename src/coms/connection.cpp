// Connection: creation, the public operations and how they reach the coms
// thread, locks, deferred destruction and clean-up. The socket, TLS and
// timer work is in connection_io.cpp, the control protocol in
// connection_protocol.cpp.
#include "coms/connection.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>

#include "coms/coms_error.h"
#include "coms/coms_settings.h"
#include "coms/coms_thread.h"
#include "coms/connector.h"
#include "coms/tls_util.h"
#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "runtime/daemon_thread.h"
#include "runtime/deferred_op.h"
#include "wire/message.h"

namespace {

constexpr int kMaxComsThreads = 32;

}  // namespace

// ---------------------------------------------------------------------------
// Threads

void Connection::comsInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    comsLibraryInit();
    int n = s_getIntProperty("coms_threads", 1);
    if (n < 0) n = 1;
    if (n > kMaxComsThreads) n = kMaxComsThreads;
    log(_debug_coms, LOG_INFO, 0, 0, "Will start %d coms threads", n);
    if (n == 0) {
      // With no thread there would be nowhere to place a connection: one
      // thread is the least that works.
      log(_debug_coms, LOG_WARNING, 0, 0, "coms_threads is 0: starting 1 coms thread instead");
      n = 1;
    }
    comsStartThreads(n);
  });
}

const char* Connection::messageFromError(int code) { return comsErrorText(code); }

const char* Connection::modeName(int mode) {
  switch (mode) {
    case SM_READ: return "SM_READ";
    case SM_WRITE: return "SM_WRITE";
    case SM_ACCEPT: return "SM_ACCEPT";
    case SM_CONNECT: return "SM_CONNECT";
    default: return "unknown";
  }
}

// ---------------------------------------------------------------------------
// Construction

Connection::Connection(ComsThreadContext* context, const char* host, const char* service, X509* certificate,
                       EVP_PKEY* key, int type)
    : host_(host),
      service_(service),
      certificate_(certificate),
      privateKey_(key),
      type_(static_cast<uint32_t>(type)),
      context_(context),
      lostTimeMs_(comsSettings().lostTimeMs),
      heartbeatMs_(comsSettings().heartbeatMs) {
  // "alpha:v0" is host alpha, always spoken to in version 0.
  if (host_.size() > 3 && host_.compare(host_.size() - 3, 3, ":v0") == 0) {
    host_.resize(host_.size() - 3);
    forceV0_ = true;
  }
  std::snprintf(name_, sizeof name_, "C-%s:%s", host_.c_str(), service_.c_str());
}

Connection::Connection(ComsThreadContext* context, Connector* connector, int socket, const sockaddr_in& peer)
    : type_(0),
      connector_(connector),
      context_(context),
      socket_(socket),
      lostTimeMs_(comsSettings().lostTimeMs),
      heartbeatMs_(comsSettings().heartbeatMs) {
  char dotted[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
  peerAddress_ = dotted;
  address_ = peer.sin_addr.s_addr;
  port_ = ntohs(peer.sin_port);
  std::snprintf(name_, sizeof name_, "S-%s", dotted);
  connector_->retain();
}

Connection::~Connection() {
  if (peerCertificate_ != nullptr) X509_free(peerCertificate_);
  if (ownsPair_) {
    X509_free(certificate_);
    EVP_PKEY_free(privateKey_);
  }
  if (connector_ != nullptr) connector_->release();
}

Connection* Connection::create(const char* host, const char* service, X509* certificate, EVP_PKEY* key, int type) {
  comsInit();
  if (host == nullptr || service == nullptr) return nullptr;
  ComsThreadContext* context = comsBestContext();
  if (context == nullptr) return nullptr;
  Connection* made = nullptr;
  int rc = context->runSync([&]() {
    made = new Connection(context, host, service, certificate, key, type);
    return 0;
  });
  if (rc != 0 || made == nullptr) {
    comsReleaseContext(context);
    return nullptr;
  }
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: created on coms-%d", made->name_, context->index() + 1);
  return made;
}

// ---------------------------------------------------------------------------
// Operations from any thread

void Connection::queueOp(OpKind kind, void* message, long long value) {
  addLock();
  auto* op = new DeferredOp(this, message, value);
  op->extra = reinterpret_cast<void*>(static_cast<intptr_t>(kind));
  context_->queue(op);
}

int Connection::executeOp(DeferredOp* op) {
  auto* c = static_cast<Connection*>(op->object);
  auto kind = static_cast<OpKind>(reinterpret_cast<intptr_t>(op->extra));
  switch (kind) {
    case kOpAttach: c->doAttach(); break;
    case kOpConnect: c->doConnect(); break;
    case kOpSend: c->doSend(static_cast<Message*>(op->message)); break;
    case kOpClose: c->doClose(); break;
    case kOpTiming: c->doTiming(); break;
    case kOpProbe: c->doProbe(); break;
    case kOpResolved: c->continueConnect(static_cast<int>(op->value >> 32), static_cast<int>(op->value & 0xFFFFFFFF));
      break;
    case kOpDestroy:
      // The destroy operation holds no lock of its own: it is what waits for
      // the locks.
      c->doDestroy();
      return 0;
    case kOpRelease: break;
  }
  c->removeLock();
  return 0;
}

int Connection::connect() {
  orv_assert(!deleted_);
  queueOp(kOpConnect);
  return 0;
}

int Connection::send(Message* message) {
  orv_assert(!deleted_);
  if (message == nullptr) return COMS_NOT_CONNECTED;
  if (!connected_.load() || closing_.load()) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: send while not connected: message of type %d dropped", name_,
        message->getMessageType());
    delete message;
    return COMS_NOT_CONNECTED;
  }
  // A frame with no payload is refused by every receiver (and would cost
  // the connection): it is never sent.
  if (message->size() <= Message::kHeaderSize || message->getError() != 0) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: message of type %d not sent: %s", name_, message->getMessageType(),
        message->getError() != 0 ? "the message is broken" : "Less than or zero size message");
    delete message;
    return -12;
  }
  pendingBytes_ += static_cast<long long>(message->size());
  queueOp(kOpSend, message);
  return 0;
}

void Connection::setTiming(int lostMs, int heartbeatMs) {
  orv_assert(!deleted_);
  lostTimeMs_.store(lostMs);
  heartbeatMs_.store(heartbeatMs);
  queueOp(kOpTiming);
}

void Connection::sendLatencyProbe() {
  orv_assert(!deleted_);
  queueOp(kOpProbe);
}

void Connection::close() {
  orv_assert(!deleted_);
  queueOp(kOpClose);
}

void Connection::destroy(Connection* connection) {
  if (connection == nullptr) return;
  orv_assert(!connection->deleted_);
  connection->deleted_.store(true);
  connection->listener_.store(nullptr);
  connection->latencyListener_.store(nullptr);
  // A callback that read the listener before it was cleared is waited for,
  // so that the caller may free the listener after this returns. On the
  // coms thread itself (from inside a callback) there is nothing to wait for.
  if (DaemonThread::getCurrentThread() != connection->context_->thread()) {
    for (int i = 0; connection->callbacks_.load() > 0; i++) {
      if (i == 30000) log(_debug_coms, LOG_ERROR, 0, 0, "%s: destroy waits for a long callback", connection->name_);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  auto* op = new DeferredOp(connection);
  op->extra = reinterpret_cast<void*>(static_cast<intptr_t>(kOpDestroy));
  connection->context_->queue(op);
}

void Connection::addLock() {
  lockBlock_.enter();
  locks_++;
  lockBlock_.exit();
}

void Connection::removeLock() {
  lockBlock_.enter();
  orv_assert(locks_ > 0);
  if (locks_ > 0) locks_--;
  int left = locks_;
  bool destroyNow = left == 0 && waitingDestroy_;
  if (destroyNow) waitingDestroy_ = false;
  lockBlock_.exit();
  if (destroyNow) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: calling destroy: %d", name_, left);
    auto* op = new DeferredOp(this);
    op->extra = reinterpret_cast<void*>(static_cast<intptr_t>(kOpDestroy));
    context_->queue(op);
  }
}

int Connection::getLocks() {
  lockBlock_.enter();
  int n = locks_;
  lockBlock_.exit();
  return n;
}

// ---------------------------------------------------------------------------
// Destruction (coms thread)

void Connection::doDestroy() {
  if (deleteScheduled_) return;
  if (inHandler_ > 0) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: Destroy deferred (in handler)", name_);
    lockBlock_.enter();
    waitingDestroy_ = true;
    lockBlock_.exit();
    return;
  }
  lockBlock_.enter();
  bool locked = locks_ > 0;
  if (locked) waitingDestroy_ = true;
  lockBlock_.exit();
  if (locked) {
    log(_debug_coms, LOG_INFO, 0, 0, "%s: Destroy deferred because of locks.", name_);
    return;
  }
  // A close still on its way out goes out first; the next heartbeat tick
  // ends the wait whatever happens. A close asked for just before the
  // destroy may not even be written yet: it waits to be gathered with the
  // other small units of the turn.
  if (closing_.load() && !cleanedUp_) {
    flushStage();
    if (!cleanedUp_ && writePending()) {
      latentDestroy_ = true;
      return;
    }
  }
  finalDestroy();
}

void Connection::finalDestroy() {
  cleanup();
  deleteScheduled_ = true;
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: Destroy calling deleteLater", name_);
  context_->deleteLater(this, deleteLaterCallback);
}

void Connection::destroyIfOrphan() {
  if (isServer() && !accepted_ && !deleted_.load()) {
    deleted_.store(true);
    doDestroy();
  }
}

void Connection::cleanup() {
  if (cleanedUp_) return;
  cleanedUp_ = true;
  connected_.store(false);
  delete readEvent_;
  delete writeEvent_;
  delete heartbeatTimer_;
  delete lostTimer_;
  delete readAgainTimer_;
  readEvent_ = writeEvent_ = nullptr;
  heartbeatTimer_ = lostTimer_ = readAgainTimer_ = nullptr;
  if (ssl_ != nullptr) {
    // A session that failed must not be shut down; a healthy one says
    // close_notify once, without waiting for the peer's.
    if (!sslBroken_ && handshakeDone_) (void)SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ssl_ = nullptr;
    gather_ = nullptr;
    gatherSize_.store(0);
  }
  (void)comsSslErrors();
  if (sslContext_ != nullptr) {
    SSL_CTX_free(sslContext_);
    sslContext_ = nullptr;
  }
  if (socket_ >= 0) {
    ::close(socket_);
    socket_ = -1;
  }
  writeQueue_.clear();
  queuedBytes_ = 0;
  stage_.clear();
  stage_.shrink_to_fit();
  readBuffer_.reset();
  pendingBytes_.store(0);
  log(_debug_coms, LOG_INFO, 0, 0, "%s: Connection cleanup (sent = %lld, received = %lld)", name_,
      bytesSent_.load(), bytesReceived_.load());
}

void Connection::deleteLaterCallback(void* object) {
  auto* c = static_cast<Connection*>(object);
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: connection deleted", c->name_);
  ComsThreadContext* context = c->context_;
  context->forgetDirty(c);
  delete c;
  comsReleaseContext(context);
}

// ---------------------------------------------------------------------------
// Getters

std::string Connection::getPeerAddress() {
  CriticalGuard guard(infoLock_);
  return peerAddress_;
}

in_addr_t Connection::getAddress() {
  CriticalGuard guard(resolveBlock_);
  return address_;
}

std::string Connection::getProtocol() {
  CriticalGuard guard(infoLock_);
  return protocol_;
}

std::string Connection::getCipher() {
  CriticalGuard guard(infoLock_);
  return cipher_;
}

X509* Connection::getPeerCertificate() {
  CriticalGuard guard(infoLock_);
  return peerCertificate_;
}

std::string Connection::getConnectionInfo() {
  CriticalGuard guard(infoLock_);
  if (peerCertificate_ == nullptr) return "none";
  int nid = X509_get_signature_nid(peerCertificate_);
  const char* sig = nid != NID_undef ? OBJ_nid2sn(nid) : "unknown";
  EVP_PKEY* key = X509_get0_pubkey(peerCertificate_);
  char tail[64];
  std::snprintf(tail, sizeof tail, "-%d", key != nullptr ? EVP_PKEY_bits(key) : 0);
  return comsSubject(peerCertificate_) + "-" + comsIssuer(peerCertificate_) + ", sig: " + sig + tail;
}
