#include "model/string_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/log.h"

StringBuilder::~StringBuilder() { free(buffer_); }

char* StringBuilder::reserve(size_t n) {
  size_t need = length_ + n + 1;
  if (need < n) abort();  // overflow of size_t: no text is that long
  if (need > capacity_) {
    // Doubling keeps long renderings (a large JSON text) linear; the fixed
    // step of 1 KiB more than asked keeps small ones to one allocation.
    size_t grown = capacity_ + n + 1025;
    if (grown < capacity_ * 2) grown = capacity_ * 2;
    char* bigger = static_cast<char*>(realloc(buffer_, grown));
    if (!bigger) {
      log(0, "Fatal: out of memory growing a text to %zu bytes", grown);
      abort();
    }
    buffer_ = bigger;
    capacity_ = grown;
  }
  return buffer_ + length_;
}

void StringBuilder::commit(size_t n) {
  length_ += n;
  buffer_[length_] = '\0';
}

void StringBuilder::append(const char* text, size_t n) {
  if (!text) return;
  if (n == (size_t)-1) n = strlen(text);
  char* at = reserve(n);
  memcpy(at, text, n);
  commit(n);
}

void StringBuilder::append(const char* text) {
  if (text) append(text, strlen(text));
}

void StringBuilder::append(char c) {
  char* at = reserve(1);
  *at = c;
  commit(1);
}

void StringBuilder::appendNoNl(const char* text, size_t n) {
  if (!text) return;
  if (n == (size_t)-1) n = strlen(text);
  char* at = reserve(n);
  size_t kept = 0;
  for (size_t i = 0; i < n; i++) {
    if (text[i] != '\r' && text[i] != '\n') at[kept++] = text[i];
  }
  commit(kept);
}

void StringBuilder::appendf(const char* fmt, ...) {
  char small[128];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(small, sizeof(small), fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if ((size_t)n < sizeof(small)) {
    append(small, (size_t)n);
    return;
  }
  char* at = reserve((size_t)n);
  va_start(ap, fmt);
  vsnprintf(at, (size_t)n + 1, fmt, ap);
  va_end(ap);
  commit((size_t)n);
}

char* StringBuilder::take() {
  char* text = buffer_;
  if (!text) text = strdup("");
  buffer_ = nullptr;
  length_ = capacity_ = 0;
  return text;
}

void StringBuilder::clear() {
  free(buffer_);
  buffer_ = nullptr;
  length_ = capacity_ = 0;
}
