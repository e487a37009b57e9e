#include "coms/stream_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "coms/client_resolver.h"
#include "coms/coms_error.h"
#include "coms/coms_settings.h"
#include "coms/stream_connector.h"
#include "coms/stream_message.h"
#include "coms/tls_util.h"
#include "foundation/log.h"

int comsServicePort(const char* service);  // connection_io.cpp

StreamConnection::StreamConnection(const char* host, const char* service, X509* certificate, EVP_PKEY* key,
                                   int value)
    : host_(host != nullptr ? host : ""),
      service_(service != nullptr ? service : ""),
      certificate_(certificate),
      privateKey_(key),
      type_(value),
      output_(std::make_unique<StreamMessage>(this, 1)),
      input_(std::make_unique<StreamMessage>(this, 2)) {
  comsLibraryInit();
  std::snprintf(name_, sizeof name_, "C-%s:%s", host_.c_str(), service_.c_str());
}

StreamConnection::StreamConnection(StreamConnector* connector, int socket, const char* peer)
    : peerAddress_(peer != nullptr ? peer : ""),
      server_(true),
      socket_(socket),
      output_(std::make_unique<StreamMessage>(this, 1)),
      input_(std::make_unique<StreamMessage>(this, 2)) {
  std::snprintf(name_, sizeof name_, "S-%s", peerAddress_.c_str());
  int flags = ::fcntl(socket_, F_GETFL, 0);
  if (flags >= 0) (void)::fcntl(socket_, F_SETFL, flags & ~O_NONBLOCK);
  setTimeouts();
  sslContext_ = connector->sslContext();
  SSL_CTX_up_ref(sslContext_);
  ssl_ = SSL_new(sslContext_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, socket_) != 1) {
    (void)fail("Unable to create a TLS session", COMS_NOT_CONNECTED);
    return;
  }
  comsInstallTlsLogging(ssl_, name_);
  ERR_clear_error();
  int r = SSL_accept(ssl_);
  if (r == 1) {
    handshakeDone();
    log(_debug_coms, LOG_INFO, 0, 0, "%s: new connection", name_);
  } else {
    (void)handleSSLError(r);
  }
}

StreamConnection::~StreamConnection() {
  CriticalGuard guard(destroyLock_);
  if (destroyed_) return;
  destroyed_ = true;
  log(_debug_coms, LOG_DEBUG, 0, 0, "%s: ~StreamConnection", name_);
  if (ssl_ != nullptr) {
    if (handshakeDone_) (void)SSL_shutdown(ssl_);
    SSL_free(ssl_);
  }
  ERR_clear_error();
  if (sslContext_ != nullptr) SSL_CTX_free(sslContext_);
  if (peerCertificate_ != nullptr) X509_free(peerCertificate_);
  if (socket_ >= 0) ::close(socket_);
}

