// Connection: one TLS connection between agent and server, carrying the
// control protocol (typed hello, completion, heartbeats, timing, latency
// probes, close) and framed Messages. A client connection is made with
// create() and connect(); a server connection is made by a Connector for
// each accepted socket. Every connection lives on one coms thread, where its
// state is kept and its listener is called.
//
// Thread-safety: the public operations (connect, send, setTiming, close,
// destroy, addLock/removeLock, the getters) may be called from any thread;
// they reach the connection's state as operations queued to its coms thread.
// Listener callbacks run on that thread.
#pragma once

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "coms/control_parser.h"
#include "runtime/critical_block.h"
#include "runtime/event.h"

class ComsThreadContext;
class Connection;
class Connector;
class Message;
struct DeferredOp;

// Told about a connection's life and its messages, on its coms thread.
class ConnectionListener {
 public:
  virtual ~ConnectionListener() = default;
  // 0: the connection deletes the message; 1: the listener keeps it. Any
  // other value is logged and the message is kept.
  virtual int onReceive(Connection* connection, Message* message) = 0;
  // The connection could not be established or was refused (error codes of
  // messageFromError).
  virtual void onNoConnect(Connection* connection, int error) = 0;
  // An established connection broke.
  virtual void onLost(Connection* connection) = 0;
  // The peer sent a close.
  virtual void onClosed(Connection* connection) = 0;
  // The hello was accepted: the connection is ready for messages.
  virtual void onConnectComplete(Connection* connection) = 0;
  // The host name was resolved: `status` 0 or -3, `elapsedMs` how long the
  // resolver took.
  virtual void onResolveComplete(Connection* connection, int status, int elapsedMs) {
    (void)connection;
    (void)status;
    (void)elapsedMs;
  }
};

// Told about every latency reply (optional; see setLatencyListener).
class LatencyListener {
 public:
  virtual ~LatencyListener() = default;
  virtual void onLatency(Connection* connection, int latencyMs, int driftMs) = 0;
};

enum : int { SM_READ = 1, SM_WRITE = 2, SM_ACCEPT = 3, SM_CONNECT = 4 };

class Connection : public EventHandler, private ControlSink {
 public:
  static constexpr size_t kReadBufferSize = 16384;
  static constexpr size_t kNameSize = 81;

  // Starts the coms threads once: the property "coms_threads" (default 1,
  // negative values 1, above 32 32). Logs "Will start %d coms threads".
  static void comsInit();

  // A client connection to host:service, not yet connected, placed on the
  // least busy coms thread. A host ending in ":v0" is connected without the
  // suffix and always speaks protocol version 0. Without `key` the
  // connection presents the anonymous login certificate. `certificate` and
  // `key` stay the caller's and must outlive the connection. Null when host
  // or service is null or no coms thread runs.
  [[nodiscard]] static Connection* create(const char* host, const char* service, X509* certificate, EVP_PKEY* key,
                                          int type);

  // Deferred destruction: the connection is cleaned up and deleted on its
  // thread once no handler of it runs and no lock holds it. After this call
  // no other operation may be used on it ("!_deleted"), and its listeners
  // are not called any more: a callback already running on the coms thread
  // is waited for (unless destroy is called from that thread), so the
  // caller may free its listener once destroy returns.
  static void destroy(Connection* connection);

  // The text of a status code of this layer (-1 to -23), "" for others.
  [[nodiscard]] static const char* messageFromError(int code);
  // "SM_READ", "SM_WRITE", "SM_ACCEPT", "SM_CONNECT" or "unknown".
  [[nodiscard]] static const char* modeName(int mode);

  // Before connect() (or, on a server connection, in newConnection).
  void setListener(ConnectionListener* listener) { listener_.store(listener); }
  [[nodiscard]] ConnectionListener* getListener() const { return listener_.load(); }
  void setLatencyListener(LatencyListener* listener) { latencyListener_.store(listener); }
  // Protocol version sent in the hello (0: version 0, C_TYPE), and its flag.
  void setTypeVersion(int version) { typeVersion_ = static_cast<uint32_t>(version); }
  void setHelloFlag(int flag) { helloFlag_ = static_cast<uint8_t>(flag); }
  // Send latency probes instead of heartbeats (version-2 connections).
  void setLatencyProbe(bool on) { latencyProbe_.store(on); }

