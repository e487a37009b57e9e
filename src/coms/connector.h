// Connector: the listening side. It accepts TCP connections on a port,
// turns each into a server Connection on the least busy coms thread, and
// asks its ConnectorListener whether to take the hello each one sends.
//
// Thread-safety: create, bind, getPort and destroy from any thread (they run
// on the first coms thread); newConnection is called on the coms thread of
// the connection concerned.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <string>

#include "runtime/event.h"

class Connection;

class ConnectorListener {
 public:
  virtual ~ConnectorListener() = default;
  // The hello of `connection` asks for connection type `type`. True accepts
  // it (set the connection's listener here; the connection is then the
  // listener's to destroy); false refuses it (the peer hears C_AUTHFAIL and
  // the connection destroys itself).
  virtual bool newConnection(Connection* connection, int type) = 0;
};

class Connector : public EventHandler {
 public:
  // A connector presenting `certificate` and `key` (the caller's; they must
  // outlive the connector), or the anonymous pair when both are null.
  // `serverVersion` is sent in C_COMPLETE2. Null when the pair cannot be
  // used (logged).
  [[nodiscard]] static Connector* create(ConnectorListener* listener, X509* certificate, EVP_PKEY* key,
                                         int serverVersion);
  // Stops listening and forgets the listener (waiting for newConnection
  // calls in progress). Connections already accepted live on; the object is
  // freed when the last of them is.
  static void destroy(Connector* connector);

  // Listens on `port` (a decimal number, "0" for any free port, or a service
  // name) on every interface. While the port is in use, retries up to 20
  // times 4 seconds apart ("bind: port still in use. Will retry..."). 0, or
  // -1 (logged).
  [[nodiscard]] int bind(const char* port);
  // The port listened on, 0 before bind.
  [[nodiscard]] int getPort() const { return port_.load(); }
  [[nodiscard]] const char* getName() const { return name_.c_str(); }
  [[nodiscard]] int getServerVersion() const { return serverVersion_; }

  void handleEvent(Event* event) override;

 private:
  friend class Connection;
  Connector(ConnectorListener* listener, SSL_CTX* context, int serverVersion);
  ~Connector() override;

  // On the first coms thread: 0, EADDRINUSE to retry, or -1.
  int tryBind(int port);
  void acceptAll();
  void stopListening();
  bool callNewConnection(Connection* connection, int type);
  void retain() { refs_.fetch_add(1); }
  void release();

  std::atomic<ConnectorListener*> listener_;
  std::atomic<int> inFlight_{0};
  std::atomic<int> refs_{1};
  SSL_CTX* sslContext_;  // shared by the server connections (each holds a reference)
  int serverVersion_;
  std::string name_ = "X-";
  std::atomic<int> port_{0};
  int socket_ = -1;
  FdEvent* listenEvent_ = nullptr;   // first coms thread
  TimerEvent* backoffTimer_ = nullptr;
};
