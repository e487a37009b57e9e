// EncodingConverter: turns bytes of a named character set (or of one it
// detects from the first piece) into UTF-8 for a sink, piece by piece, keeping
// multi-byte sequences that straddle two pieces whole.
// Not thread-safe: the owner (an Input, under its data lock) feeds it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Where converted UTF-8 goes. encodingError receives the texts of failures;
// after one the converter takes no more input.
class EncodingOutput {
 public:
  virtual ~EncodingOutput() = default;
  virtual void output(const char* bytes, size_t length) = 0;
  virtual void encodingError(const char* message) = 0;
};

class EncodingConverter {
 public:
  static constexpr size_t kStagingSize = 4096;
  static constexpr size_t kOutputSize = 4096;

  // `encoding` "*" detects the character set from the first piece; any other
  // name is opened at once. A name ICU does not know reports
  // "Invalid encoding. Cannot create ucnv converter for %s, %s" to the sink.
  // `sink` is not owned and must outlive the converter.
  EncodingConverter(EncodingOutput* sink, const char* encoding);
  ~EncodingConverter();
  EncodingConverter(const EncodingConverter&) = delete;
  EncodingConverter& operator=(const EncodingConverter&) = delete;

  // Converts `length` bytes; the UTF-8 reaches the sink's output in pieces of
  // at most kOutputSize bytes. An incomplete sequence at the end waits for the
  // next piece.
  void append(const char* bytes, size_t length);

  // End of the input: converts what ICU still holds. A sequence left
  // incomplete by the end of the input is reported to the sink
  // ("Error converting character set: U_TRUNCATED_CHAR_FOUND") rather than
  // dropped. Later appends are ignored.
  void finish();

  // True once an error went to the sink.
  [[nodiscard]] bool failed() const { return failed_; }
  // The ICU name of the source character set, once known ("" before).
  [[nodiscard]] const std::string& charset() const { return charset_; }

 private:
  struct Icu;  // the library's handles, kept out of this header

  void fail(const std::string& message);
  bool openSource(const char* name, const char* detectedForLog);
  bool detect(const char* bytes, size_t length);
  // Runs ICU over staging_[0..staged) and hands the output on; leftover
  // input moves to the front. False after an error.
  bool convert(bool flush);

  EncodingOutput* sink_;
  std::unique_ptr<Icu> icu_;
  bool detect_ = false;
  bool failed_ = false;
  bool finished_ = false;
  std::string charset_;
  size_t staged_ = 0;
  char staging_[kStagingSize];
  char out_[kOutputSize];
};