  // Starts connecting (asynchronous); failures go to onNoConnect. Returns 0.
  int connect();
  // Queues `message` for sending; the connection owns it from now on.
  // Returns 0, or -10 when the connection is not connected or is closing
  // (the message is deleted then), or -12 for a message with no payload.
  int send(Message* message);
  // Sets this end's timing and tells the peer (C_SETTIMING) when connected.
  void setTiming(int lostMs, int heartbeatMs);
  // Sends one latency probe now (version-2 connections; ignored on others).
  void sendLatencyProbe();
  // Sends C_CLOSE; the connection is closing from then on.
  void close();

  // Pending operations that keep the connection alive: destroy() waits for
  // the last removeLock. Any thread.
  void addLock();
  void removeLock();

  // "%s-%s, sig: %s-%d" (peer subject, issuer, signature algorithm, key
  // bits), or "none" without a peer certificate.
  [[nodiscard]] std::string getConnectionInfo();

  // ---- state, readable from any thread ----
  [[nodiscard]] const char* getName() const { return name_; }
  [[nodiscard]] const std::string& getHost() const { return host_; }
  [[nodiscard]] const std::string& getService() const { return service_; }
  [[nodiscard]] int getType() const { return static_cast<int>(type_); }
  [[nodiscard]] int getTypeVersion() const { return static_cast<int>(typeVersion_); }
  [[nodiscard]] int getHelloFlag() const { return helloFlag_; }
  [[nodiscard]] bool isServer() const { return connector_ != nullptr; }
  [[nodiscard]] bool isConnected() const { return connected_.load(); }
  [[nodiscard]] bool isClosing() const { return closing_.load(); }
  [[nodiscard]] int getServerVersion() const { return serverVersion_.load(); }
  [[nodiscard]] int getLatency() const { return latency_.load(); }
  [[nodiscard]] int getDrift() const { return drift_.load(); }
  [[nodiscard]] bool isTimingEnabled() const { return timingEnabled_.load(); }
  [[nodiscard]] int getLostTimeMs() const { return lostTimeMs_.load(); }
  [[nodiscard]] int getHeartbeatMs() const { return heartbeatMs_.load(); }
  [[nodiscard]] long long getBytesSent() const { return bytesSent_.load(); }
  [[nodiscard]] long long getBytesReceived() const { return bytesReceived_.load(); }
  // Bytes accepted by send() and not yet handed to TLS.
  [[nodiscard]] long long getPendingBytes() const { return pendingBytes_.load(); }
  // The size of the buffer in which TLS records wait to be written to the
  // socket together: small, or large while large messages go out (0 before
  // the connection has a TLS session).
  [[nodiscard]] long getWriteBufferSize() const { return gatherSize_.load(); }
  [[nodiscard]] int getMode() const { return mode_.load(); }
  [[nodiscard]] int getLocks();
  // Dotted peer address ("" until known), its IPv4 address in network order.
  [[nodiscard]] std::string getPeerAddress();
  [[nodiscard]] in_addr_t getAddress();
  // The negotiated protocol and cipher ("" before the handshake).
  [[nodiscard]] std::string getProtocol();
  [[nodiscard]] std::string getCipher();
  // The peer's certificate (valid until the connection is deleted), or null.
  [[nodiscard]] X509* getPeerCertificate();

 private:
  friend class ComsThreadContext;
  friend class Connector;

  // Brackets every call of a listener: counts it (destroy waits for it) and
  // marks the connection as in a handler.
  class ListenerCall {
   public:
    explicit ListenerCall(Connection* c) : c_(c) {
      c_->callbacks_.fetch_add(1);
      c_->inHandler_++;
    }
    ~ListenerCall() {
      c_->inHandler_--;
      c_->callbacks_.fetch_sub(1);
    }
    ListenerCall(const ListenerCall&) = delete;
    ListenerCall& operator=(const ListenerCall&) = delete;