void StreamConnection::setTimeouts() {
  int ms = comsSettings().streamTimeoutMs;
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  (void)::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  (void)::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int one = 1;
  (void)::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int StreamConnection::fail(const char* what, int code) {
  log(_debug_coms, LOG_ERROR, 0, 0, "%s: %s", name_, what);
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  ERR_clear_error();
  return code;
}

int StreamConnection::connect() {
  if (ssl_ != nullptr || server_) return isConnected() ? 0 : COMS_UNABLE_TO_CONNECT;
  sslContext_ = comsStreamClientContext();
  if (sslContext_ == nullptr) return fail("Unable to create a TLS context", COMS_UNABLE_TO_CONNECT);
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return fail("Unable to allocate a socket", COMS_NO_SOCKET);
  in_addr_t address = 0;
  if (ClientResolver::resolve(host_.c_str(), &address) != 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "Stream connect() unable to lookup hostname '%s'", host_.c_str());
    return COMS_NO_SUCH_HOST;
  }
  char dotted[INET_ADDRSTRLEN] = "";
  in_addr a{address};
  inet_ntop(AF_INET, &a, dotted, sizeof dotted);
  peerAddress_ = dotted;
  int port = comsServicePort(service_.c_str());
  if (port == 0) {
    log(_debug_coms, LOG_ERROR, 0, 0, "Stream connect() unable to lookup service '%s'", service_.c_str());
    return COMS_NO_SUCH_SERVICE;
  }
  // The connect itself is bounded too: non-blocking, then a poll.
  int flags = ::fcntl(socket_, F_GETFL, 0);
  (void)::fcntl(socket_, F_SETFL, flags | O_NONBLOCK);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = address;
  int rc = ::connect(socket_, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (rc != 0 && errno != EINPROGRESS) {
    log(_debug_coms, LOG_WARNING, errno, 0, "%s: Unable to connect", name_);
    return COMS_UNABLE_TO_CONNECT;
  }
  if (rc != 0) {
    pollfd p{socket_, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    if (::poll(&p, 1, comsSettings().streamTimeoutMs) != 1 ||
        ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      log(_debug_coms, LOG_WARNING, err != 0 ? err : ETIMEDOUT, 0, "%s: Unable to connect", name_);
      return COMS_UNABLE_TO_CONNECT;
    }
  }
  (void)::fcntl(socket_, F_SETFL, flags & ~O_NONBLOCK);
  setTimeouts();

  ssl_ = SSL_new(sslContext_);
  if (ssl_ == nullptr || SSL_set_fd(ssl_, socket_) != 1) return fail("Unable to create a TLS session", COMS_UNABLE_TO_CONNECT);
  comsInstallTlsLogging(ssl_, name_);
  if (certificate_ != nullptr && SSL_use_certificate(ssl_, certificate_) != 1) {
    log(_debug_coms, LOG_ERROR, 0, 0, "Stream connect() Unable to assign connect certificate");
    return fail(comsSslErrors().c_str(), COMS_CERTIFICATE);
  }
  if (privateKey_ != nullptr && (SSL_use_PrivateKey(ssl_, privateKey_) != 1 || SSL_check_private_key(ssl_) != 1)) {
    log(_debug_coms, LOG_ERROR, 0, 0, "Stream connect() Unable to assign private key");
    return fail(comsSslErrors().c_str(), COMS_KEY);
  }
  ERR_clear_error();
  int r = SSL_connect(ssl_);
  if (r == 1) {
    handshakeDone();
    if (output_->writeInt32(type_) != 0) return COMS_NOT_CONNECTED;
    return 0;
  }
  if (r == 0) return fail("SSL_connect refused", COMS_UNABLE_TO_CONNECT);
  (void)handleSSLError(r);
  return COMS_UNABLE_TO_CONNECT;
}

void StreamConnection::handshakeDone() {
  handshakeDone_ = true;
  peerCertificate_ = SSL_get1_peer_certificate(ssl_);
  std::string subject = peerCertificate_ != nullptr ? comsSubject(peerCertificate_) : "<no cert>";
  log(_debug_coms, LOG_INFO, 0, 0, server_ ? "%s: new connection from: %s, %s, %s" : "%s: connected to: %s, %s, %s",
      name_, peerAddress_.c_str(), subject.c_str(), SSL_get_cipher_name(ssl_));
  if (peerCertificate_ != nullptr) {
    log(_debug_coms, LOG_INFO, 0, 0, "    Issued by: %s", comsIssuer(peerCertificate_).c_str());
  }
}

int StreamConnection::handleSSLError(int ret) {
  int err = errno;
  int e = SSL_get_error(ssl_, ret);
  switch (e) {
    case SSL_ERROR_SSL:
      log(_debug_coms, LOG_WARNING, 0, 0, "%s: SSL error in connection: %s", name_, comsSslErrors().c_str());
      break;
    case SSL_ERROR_ZERO_RETURN:
      log(_debug_coms, LOG_DEBUG, 0, 0, "%s: SSL read EOF", name_);
      return 0;
    case SSL_ERROR_SYSCALL:
      if (ret == 0 || err == 0) {
        log(_debug_coms, LOG_DEBUG, 0, 0, "%s: SSL read EOF", name_);
        return 0;
      }
      log(_debug_coms, LOG_WARNING, err, 0, "%s: SSL error syscall: ret = %d, ssl_error= %d", name_, ret, e);
      break;
    default:
      // A socket time-out shows as a want-read or want-write.
      log(_debug_coms, LOG_WARNING, 0, 0, "%s: SSL unexpected failure: ret = %d, ssl_error = %d, errno = %d", name_,
          ret, e, err);
      break;
  }
  ERR_clear_error();
  return -1;
}

int StreamConnection::read(char* buffer, int n) {
  if (ssl_ == nullptr || !handshakeDone_) return -1;
  ERR_clear_error();
  errno = 0;
  int r = SSL_read(ssl_, buffer, n);
  if (r > 0) {
    log(_debug_coms, LOG_TRACE, 0, 0, "%s: read %d bytes", name_, r);
    return r;
  }
  return handleSSLError(r);
}

int StreamConnection::writeBytes(const char* data, int n) {
  if (ssl_ == nullptr || !handshakeDone_) return -1;
  log(_debug_coms, LOG_TRACE, 0, 0, "%s: Writing %d bytes", name_, n);
  int done = 0;
  while (done < n) {
    ERR_clear_error();
    errno = 0;
    int r = SSL_write(ssl_, data + done, n - done);
    if (r <= 0) {
      (void)handleSSLError(r);
      return -1;
    }
    done += r;
  }
  return n;
}

void StreamConnection::shutdownWrite() {
  if (ssl_ != nullptr && handshakeDone_) (void)SSL_shutdown(ssl_);
}

std::string StreamConnection::getCipher() const {
  return ssl_ != nullptr && handshakeDone_ ? SSL_get_cipher_name(ssl_) : "";
}
