// Connection on its coms thread: connecting and accepting, the TLS
// handshake, reading, the write queue, TLS errors and the two timers.
#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "coms/client_resolver.h"
#include "coms/coms_error.h"
#include "coms/coms_settings.h"
#include "coms/coms_thread.h"
#include "coms/connection.h"
#include "coms/connector.h"
#include "coms/tls_util.h"
#include "foundation/log.h"
#include "foundation/os_info.h"
#include "wire/byte_order.h"
#include "wire/message.h"

namespace {

// Small writes are gathered up to one TLS record's worth of plaintext.
constexpr size_t kStageFlush = 16384;
// Messages up to this size are gathered; larger ones go out chunk by chunk.
constexpr size_t kStageMessageMax = 8192;
// Reads per read event before the other descriptors get their turn.
constexpr int kReadsPerEvent = 64;
// The write buffer under TLS: small while only small units flow, larger
// while large messages do (fewer, larger socket writes).
constexpr long kGatherSmall = 8 * 1024;
constexpr long kGatherLarge = 256 * 1024;

int elapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// The port of a service: a decimal number from 1 to 65535, else a service
// name looked up for TCP. 0 when neither.
int servicePort(const char* service) {
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(service, &end, 10);
  if (errno == 0 && end != service && *end == '\0') return n >= 1 && n <= 65535 ? static_cast<int>(n) : 0;
  struct servent entry;
  char buffer[4096];
  struct servent* s = s_getservbyname(service, "tcp", &entry, buffer, sizeof buffer);
  return s != nullptr ? ntohs(static_cast<uint16_t>(s->s_port)) : 0;
}

}  // namespace

int comsServicePort(const char* service) { return servicePort(service); }

// ---------------------------------------------------------------------------
// Client connect

void Connection::doConnect() {
  if (connectStarted_ || cleanedUp_ || deleted_.load()) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: connect ignored (already started or ended)", name_);
    return;
  }
  connectStarted_ = true;
  // Held until the resolver's answer has been handled on this thread.
  addLock();
  Connection* self = this;
  ClientResolver::resolveAsync(
      host_, [self](int status, in_addr_t address, int ms) { resolverDone(self, status, address, ms); },
      privateKey_ == nullptr);
}

void Connection::resolverDone(Connection* c, int status, in_addr_t address, int elapsed) {
  c->resolveBlock_.enter();
  if (status == 0) c->address_ = address;
  c->resolveBlock_.exit();
  long long packed = (static_cast<long long>(status) << 32) | static_cast<uint32_t>(elapsed);
  c->queueOp(kOpResolved, nullptr, packed);
  c->removeLock();
}