   private:
    Connection* c_;
  };

  enum OpKind : int {
    kOpAttach = 1,
    kOpConnect,
    kOpDestroy,
    kOpSend,
    kOpClose,
    kOpRelease,
    kOpTiming,
    kOpResolved,
    kOpProbe,
  };

  // A client connection (made on its coms thread by create()).
  Connection(ComsThreadContext* context, const char* host, const char* service, X509* certificate, EVP_PKEY* key,
             int type);
  // A server connection for an accepted socket.
  Connection(ComsThreadContext* context, Connector* connector, int socket, const sockaddr_in& peer);
  ~Connection() override;

  // Runs one queued operation on the coms thread.
  static int executeOp(DeferredOp* op);
  // Queues an operation holding a lock on the connection for its time.
  void queueOp(OpKind kind, void* message = nullptr, long long value = 0);
  static void resolverDone(Connection* c, int status, in_addr_t address, int elapsedMs);

  // ---- on the coms thread ----
  void handleEvent(Event* event) override;
  void doConnect();
  void continueConnect(int status, int elapsedMs);
  void doAttach();
  void doSend(Message* message);
  void doClose();
  void doDestroy();
  void doTiming();
  void doProbe();
  void finalDestroy();
  static void deleteLaterCallback(void* object);
  void createEvents();
  void enableReadAhead();
  // Puts the socket under the TLS session: reads straight from it, writes
  // through the gather buffer. False when the library is out of memory.
  [[nodiscard]] bool attachSocket();
  // The gather buffer's size for large messages or for small units only;
  // `large` also marks the connection as carrying large messages now.
  void sizeGather(bool large);
  // Records TLS has made that wait in the gather buffer.
  [[nodiscard]] bool gathered() const;
  // Bytes wait somewhere on their way out: in the write queue or gathered.
  [[nodiscard]] bool writePending() const { return !writeQueue_.empty() || gathered(); }
  // Writes the gathered records to the socket. False when some are left
  // (the write event is then armed) or the connection failed.
  bool flushGathered();
  void handshakeStep();
  void handshakeDone();
  void doReadEvent();
  void processWriteQueue();
  void handleSSLError(int ret, int sslError, int err);
  // Ends the connection: the listener hears onLost (established) or
  // onNoConnect(error) (not yet), then cleanup. Only the first call counts.
  void fail(int error);
  void reportNoConnect(int error);
  void reportLost();
  void cleanup();
  // A server connection its connector's listener never accepted belongs to
  // nobody: it is destroyed when it ends.
  void destroyIfOrphan();
  void resetLostTimer();
  void armHeartbeat();
  [[nodiscard]] bool established() const { return completed_ || isServer(); }
  [[nodiscard]] bool version2() const { return version2_; }

  // Writing: control units and small messages are gathered (stage) and sent
  // as one TLS record; writeBytes hands bytes to TLS or to the write queue.
  void stage(const void* data, size_t n);
  void writeControl(unsigned char code, const unsigned char* fields = nullptr, size_t n = 0);
  void markDirty();
  // After bytes went out: a refused connection ends once its refusal is sent.
  void afterWrite();
  void peerClosed();
  void onHeartbeatTimer();
  void onLostTimer();
  void flushStage();
  // `owner`, when given, keeps `data` alive: queued bytes then stay where
  // they are instead of being copied.
  void writeBytes(const char* data, size_t n, const std::shared_ptr<Message>& owner = nullptr);
  void queueBytes(const char* data, size_t n, const std::shared_ptr<Message>& owner);
  bool checkQueueLimit();

  // ControlSink.
  bool onHeartbeat() override;
  bool onHello(uint32_t type, uint8_t flag, uint32_t typeVersion, bool v2) override;
  bool onComplete(uint32_t serverVersion, bool v2) override;
  bool onAuthFail() override;
  bool onClose() override;
  bool onEnableTiming() override;
  bool onSetTiming(uint32_t lostTimeMs, uint32_t heartbeatMs) override;
  bool onLatencyProbe(uint32_t seconds, uint32_t micros) override;
  bool onLatencyReply(uint32_t probeSeconds, uint32_t probeMicros, uint32_t peerSeconds,
                      uint32_t peerMicros) override;
  bool onMessage(std::unique_ptr<Message> message) override;
  bool onIgnoredCode(unsigned char code) override;
  void onFrameError(const char* text, uint32_t length, uint32_t type) override;

