// Output: the writable stream over a writer that delivers the bytes elsewhere
// (the remote writer of the file-transfer service). It keeps the write
// position and the first error the writer or the far side reported.
// Not thread-safe: one thread writes; the error may be set by the writer from
// the same thread.
#pragma once

#include <memory>
#include <string>

class Output;

// What an Output writes through. The file-transfer service's remote writer
// is one; tests bring their own.
class OutputWriter {
 public:
  virtual ~OutputWriter() = default;
  // Writes `length` bytes at `offset`; returns the number written, or a
  // negative value on failure (the writer may also call handleError).
  virtual int write(long long offset, const char* bytes, int length) = 0;
  // Ends the transfer; 0, or the far side's (or transport's) error code.
  virtual int close() = 0;
  // Attaches the Output the writer reports errors to (null detaches).
  virtual void setOutput(Output* output) = 0;
};

class Output {
 public:
  // Takes the writer over and attaches itself to it.
  Output(std::unique_ptr<OutputWriter> writer, int mode);
  // Closes the writer if close() was not called.
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Writes at the current position and advances it by the number written.
  // Returns that number, or -1 once closed, after an error, or when the
  // writer fails.
  [[nodiscard]] int write(const char* bytes, int length);
  // Sets the write position; returns it, or -1 for a negative offset.
  long long seek(long long offset);
  // Closes and releases the writer; returns its result (0 on success). A
  // second close returns the first one's result.
  [[nodiscard]] int close();

  // Records an error (the first one stays); later writes fail.
  void handleError(int code, const char* text);
  [[nodiscard]] int getErrorCode() const { return errorCode_; }
  [[nodiscard]] const std::string& getErrorText() const { return errorText_; }

  [[nodiscard]] int getMode() const { return mode_; }
  [[nodiscard]] long long position() const { return position_; }
  void setName(const char* name) { name_ = name != nullptr ? name : ""; }
  [[nodiscard]] const std::string& getName() const { return name_; }

 private:
  std::unique_ptr<OutputWriter> writer_;
  int mode_;
  long long position_ = 0;
  std::string name_;
  int errorCode_ = 0;
  std::string errorText_;
  bool closed_ = false;
  int closeResult_ = 0;
};