void Connection::continueConnect(int status, int elapsed) {
  if (cleanedUp_ || deleted_.load()) return;
  log(_debug_coms, LOG_INFO, 0, 0, "%s: doConnect RESOLVE complete", name_);
  {
    ListenerCall call(this);
    if (ConnectionListener* l = listener_.load()) l->onResolveComplete(this, status, elapsed);
  }
  if (status != 0) {
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: No such host: %s", name_, host_.c_str());
    fail(COMS_NO_SUCH_HOST);
    return;
  }
  in_addr_t address = getAddress();
  char dotted[INET_ADDRSTRLEN] = "";
  in_addr a{address};
  inet_ntop(AF_INET, &a, dotted, sizeof dotted);
  infoLock_.enter();
  peerAddress_ = dotted;
  infoLock_.exit();

  sslContext_ = comsClientContext();
  if (sslContext_ == nullptr) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: Unable to create a TLS context: %s", name_, comsSslErrors().c_str());
    fail(COMS_UNABLE_TO_CONNECT);
    return;
  }
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socket_ < 0) {
    log(_debug_coms, LOG_ERROR, errno, 0, "%s: Unable to allocate a socket", name_);
    fail(COMS_NO_SOCKET);
    return;
  }
  port_ = servicePort(service_.c_str());
  if (port_ == 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: No such service: %s", name_, service_.c_str());
    fail(COMS_NO_SUCH_SERVICE);
    return;
  }
  int one = 1;
  (void)::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port_));
  to.sin_addr.s_addr = address;
  if (::connect(socket_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
    int err = errno;
    log(_debug_coms, LOG_WARNING, err, 0, "%s: Unable to connect", name_);
    fail(comsErrorFromErrno(err, COMS_UNABLE_TO_CONNECT));
    return;
  }

  ssl_ = SSL_new(sslContext_);
  if (ssl_ == nullptr || !attachSocket()) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: Unable to create a TLS session: %s", name_, comsSslErrors().c_str());
    fail(COMS_UNABLE_TO_CONNECT);
    return;
  }
  comsInstallTlsLogging(ssl_, name_);
  SSL_set_connect_state(ssl_);
  enableReadAhead();
  if (privateKey_ == nullptr) {
    // An anonymous login request: a throw-away identity.
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    if (comsAnonymousPair(&cert, &key) != 0) {
      fail(COMS_KEY);
      return;
    }
    certificate_ = cert;
    privateKey_ = key;
    ownsPair_ = true;
  }
  int rc = certificate_ != nullptr ? SSL_use_certificate(ssl_, certificate_) : 0;
  if (rc != 1) {
    log(_debug_coms, LOG_ERROR, 0, 0,
        "%s: SSL_use_certificate returned %d (failed).  Cannot use the certificate provided", name_, rc);
    log(_debug_coms, LOG_ERROR, 0, 0, "Cert was...\n%s", comsCertificateText(certificate_).c_str());
    (void)comsSslErrors();
    fail(COMS_CERTIFICATE);
    return;
  }
  if (SSL_use_PrivateKey(ssl_, privateKey_) != 1 || SSL_check_private_key(ssl_) != 1) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: Cannot use the private key provided: %s", name_,
        comsSslErrors().c_str());
    fail(COMS_KEY);
    return;
  }
  mode_.store(SM_CONNECT);
  createEvents();
  // Writable once the TCP connection is made (or has failed).
  writeEvent_->enabled(true);
}

// ---------------------------------------------------------------------------
// Server attach

void Connection::doAttach() {
  if (cleanedUp_) return;
  sslContext_ = connector_->sslContext_;
  SSL_CTX_up_ref(sslContext_);
  int one = 1;
  (void)::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ssl_ = SSL_new(sslContext_);
  if (ssl_ == nullptr || !attachSocket()) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: Unable to create a TLS session: %s", name_, comsSslErrors().c_str());
    fail(COMS_NOT_CONNECTED);
    return;
  }
  comsInstallTlsLogging(ssl_, name_);
  SSL_set_accept_state(ssl_);
  enableReadAhead();
  tcpConnected_ = true;
  mode_.store(SM_ACCEPT);
  createEvents();
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: accepted on coms-%d", name_, context_->index() + 1);
  // The client's first flight may already be here.
  handshakeStep();
  if (!cleanedUp_) flushStage();
}

bool Connection::attachSocket() {
  // Reads come straight from the socket. Writes pass through a buffer that
  // gathers the records of one batch into one socket write: a large message
  // would otherwise cost a system call, a TCP segment and a wake-up of the
  // receiver for every 16 KB record.
  BIO* in = BIO_new_socket(socket_, BIO_NOCLOSE);
  BIO* out = BIO_new_socket(socket_, BIO_NOCLOSE);
  BIO* gather = BIO_new(BIO_f_buffer());
  if (in == nullptr || out == nullptr || gather == nullptr || BIO_set_write_buffer_size(gather, kGatherSmall) != 1) {
    BIO_free(in);
    BIO_free(out);
    BIO_free(gather);
    return false;
  }
  SSL_set_bio(ssl_, in, BIO_push(gather, out));
  gather_ = gather;
  gatherSize_.store(kGatherSmall);
  return true;
}

