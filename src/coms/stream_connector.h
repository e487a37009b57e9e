// StreamConnector: accepts blocking TLS streams on a port, on its own listen
// thread, and hands each accepted socket to its listener (which makes the
// StreamConnection, usually on a thread of its own, since the TLS accept
// blocks).
//
// Thread-safety: bind and close from the owning thread; the listener is
// called on the listen thread.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <string>

class StreamListenThread;

class StreamConnectorListener {
 public:
  virtual ~StreamConnectorListener() = default;
  // A new connection: the socket is the listener's from now on.
  virtual void onNewSocket(int socket, const char* peerAddress) = 0;
};

class StreamConnector {
 public:
  // Builds the server TLS context from `certificate` and `key` (the
  // caller's); failures are logged and leave isValid() false.
  StreamConnector(StreamConnectorListener* listener, X509* certificate, EVP_PKEY* key);
  // Stops the listen thread (close()).
  ~StreamConnector();
  StreamConnector(const StreamConnector&) = delete;
  StreamConnector& operator=(const StreamConnector&) = delete;

  [[nodiscard]] bool isValid() const { return sslContext_ != nullptr; }
  // Listens on `port` (decimal, "0" for a free port, or a service name) and
  // starts the listen thread. 0, or -1 (logged).
  [[nodiscard]] int bind(const char* port);
  // Stops listening and waits (bounded) for the listen thread to end.
  void close();
  [[nodiscard]] int getPort() const { return port_; }
  [[nodiscard]] const char* getName() const { return name_.c_str(); }
  [[nodiscard]] SSL_CTX* sslContext() const { return sslContext_; }

 private:
  friend class StreamListenThread;
  void acceptLoop();

  StreamConnectorListener* listener_;
  SSL_CTX* sslContext_ = nullptr;
  std::string name_ = "X-";
  int socket_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  StreamListenThread* thread_ = nullptr;
};