  char name_[kNameSize];
  std::string host_;
  std::string service_;
  bool forceV0_ = false;
  X509* certificate_ = nullptr;  // the creator's, or the anonymous pair (owned)
  EVP_PKEY* privateKey_ = nullptr;
  bool ownsPair_ = false;
  uint32_t type_;
  uint32_t typeVersion_ = 0;
  uint8_t helloFlag_ = 0;
  bool version2_ = false;
  Connector* connector_ = nullptr;
  ComsThreadContext* context_;
  std::atomic<int> mode_{0};

  int socket_ = -1;
  SSL* ssl_ = nullptr;
  SSL_CTX* sslContext_ = nullptr;
  BIO* gather_ = nullptr;  // the session's write buffer; owned by ssl_
  std::atomic<long> gatherSize_{0};
  bool largeSent_ = false;  // a large message was sent since the last heartbeat
  X509* peerCertificate_ = nullptr;  // guarded by infoLock_ for other threads
  std::string peerAddress_;          // guarded by infoLock_
  in_addr_t address_ = 0;            // guarded by resolveBlock_
  int port_ = 0;
  std::string protocol_;  // guarded by infoLock_
  std::string cipher_;

  std::unique_ptr<char[]> readBuffer_;
  ControlParser parser_{this};

  std::atomic<bool> connected_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> timingEnabled_{false};
  std::atomic<int> lostTimeMs_;
  std::atomic<int> heartbeatMs_;
  std::atomic<bool> latencyProbe_{false};
  std::atomic<int> latency_{-1};
  std::atomic<int> drift_{0};
  std::atomic<int> serverVersion_{1};

  FdEvent* readEvent_ = nullptr;
  FdEvent* writeEvent_ = nullptr;
  TimerEvent* heartbeatTimer_ = nullptr;
  TimerEvent* lostTimer_ = nullptr;
  // Set when a read turn ended at its bound with records still buffered
  // inside TLS (read ahead), where no poll can see them.
  TimerEvent* readAgainTimer_ = nullptr;

  // The write queue: bytes TLS did not accept yet, oldest first.
  struct QueuedBytes {
    std::unique_ptr<char[]> copy;      // the bytes, when they were copied
    std::shared_ptr<Message> message;  // or the message that holds them
    const char* data;
    size_t size;
    size_t offset;
  };
  std::deque<QueuedBytes> writeQueue_;
  size_t queuedBytes_ = 0;
  std::vector<char> stage_;
  bool dirty_ = false;

  // Lifecycle, on the coms thread.
  bool connectStarted_ = false;
  bool tcpConnected_ = false;
  bool handshakeDone_ = false;
  bool helloReceived_ = false;
  bool accepted_ = false;   // server: the listener took the hello
  bool completed_ = false;  // client: C_COMPLETE or C_COMPLETE2 arrived
  bool finished_ = false;   // the end has been reported
  bool cleanedUp_ = false;
  bool sslBroken_ = false;  // no shutdown may be sent on this session
  bool closeAfterWrite_ = false;
  bool latentDestroy_ = false;
  bool deleteScheduled_ = false;
  int inHandler_ = 0;

  CriticalBlock lockBlock_;  // locks_ and waitingDestroy_
  int locks_ = 0;
  bool waitingDestroy_ = false;
  std::atomic<bool> deleted_{false};

  CriticalBlock resolveBlock_;  // address_ and the resolver's hand-over
  CriticalBlock infoLock_;      // texts read by other threads

  std::atomic<long long> bytesSent_{0};
  std::atomic<long long> bytesReceived_{0};
  std::atomic<long long> pendingBytes_{0};
  std::atomic<int> callbacks_{0};
  std::atomic<ConnectionListener*> listener_{nullptr};
  std::atomic<LatencyListener*> latencyListener_{nullptr};
};