void Connection::sizeGather(bool large) {
  largeSent_ = largeSent_ || large;
  long size = large ? kGatherLarge : kGatherSmall;
  // A new size drops what the buffer holds: it changes only when empty.
  if (gather_ == nullptr || gatherSize_.load() == size || gathered()) return;
  if (BIO_set_write_buffer_size(gather_, size) == 1) gatherSize_.store(size);
}

bool Connection::gathered() const { return gather_ != nullptr && BIO_wpending(gather_) > 0; }

bool Connection::flushGathered() {
  if (!gathered()) return true;
  ERR_clear_error();
  errno = 0;
  if (BIO_flush(gather_) == 1) return true;
  int err = errno;
  if (BIO_should_retry(gather_)) {
    mode_.store(SM_WRITE);
    writeEvent_->enabled(true);
    return false;
  }
  handleSSLError(-1, SSL_ERROR_SYSCALL, err);
  return false;
}

void Connection::enableReadAhead() {
  // TLS then takes whatever the socket holds in one read, instead of one
  // read for each record's header and another for its body. What it reads
  // beyond the record asked for stays inside the session: doReadEvent reads
  // until TLS wants the socket again, or comes back for it.
  SSL_set_read_ahead(ssl_, 1);
}

void Connection::createEvents() {
  readBuffer_.reset(new char[kReadBufferSize]);
  readEvent_ = new FdEvent(this, socket_, FdEvent::kReadable);
  writeEvent_ = new FdEvent(this, socket_, FdEvent::kWritable);
  writeEvent_->enabled(false);
  heartbeatTimer_ = new TimerEvent(this);
  lostTimer_ = new TimerEvent(this);
  readAgainTimer_ = new TimerEvent(this);
  armHeartbeat();
  resetLostTimer();
}

void Connection::armHeartbeat() {
  if (heartbeatTimer_ == nullptr) return;
  heartbeatTimer_->set(timingEnabled_.load() ? heartbeatMs_.load() : comsSettings().heartbeatMs);
}

void Connection::resetLostTimer() {
  if (lostTimer_ == nullptr) return;
  lostTimer_->set(timingEnabled_.load() ? lostTimeMs_.load() : comsSettings().lostTimeMs);
}

// ---------------------------------------------------------------------------
// Events

void Connection::handleEvent(Event* event) {
  inHandler_++;
  if (event == lostTimer_) {
    onLostTimer();
  } else if (event == heartbeatTimer_) {
    onHeartbeatTimer();
  } else if (!cleanedUp_) {
    int mode = mode_.load();
    if (mode == SM_CONNECT || mode == SM_ACCEPT) {
      handshakeStep();
    } else if (event == readEvent_ || event == readAgainTimer_) {
      doReadEvent();
    } else if (event == writeEvent_) {
      processWriteQueue();
    }
  }
  if (!cleanedUp_) {
    flushStage();
    afterWrite();
  }
  inHandler_--;
  if (inHandler_ == 0) {
    lockBlock_.enter();
    bool again = waitingDestroy_ && locks_ == 0;
    if (again) waitingDestroy_ = false;
    lockBlock_.exit();
    if (again) doDestroy();
  }
}

void Connection::handshakeStep() {
  if (!tcpConnected_) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      log(_debug_coms, LOG_WARNING, err, 0, "%s: connect failed", name_);
      fail(comsErrorFromErrno(err, COMS_UNABLE_TO_CONNECT));
      return;
    }
    tcpConnected_ = true;
  }
  ERR_clear_error();
  errno = 0;
  int r = isServer() ? SSL_accept(ssl_) : SSL_connect(ssl_);
  if (r == 1) {
    handshakeDone();
    return;
  }
  int err = errno;
  handleSSLError(r, SSL_get_error(ssl_, r), err);
}

