#include "coms/connector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "coms/coms_settings.h"
#include "coms/coms_thread.h"
#include "coms/connection.h"
#include "coms/tls_util.h"
#include "foundation/log.h"
#include "runtime/deferred_op.h"

int comsServicePort(const char* service);  // connection_io.cpp

namespace {

constexpr int kListenQueue = 50;
// Accepts per readiness event, so that a flood of connections does not
// starve the other descriptors of the first coms thread.
constexpr int kAcceptsPerEvent = 64;
// Pause after the process ran out of descriptors: the pending connection
// stays in the kernel's queue instead of waking the loop again at once.
constexpr int kAcceptBackoffMs = 100;

}  // namespace

Connector::Connector(ConnectorListener* listener, SSL_CTX* context, int serverVersion)
    : listener_(listener), sslContext_(context), serverVersion_(serverVersion) {}

Connector::~Connector() { SSL_CTX_free(sslContext_); }

Connector* Connector::create(ConnectorListener* listener, X509* certificate, EVP_PKEY* key, int serverVersion) {
  Connection::comsInit();
  const std::vector<ComsThreadContext*>& contexts = comsContexts();
  if (contexts.empty()) return nullptr;
  // The anonymous pair is made here, in the caller, not on the coms thread.
  X509* cert = certificate;
  EVP_PKEY* pkey = key;
  bool anonymous = cert == nullptr && pkey == nullptr;
  if (anonymous && comsAnonymousPair(&cert, &pkey) != 0) return nullptr;
  Connector* made = nullptr;
  int rc = contexts[0]->runSync([&]() {
    std::string error;
    SSL_CTX* ctx = comsServerContext(cert, pkey, &error);
    if (ctx == nullptr) {
      log(_debug_coms, LOG_ERROR, 0, 0, "Connector: %s", error.c_str());
      return -1;
    }
    made = new Connector(listener, ctx, serverVersion);
    log(_debug_coms, LOG_INFO, 0, 0, "Connector: SSL context created with certificate: \n%s",
        comsCertificateText(SSL_CTX_get0_certificate(ctx)).c_str());
    return 0;
  });
  if (anonymous) {
    // The context holds its own references.
    X509_free(cert);
    EVP_PKEY_free(pkey);
  }
  return rc == 0 ? made : nullptr;
}

int Connector::tryBind(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    log(_debug_coms, LOG_ERROR, errno, 0, "%s: Unable to allocate a socket", name_.c_str());
    return -1;
  }
  int one = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    ::close(fd);
    if (err == EADDRINUSE) return EADDRINUSE;
    log(_debug_coms, LOG_ERROR, err, 0, "bind: Unable to bind to port");
    return -1;
  }
  if (::listen(fd, kListenQueue) != 0) {
    log(_debug_coms, LOG_ERROR, errno, 0, "%s: Unable to listen() on port", name_.c_str());
    ::close(fd);
    return -1;
  }
  socklen_t len = sizeof addr;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) port_.store(ntohs(addr.sin_port));
  socket_ = fd;
  listenEvent_ = new FdEvent(this, fd, FdEvent::kReadable);
  backoffTimer_ = new TimerEvent(this);
  return 0;
}

int Connector::bind(const char* port) {
  if (port == nullptr) return -1;
  int number;
  char* end = nullptr;
  long n = std::strtol(port, &end, 10);
  if (end != port && *end == '\0' && n >= 0 && n <= 65535) {
    number = static_cast<int>(n);
  } else {
    number = comsServicePort(port);
    if (number == 0) {
      log(_debug_coms, LOG_ERROR, 0, 0, "bind: no such service: %s", port);
      return -1;
    }
  }
  name_ = std::string("X-") + port;
  ComsThreadContext* first = comsContexts()[0];
  const ComsSettings& settings = comsSettings();
  // The waits between attempts happen here, in the caller, so that the
  // first coms thread keeps serving its connections meanwhile.
  for (int attempt = 1;; attempt++) {
    int rc = first->runSync([&]() { return socket_ >= 0 ? -1 : tryBind(number); });
    if (rc == 0) {
      log(_debug_coms, LOG_INFO, 0, 0, "%s: listening on port %d", name_.c_str(), port_.load());
      return 0;
    }
    if (rc != EADDRINUSE) return -1;
    if (attempt >= settings.bindRetries) break;
    log(_debug_coms, LOG_WARNING, 0, 0, "bind: port still in use. Will retry...");
    std::this_thread::sleep_for(std::chrono::milliseconds(settings.bindRetryMs));
  }
  log(_debug_coms, LOG_ERROR, EADDRINUSE, 0, "bind: Unable to bind to port");
  return -1;
}

void Connector::handleEvent(Event* event) {
  if (event == backoffTimer_) {
    if (listenEvent_ != nullptr) listenEvent_->enabled(true);
    return;
  }
  acceptAll();
}

void Connector::acceptAll() {
  for (int i = 0; i < kAcceptsPerEvent && socket_ >= 0; i++) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(socket_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK) return;
      if (err == EINTR || err == ECONNABORTED || err == EPROTO) continue;
      log(_debug_coms, LOG_ERROR, err, 0, "%s: accept failed", name_.c_str());
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
        listenEvent_->enabled(false);
        backoffTimer_->set(kAcceptBackoffMs);
      }
      return;
    }
    ComsThreadContext* context = comsBestContext();
    if (context == nullptr) {
      ::close(fd);
      continue;
    }
    auto* c = new Connection(context, this, fd, peer);
    log(_debug_coms, LOG_DEBUG, 0, 0, "%s: accepted %s", name_.c_str(), c->getName());
    c->queueOp(Connection::kOpAttach);
  }
}

bool Connector::callNewConnection(Connection* connection, int type) {
  // Counted before the listener is read: destroy() clears the listener and
  // then waits for the count, so a call either sees no listener or is
  // waited for.
  inFlight_.fetch_add(1);
  ConnectorListener* l = listener_.load();
  bool ok = l != nullptr && l->newConnection(connection, type);
  inFlight_.fetch_sub(1);
  return ok;
}

void Connector::stopListening() {
  delete listenEvent_;
  delete backoffTimer_;
  listenEvent_ = nullptr;
  backoffTimer_ = nullptr;
  if (socket_ >= 0) {
    ::close(socket_);
    socket_ = -1;
  }
}

void Connector::destroy(Connector* connector) {
  if (connector == nullptr) return;
  connector->listener_.store(nullptr);
  (void)comsContexts()[0]->runSync([connector]() {
    connector->stopListening();
    return 0;
  });
  // A newConnection already running on another coms thread finishes before
  // the caller may free the listener.
  for (int i = 0; connector->inFlight_.load() > 0 && i < 30000; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  log(_debug_coms, LOG_INFO, 0, 0, "%s: connector destroyed", connector->name_.c_str());
  connector->release();
}

void Connector::release() {
  if (refs_.fetch_sub(1) == 1) delete this;
}
