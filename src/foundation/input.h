// Input: the readable byte stream of the system, over a local descriptor or
// over a file still arriving from a producer (a remote read, a file copy, a
// masqueraded reader). Arriving bytes go to a private temporary file, through
// an optional EncodingConverter to UTF-8, while readers block (with time-outs)
// until enough is there.
// Thread-safe: producers and any number of readers may call at once. The data
// lock serialises them; destruction waits until every read has left.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/encoding_converter.h"

class Input;

// What feeds an arriving-file Input from elsewhere (the file copy, the
// masqueraded reader). The Input holds its producers until it is closed.
class InputProducer {
 public:
  virtual ~InputProducer() = default;
  // Stop feeding: no appendData or handleError may follow its return.
  virtual void cancel() = 0;
  // The Input lets go of the producer (after cancel). A reference-counted
  // producer drops the Input's reference; a simple one deletes itself.
  virtual void release() = 0;
};

class Input : public EncodingOutput {
 public:
  // The error code recorded for local failures (temporary file, conversion).
  static constexpr int kErrorCode = 28;
  // How long a read waits for the size announcement and for more data.
  static constexpr int kFirstDataTimeoutMs = 40000;
  static constexpr int kMoreDataTimeoutMs = 20000;

  using CloseCallback = std::function<void(Input*)>;

  // Reads the local descriptor `fd`, which the Input takes over (it is
  // closed with the Input). `encoding` null or "UTF-8": bytes as they are;
  // another name, or "*" to detect: converted to UTF-8 on the way, into a
  // temporary file, as readers ask for more.
  Input(int fd, const char* encoding);
  // A file that arrives through appendData. `initialSize` is only logged;
  // the size counts once a producer announces it.
  Input(long long initialSize, CloseCallback closeCallback, const char* encoding);
  // Calls the close callback, cancels and releases the producers, wakes every
  // reader and waits until none is inside read(), then removes the temporary
  // file.
  ~Input() override;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // Producer side: `length` bytes received; `remoteSize` is the size the
  // sender announced. `length` < 1 means the sender reached its end.
  void appendData(const char* data, long long remoteSize, int length);
  // Records an error (the first one stays) and wakes every reader; every
  // later read fails with -2.
  void handleError(int code, const char* text);

  // Reads up to `length` bytes: the count (at least 1), -1 at end of file
  // with nothing read, -2 on error or time-out (getErrorText() says which).
  // Returns early with what is there when a file still arriving has nothing
  // more yet.
  [[nodiscard]] int read(char* buffer, int length);
  // Bytes readable without waiting.
  [[nodiscard]] long long available();
  // The bytes of the stream: a plain local file's current size, a converted
  // local file's whole converted size (converting the rest first), an
  // arriving file's bytes so far (-1 before any data).
  [[nodiscard]] long long size();
  // Moves the read position to `offset` bytes from the start of the stream
  // as read (converted bytes when converting), capped at the bytes there are
  // so far. Returns the new position, or -1 (position unchanged) for a
  // negative offset or a failed stream.
  [[nodiscard]] long long seek(long long offset);

  void setFileCopy(InputProducer* copy);
  void setMasqInputReader(InputProducer* reader);
  // Cancels the producers; the stream stays readable up to what arrived.
  void close();

  // The time-outs of read() (defaults above); for tests.
  void setTimeouts(int firstDataMs, int moreDataMs);

  [[nodiscard]] int getErrorCode();
  [[nodiscard]] std::string getErrorText();
  [[nodiscard]] bool isClosed();
  // Raw bytes received from producers so far (before conversion).
  [[nodiscard]] long long totalTransferred();

  // EncodingOutput: converted bytes and converter failures. Called only by
  // the converter, with the data lock held.
  void output(const char* bytes, size_t length) override;
  void encodingError(const char* message) override;

 private:
  // Creates the temporary file that reads are served from (fd_, tempName_);
  // on failure records the error and closes the input. REQUIRES data_ held.
  [[nodiscard]] bool openTempLocked();
  void createConverter(const char* encoding);
  void recordError(int code, const std::string& text);  // data lock held
  bool appendRaw(const char* bytes, size_t length);       // data lock held
  void endOfInput();                                       // data lock held
  // A converted local file: pulls the next piece of the descriptor through
  // the converter. False at the descriptor's end or on error.
  bool pumpLocal();  // data lock held
  bool arriving() const { return !tempName_.empty() && !pumpSource_; }
  void cancelProducers();
  // Waits until `generation_` moves on or the deadline passes (data lock
  // held through `lock`). False on time-out.
  bool waitForChange(std::unique_lock<std::mutex>& lock, int ms);
  [[nodiscard]] int readLocked(char* buffer, int length);

  std::mutex data_;
  std::condition_variable dataCond_;
  std::mutex readers_;
  std::condition_variable readersCond_;

  int fd_ = -1;
  bool ownsFd_ = false;
  // A local descriptor read through a converter: its bytes are converted
  // into the temporary file as readers need them.
  bool pumpSource_ = false;
  int sourceFd_ = -1;
  bool sourceDone_ = false;
  long long sourcePos_ = 0;
  // Moves on with every change a waiting reader cares about.
  unsigned long long generation_ = 0;
  std::string tempName_;
  long long localSize_ = -1;
  long long curReadLoc_ = 0;
  long long appendLoc_ = 0;
  long long remoteSize_ = -1;
  long long totalXfered_ = 0;
  int errorCode_ = 0;
  std::string errorText_;
  bool hasError_ = false;
  bool closed_ = false;
  bool deleted_ = false;
  int readers_count_ = 0;
  int firstDataMs_ = kFirstDataTimeoutMs;
  int moreDataMs_ = kMoreDataTimeoutMs;
  std::unique_ptr<EncodingConverter> converter_;
  InputProducer* fileCopy_ = nullptr;
  InputProducer* masqReader_ = nullptr;
  CloseCallback closeCallback_;
};