void Connection::handshakeDone() {
  handshakeDone_ = true;
  mode_.store(SM_READ);
  writeEvent_->enabled(writePending());
  X509* peer = SSL_get1_peer_certificate(ssl_);
  infoLock_.enter();
  peerCertificate_ = peer;
  protocol_ = SSL_get_version(ssl_);
  cipher_ = SSL_get_cipher_name(ssl_);
  std::string address = peerAddress_;
  infoLock_.exit();
  log(_debug_coms, LOG_INFO, 0, 0, "%s: Handshake complete, peer certificate:\n%s", name_,
      comsCertificateText(peer).c_str());
  // The verification callback took every certificate; here it is only
  // recorded. Whether it is the right one is for the user of the connection.
  std::string subject = peer != nullptr ? comsSubject(peer) : "<no cert>";
  log(_debug_coms, LOG_INFO, 0, 0, isServer() ? "%s: new connection from: %s, %s, %s" : "%s: connected to: %s, %s, %s",
      name_, address.c_str(), subject.c_str(), cipher_.c_str());
  if (peer != nullptr) log(_debug_coms, LOG_INFO, 0, 0, "    Issued by: %s", comsIssuer(peer).c_str());
  if (!isServer()) {
    version2_ = typeVersion_ != 0 && !forceV0_;
    unsigned char hello[9];
    wire::put32(hello, type_);
    hello[4] = helloFlag_;
    if (version2_) {
      wire::put32(hello + 5, typeVersion_);
      writeControl(C_TYPE2, hello, 9);
    } else {
      writeControl(C_TYPE, hello, 5);
    }
    writeControl(C_ENABLE_TIMING);
  }
  // Bytes that arrived with the last handshake flight are already inside
  // the TLS session, where no poll can see them.
  if (SSL_has_pending(ssl_)) doReadEvent();
}

void Connection::doReadEvent() {
  resetLostTimer();
  for (int reads = 0;; reads++) {
    if (cleanedUp_) return;
    if (reads == kReadsPerEvent) {
      // The other descriptors get their turn; bytes already inside TLS are
      // read on the next one.
      if (SSL_has_pending(ssl_)) readAgainTimer_->set(0);
      break;
    }
    if (parser_.stopped()) {
      // Nothing more is read from a connection that is only waiting for its
      // last bytes to go out.
      readEvent_->enabled(false);
      break;
    }
    ERR_clear_error();
    errno = 0;
    // Inside a message body the bytes go straight into the message, also
    // when less than a record fits (the end of a chunk): TLS keeps the rest
    // of the record for the next read, which saves copying it through the
    // read buffer.
    size_t room = 0;
    char* direct = parser_.directRoom(&room);
    int r;
    if (direct != nullptr && room > 0) {
      r = SSL_read(ssl_, direct, room > (1u << 30) ? (1 << 30) : static_cast<int>(room));
      if (r > 0) {
        bytesReceived_ += r;
        parser_.filled(static_cast<size_t>(r));
        continue;
      }
    } else {
      r = SSL_read(ssl_, readBuffer_.get(), static_cast<int>(kReadBufferSize));
      if (r > 0) {
        bytesReceived_ += r;
        parser_.feed(readBuffer_.get(), static_cast<size_t>(r));
        continue;
      }
    }
    int err = errno;
    int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ) break;
    if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && r == 0 && err == 0)) {
      peerClosed();
      return;
    }
    handleSSLError(r, e, err);
    if (cleanedUp_) return;
    break;
  }
  if (!cleanedUp_ && writePending()) processWriteQueue();
}

void Connection::peerClosed() {
  log(_debug_coms, LOG_INFO, 0, 0, "%s: Zero byte successful read.  SSL connection closed.", name_);
  sslBroken_ = true;  // nobody is left to read a close_notify
  if (closing_.load()) {
    // We asked for the close: its end is no news to our listener.
    finished_ = true;
    cleanup();
    destroyIfOrphan();
    return;
  }
  fail(COMS_NOT_CONNECTED);
}

// ---------------------------------------------------------------------------
// Failures

