// StringBuilder: the growable, NUL-terminated text buffer behind every
// toString. The buffer is malloc'd so that take() can hand it to callers that
// release texts with free. Not synchronised.
#pragma once

#include <cstddef>

class StringBuilder {
 public:
  StringBuilder() = default;
  ~StringBuilder();
  StringBuilder(const StringBuilder&) = delete;
  StringBuilder& operator=(const StringBuilder&) = delete;

  // The text so far (null before anything was appended).
  [[nodiscard]] const char* get() const { return buffer_; }
  [[nodiscard]] size_t length() const { return length_; }
  [[nodiscard]] size_t capacity() const { return capacity_; }

  // Appends `n` bytes of `text`; n == (size_t)-1 means strlen(text). A null
  // text appends nothing. Aborts the process when memory is exhausted.
  void append(const char* text, size_t n);
  void append(const char* text);
  void append(char c);
  // The same, leaving out every CR and LF byte.
  void appendNoNl(const char* text, size_t n);
  // printf-style append.
  void appendf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // Makes room for `n` more bytes (plus the NUL) and returns where they go;
  // commit(n) then accounts for the bytes written there.
  [[nodiscard]] char* reserve(size_t n);
  void commit(size_t n);

  // Hands the text to the caller (release with free) and resets the builder;
  // a builder with no text gives a new empty string.
  [[nodiscard]] char* take();
  // Frees the text; the builder is empty again.
  void clear();

 private:
  size_t length_ = 0;
  size_t capacity_ = 0;
  char* buffer_ = nullptr;
};
