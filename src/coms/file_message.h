// FileMessage: the tagged encoding written to, or read from, a file, with
// exactly the bytes a Message or StreamMessage would carry. Writing goes
// through a 32768-byte buffer (flush() or close() writes it out); reading
// pulls 32768-byte chunks as the decoder needs them.
//
// Not thread-safe: one thread uses a message.
#pragma once

#include <string>
#include <vector>

#include "coms/sourced_message.h"

class FileMessage : public SourcedMessage {
 public:
  // Mode 1 creates (or truncates) `path` with mode 0644; mode 2 opens it
  // for reading. Check isOpen().
  FileMessage(const char* path, int mode);
  // Over an open descriptor, positioned where the encoding starts (or is to
  // start); closed by close() when `ownsDescriptor`.
  FileMessage(int fd, int mode, bool ownsDescriptor);
  // close(); an error it meets is logged.
  ~FileMessage() override;

  [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
  // Writes out what is buffered. 0, or -1 (the error state is then set).
  [[nodiscard]] int flush();
  // flush(), then closes the descriptor it owns. 0, or -1 when a write or
  // the close failed, so that a short file is never taken for a whole one.
  [[nodiscard]] int close();

 protected:
  long pull(char* buffer, size_t n) override;
  bool push(const char* data, size_t n) override;

 private:
  bool writeAll(const char* data, size_t n);

  std::string path_;
  int fd_ = -1;
  bool owns_ = true;
  bool failed_ = false;
  std::vector<char> buffer_;
};