void Connection::handleSSLError(int ret, int sslError, int err) {
  switch (sslError) {
    case SSL_ERROR_WANT_READ:
      // The read event is always armed; the write event only while bytes
      // wait (never during a handshake that waits for the peer).
      if (writeEvent_ != nullptr) {
        int mode = mode_.load();
        writeEvent_->enabled(mode != SM_CONNECT && mode != SM_ACCEPT && writePending());
      }
      return;
    case SSL_ERROR_WANT_WRITE:
      if (writeEvent_ != nullptr) writeEvent_->enabled(true);
      return;
    case SSL_ERROR_WANT_CONNECT:
    case SSL_ERROR_WANT_ACCEPT:
      return;
    case SSL_ERROR_ZERO_RETURN:
      peerClosed();
      return;
    case SSL_ERROR_SSL:
      sslBroken_ = true;
      log(_debug_coms, LOG_WARNING, 0, 0, "%s: SSL error in connection: %s", name_, comsSslErrors().c_str());
      fail(COMS_NOT_CONNECTED);
      return;
    case SSL_ERROR_SYSCALL:
      sslBroken_ = true;
      (void)comsSslErrors();
      if (!established()) {
        log(_debug_coms, LOG_WARNING, err, 0, "%s: SSL error syscall while connecting", name_);
        fail(comsErrorFromErrno(err, err == 0 ? COMS_NOT_CONNECTED : COMS_UNABLE_TO_CONNECT));
      } else {
        log(_debug_coms, LOG_WARNING, err, 0, "%s: SSL error syscall: forcing lost connection", name_);
        fail(COMS_NOT_CONNECTED);
      }
      return;
    default:
      sslBroken_ = true;
      log(_debug_coms, LOG_ERROR, 0, 0, "%s: SSL unexpected failure: ret = %d, ssl_error = %d, errno = %d", name_, ret,
          sslError, err);
      (void)comsSslErrors();
      fail(COMS_NOT_CONNECTED);
      return;
  }
}

void Connection::fail(int error) {
  if (established()) {
    reportLost();
  } else {
    reportNoConnect(error);
  }
  cleanup();
  destroyIfOrphan();
}

void Connection::reportNoConnect(int error) {
  if (finished_) return;
  finished_ = true;
  connected_.store(false);
  log(_debug_coms, LOG_INFO, 0, 0, "%s: unable to connect: (%d) %s", name_, error, comsErrorText(error));
  {
    ListenerCall call(this);
    if (ConnectionListener* l = listener_.load()) l->onNoConnect(this, error);
  }
}

void Connection::reportLost() {
  if (finished_) return;
  finished_ = true;
  connected_.store(false);
  log(_debug_coms, LOG_INFO, 0, 0, "%s: connection lost", name_);
  ListenerCall call(this);
  if (ConnectionListener* l = listener_.load()) {
    auto start = std::chrono::steady_clock::now();
    l->onLost(this);
    int t = elapsedMs(start);
    if (t > comsSettings().longLostMs) log(_debug_coms, LOG_WARNING, 0, 0, "%s: LONG onLost: (t = %d)", name_, t);
  }
}

// ---------------------------------------------------------------------------
// Timers

void Connection::onHeartbeatTimer() {
  if (latentDestroy_) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%p: processing latent destroy", static_cast<void*>(this));
    finalDestroy();
    return;
  }
  if (cleanedUp_) return;
  // A connection no large message went through since the last beat gives
  // its large write buffer back.
  if (!largeSent_) sizeGather(false);
  largeSent_ = false;
  if (connected_.load() && !closing_.load()) {
    if (version2_ && latencyProbe_.load()) {
      doProbe();
    } else {
      writeControl(C_HB);
    }
  }
  armHeartbeat();
}

void Connection::onLostTimer() {
  if (cleanedUp_) return;
  log(_debug_coms, LOG_INFO, 0, 0, "%s: lost timer.  Connection lost", name_);
  fail(COMS_HANDSHAKE_TIMEOUT);
}

