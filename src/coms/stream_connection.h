// StreamConnection: a plain blocking TLS stream for file transfer, read and
// written directly by the thread that owns it. There is no control protocol
// on it: the bytes are the tagged encoding (through `output` and `input`)
// and the file data. A client stream announces its type as its first item.
//
// Thread-safety: one thread uses a stream; its destruction is guarded so
// that it happens once. Every wait (connect, read, write) is bounded by
// ComsSettings::streamTimeoutMs.
#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "runtime/critical_block.h"

class StreamConnector;
class StreamMessage;

class StreamConnection {
 public:
  static constexpr size_t kNameSize = 81;

  // An outgoing stream to host:service, not yet connected. `certificate`
  // and `key` stay the caller's (both null: no client certificate). `value`
  // is the type announced once connected (file transfer uses 100).
  StreamConnection(const char* host, const char* service, X509* certificate, EVP_PKEY* key, int value);
  // The accepted side of `socket`: performs the TLS accept at once (bounded
  // by the stream time-out) and logs "%s: new connection". Check
  // isConnected() afterwards.
  StreamConnection(StreamConnector* connector, int socket, const char* peer);
  // Logs "%s: ~StreamConnection", shuts the session down, closes the socket.
  ~StreamConnection();
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  // Connects and completes the handshake, then writes the type. 0, or -2
  // (socket), -3 (host), -4 (service), -5 (certificate), -6 (key), -7 (could
  // not connect), or another code of the connection layer.
  [[nodiscard]] int connect();

  // One TLS read into `buffer`: its result (> 0 bytes, 0 at the end, -1 on
  // an error, a time-out or without a session).
  int read(char* buffer, int n);
  // Writes the n bytes (TLS may take them in pieces): n, or -1.
  int writeBytes(const char* data, int n);
  // Sends the TLS close.
  void shutdownWrite();

  // The writing and the reading encoders of the stream.
  [[nodiscard]] StreamMessage* output() { return output_.get(); }
  [[nodiscard]] StreamMessage* input() { return input_.get(); }

  [[nodiscard]] bool isConnected() const { return ssl_ != nullptr && handshakeDone_; }
  [[nodiscard]] const char* getName() const { return name_; }
  [[nodiscard]] const std::string& getPeerAddress() const { return peerAddress_; }
  [[nodiscard]] int getType() const { return type_; }
  // The peer's certificate (owned by the stream), or null.
  [[nodiscard]] X509* getPeerCertificate() const { return peerCertificate_; }
  [[nodiscard]] std::string getCipher() const;

 private:
  int fail(const char* what, int code);
  int handleSSLError(int ret);
  void handshakeDone();
  void setTimeouts();

  char name_[kNameSize];
  std::string host_;
  std::string service_;
  std::string peerAddress_;
  X509* certificate_ = nullptr;
  EVP_PKEY* privateKey_ = nullptr;
  int type_ = 0;
  bool server_ = false;
  int socket_ = -1;
  SSL_CTX* sslContext_ = nullptr;
  SSL* ssl_ = nullptr;
  X509* peerCertificate_ = nullptr;
  bool handshakeDone_ = false;
  std::unique_ptr<StreamMessage> output_;
  std::unique_ptr<StreamMessage> input_;
  CriticalBlock destroyLock_;
  bool destroyed_ = false;
};
