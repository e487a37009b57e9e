#include "coms/stream_connector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "coms/coms_settings.h"
#include "coms/tls_util.h"
#include "foundation/log.h"
#include "runtime/daemon_thread.h"

int comsServicePort(const char* service);  // connection_io.cpp

class StreamListenThread : public DaemonThread {
 public:
  explicit StreamListenThread(StreamConnector* connector) : DaemonThread("stream-listen"), connector_(connector) {
    setDeleteOnExit(false);
  }
  void run() override {
    setInitialized();
    connector_->acceptLoop();
  }

 private:
  StreamConnector* connector_;
};

namespace {
constexpr int kListenQueue = 50;
constexpr int kJoinLimitMs = 10000;
}  // namespace

StreamConnector::StreamConnector(StreamConnectorListener* listener, X509* certificate, EVP_PKEY* key)
    : listener_(listener) {
  comsLibraryInit();
  std::string error;
  sslContext_ = comsServerContext(certificate, key, &error);
  if (sslContext_ == nullptr) {
    log(_debug_coms, LOG_ERROR, 0, 0, "StreamConnector: %s", error.c_str());
    return;
  }
  comsMakeBlocking(sslContext_);
  log(_debug_coms, LOG_INFO, 0, 0, "StreamConnector: SSL context created with certificate: \n%s",
      comsCertificateText(certificate).c_str());
}

StreamConnector::~StreamConnector() {
  close();
  if (sslContext_ != nullptr) SSL_CTX_free(sslContext_);
}

int StreamConnector::bind(const char* port) {
  if (port == nullptr || socket_ >= 0 || sslContext_ == nullptr) return -1;
  log(_debug_coms, LOG_INFO, 0, 0, "StreamConnector: binding to port: %s", port);
  name_ = std::string("X-") + port;
  int number;
  char* end = nullptr;
  long n = std::strtol(port, &end, 10);
  if (end != port && *end == '\0' && n >= 0 && n <= 65535) {
    number = static_cast<int>(n);
  } else if ((number = comsServicePort(port)) == 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "%s: getservbyname() failed.", name_.c_str());
    return -1;
  }
  const ComsSettings& settings = comsSettings();
  for (int attempt = 1;; attempt++) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      log(_debug_coms, LOG_ERROR, errno, 0, "%s: socket() failed", name_.c_str());
      return -1;
    }
    int one = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<uint16_t>(number));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      if (::listen(fd, kListenQueue) != 0) {
        log(_debug_coms, LOG_ERROR, errno, 0, "%s: Unable to listen() to port", name_.c_str());
        ::close(fd);
        return -1;
      }
      socklen_t len = sizeof addr;
      if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) port_ = ntohs(addr.sin_port);
      socket_ = fd;
      break;
    }
    int err = errno;
    ::close(fd);
    if (err != EADDRINUSE || attempt >= settings.bindRetries) {
      log(_debug_coms, LOG_ERROR, err, 0, "%s: Unable to bind() to port", name_.c_str());
      return -1;
    }
    log(_debug_coms, LOG_WARNING, 0, 0, "%s: Socket still in use... Will retry", name_.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(settings.bindRetryMs));
  }
  stopping_.store(false);
  thread_ = new StreamListenThread(this);
  if (thread_->start() != 0) {
    delete thread_;
    thread_ = nullptr;
    ::close(socket_);
    socket_ = -1;
    return -1;
  }
  return 0;
}

void StreamConnector::acceptLoop() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(socket_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (stopping_.load()) {
      if (fd >= 0) ::close(fd);
      return;
    }
    if (fd < 0) {
      int err = errno;
      if (err == EINTR || err == ECONNABORTED || err == EPROTO) continue;
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
        // Out of descriptors for now: the listener stays, and tries again
        // once some are freed.
        log(_debug_coms, LOG_ERROR, err, 0, "%s: stream socket accept failed for now", name_.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      log(_debug_coms, LOG_ERROR, err, 0, "%s: stream socket accept failed unexpectedly", name_.c_str());
      return;
    }
    char dotted[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    listener_->onNewSocket(fd, dotted);
  }
}

void StreamConnector::close() {
  if (thread_ != nullptr) {
    stopping_.store(true);
    // Wakes the blocked accept.
    (void)::shutdown(socket_, SHUT_RDWR);
    if (thread_->join(kJoinLimitMs)) {
      delete thread_;
    } else {
      log(_debug_coms, LOG_ERROR, 0, 0, "%s: the listen thread did not stop", name_.c_str());
    }
    thread_ = nullptr;
  }
  if (socket_ >= 0) {
    ::close(socket_);
    socket_ = -1;
  }
}