// ---------------------------------------------------------------------------
// Writing

void Connection::markDirty() {
  if (!dirty_) {
    dirty_ = true;
    context_->markDirty(this);
  }
}

void Connection::stage(const void* data, size_t n) {
  if (cleanedUp_) return;
  const char* p = static_cast<const char*>(data);
  stage_.insert(stage_.end(), p, p + n);
  if (stage_.size() >= kStageFlush) {
    flushStage();
  } else {
    markDirty();
  }
}

void Connection::writeControl(unsigned char code, const unsigned char* fields, size_t n) {
  unsigned char unit[17];
  unit[0] = code;
  if (n > 0) std::memcpy(unit + 1, fields, n);
  stage(unit, n + 1);
}

void Connection::flushStage() {
  dirty_ = false;
  if (cleanedUp_ || stage_.empty()) return;
  if (!handshakeDone_) return;  // kept until the session can carry it
  // Moved out first: a failure inside writeBytes clears the connection's
  // buffers.
  std::vector<char> out;
  out.swap(stage_);
  writeBytes(out.data(), out.size());
  if (!cleanedUp_ && stage_.empty()) {
    out.clear();
    stage_.swap(out);  // keep the capacity
  }
}

void Connection::queueBytes(const char* data, size_t n, const std::shared_ptr<Message>& owner) {
  QueuedBytes q{nullptr, owner, data, n, 0};
  if (owner == nullptr) {
    q.copy.reset(new char[n]);
    std::memcpy(q.copy.get(), data, n);
    q.data = q.copy.get();
  }
  writeQueue_.push_back(std::move(q));
  queuedBytes_ += n;
  pendingBytes_ += static_cast<long long>(n);
}

bool Connection::checkQueueLimit() {
  size_t limit = comsSettings().writeQueueLimit;
  if (queuedBytes_ <= limit) return true;
  log(_debug_coms, LOG_ERROR, 0, 0,
      "%s: write queue of %zu bytes is over its limit of %zu bytes: the peer does not read.  Connection lost", name_,
      queuedBytes_, limit);
  fail(COMS_NOT_CONNECTED);
  return false;
}

void Connection::writeBytes(const char* data, size_t n, const std::shared_ptr<Message>& owner) {
  if (cleanedUp_ || ssl_ == nullptr || n == 0) return;
  if (!writeQueue_.empty()) {
    queueBytes(data, n, owner);
    log(_debug_coms, LOG_TRACE, 0, 0, "%s: there is a write queue.  Saved: %d", name_, static_cast<int>(n));
    (void)checkQueueLimit();
    return;
  }
  while (n > 0) {
    ERR_clear_error();
    errno = 0;
    int chunk = n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
    int r = SSL_write(ssl_, data, chunk);
    if (r > 0) {
      bytesSent_ += r;
      data += r;
      n -= static_cast<size_t>(r);
      continue;
    }
    int err = errno;
    int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
      queueBytes(data, n, owner);
      mode_.store(SM_WRITE);
      writeEvent_->enabled(true);
      log(_debug_coms, LOG_DEBUG, 0, 0, "%s: not all bytes were written: %d were saved on the queue (mode = write)",
          name_, static_cast<int>(n));
      (void)checkQueueLimit();
      return;
    }
    handleSSLError(r, e, err);
    return;
  }
  (void)flushGathered();
}

void Connection::processWriteQueue() {
  if (!flushGathered()) return;
  while (!writeQueue_.empty()) {
    if (cleanedUp_) return;
    QueuedBytes& q = writeQueue_.front();
    size_t left = q.size - q.offset;
    ERR_clear_error();
    errno = 0;
    int r = SSL_write(ssl_, q.data + q.offset, left > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(left));
    if (r > 0) {
      q.offset += static_cast<size_t>(r);
      queuedBytes_ -= static_cast<size_t>(r);
      pendingBytes_ -= r;
      bytesSent_ += r;
      if (q.offset == q.size) writeQueue_.pop_front();
      continue;
    }
    int err = errno;
    int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
      writeEvent_->enabled(e == SSL_ERROR_WANT_WRITE);
      return;
    }
    handleSSLError(r, e, err);
    return;
  }
  if (!flushGathered()) return;
  if (mode_.load() == SM_WRITE) mode_.store(SM_READ);
  if (writeEvent_ != nullptr) writeEvent_->enabled(false);
  afterWrite();
}

void Connection::afterWrite() {
  if (cleanedUp_ || writePending() || !stage_.empty()) return;
  if (closeAfterWrite_) {
    finished_ = true;
    cleanup();
    destroyIfOrphan();
    return;
  }
  if (latentDestroy_) finalDestroy();
}

// ---------------------------------------------------------------------------
// Operations on the coms thread

void Connection::doSend(Message* message) {
  std::unique_ptr<Message> m(message);
  pendingBytes_ -= static_cast<long long>(m->size());
  if (cleanedUp_ || !connected_.load() || closing_.load()) {
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: not connected: message of type %d dropped", name_, m->getMessageType());
    return;
  }
  if (m->setFrameLength() != 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: message of type %d has no frame: dropped", name_, m->getMessageType());
    return;
  }
  uint64_t total = m->size();
  if (total <= kStageMessageMax) {
    for (const MessageChunk* c = m->firstChunk(); c != nullptr; c = c->next) stage(c->data, c->used);
    return;
  }
  flushStage();
  sizeGather(true);
  // Whatever TLS does not take at once waits in the queue inside the
  // message itself: a large message is never copied again. Its small chunks
  // (the frame header, to begin with) are gathered and topped up from the
  // next large one to a full record, instead of each going out as a record
  // of its own.
  std::shared_ptr<Message> shared(m.release());
  for (const MessageChunk* c = shared->firstChunk(); c != nullptr && !cleanedUp_; c = c->next) {
    if (c->used < kStageFlush) {
      stage(c->data, c->used);
      continue;
    }
    size_t top = 0;
    if (!stage_.empty()) {
      top = std::min(c->used, kStageFlush - stage_.size());
      stage(c->data, top);
    }
    flushStage();
    writeBytes(c->data + top, c->used - top, shared);
  }
}

void Connection::doClose() {
  if (cleanedUp_ || closing_.load()) return;
  log(_debug_coms, LOG_INFO, 0, 0, "%s: sending close", name_);
  if (handshakeDone_) writeControl(C_CLOSE);
  closing_.store(true);
  connected_.store(false);
  if (!handshakeDone_) {
    finished_ = true;
    cleanup();
    destroyIfOrphan();
  }
}

void Connection::doTiming() {
  if (cleanedUp_ || !connected_.load()) return;
  unsigned char fields[8];
  wire::put32(fields, static_cast<uint32_t>(lostTimeMs_.load()));
  wire::put32(fields + 4, static_cast<uint32_t>(heartbeatMs_.load()));
  writeControl(C_SETTIMING, fields, 8);
  if (timingEnabled_.load()) {
    armHeartbeat();
    resetLostTimer();
  }
}

void Connection::doProbe() {
  if (cleanedUp_ || !connected_.load()) return;
  if (!version2_) {
    // A version-0 peer knows no latency probe.
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: no latency probe on a version-0 connection", name_);
    return;
  }
  struct timeval now;
  gettimeofday(&now, nullptr);
  unsigned char fields[8];
  wire::put32(fields, static_cast<uint32_t>(now.tv_sec));
  wire::put32(fields + 4, static_cast<uint32_t>(now.tv_usec));
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: sending C_GET_LD (%d.%06d)", name_, static_cast<int>(now.tv_sec),
      static_cast<int>(now.tv_usec));
  writeControl(C_GET_LD, fields, 8);
}
