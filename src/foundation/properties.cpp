// The Properties set: loading, merging, diffing and the typed readers.
#include "foundation/properties.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "model/any.h"
#include "model/attributes.h"

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

const char kExpected[] = "Expected <key>: <value> in properties file: %s at line %d";

// Reads one line at a time, at most Properties::kMaxLine characters. A longer
// line is reported as soon as it is seen, without reading the rest of it: it
// stops the read anyway, and a file with no newline at all (a device, a binary
// file named by mistake) must not be swallowed whole.
class LineReader {
 public:
  enum Status { kLine, kEnd, kTooLong, kNul, kError };

  explicit LineReader(FILE* f) : f_(f) {}

  Status next() {
    size_t len = 0;
    bool any = false;
    bool nul = false;
    int c;
    while ((c = getc_unlocked(f_)) != EOF) {
      any = true;
      if (c == '\n') break;
      if (len == static_cast<size_t>(Properties::kMaxLine)) {
        ++line_;
        return kTooLong;
      }
      if (c == '\0') nul = true;
      buf_[len++] = static_cast<char>(c);
    }
    if (ferror(f_)) return kError;
    if (!any) return kEnd;
    ++line_;
    buf_[len] = '\0';
    len_ = len;
    return nul ? kNul : kLine;
  }

  char* text() { return buf_; }
  size_t length() const { return len_; }
  int line() const { return line_; }

 private:
  FILE* f_;
  int line_ = 0;
  size_t len_ = 0;
  char buf_[Properties::kMaxLine + 1];
};

bool isSpace(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

bool blankOrComment(const char* line) {
  while (isSpace(*line)) ++line;
  return *line == '\0' || *line == '#';
}

// Logs why a line cannot be used; false when the status is not a usable line.
bool lineUsable(LineReader::Status status, const char* path, int line) {
  switch (status) {
    case LineReader::kLine:
      return true;
    case LineReader::kTooLong:
      log(0, "Line too long (more than %d characters) in properties file: %s at line %d", Properties::kMaxLine,
          path, line);
      return false;
    case LineReader::kNul:
      log(0, "Unexpected NUL character in properties file: %s at line %d", path, line);
      return false;
    case LineReader::kError:
      log(errno, "Unable to read properties file: %s", path);
      return false;
    case LineReader::kEnd:
      break;
  }
  return false;
}

const char* skipSpace(const char* s) {
  while (isSpace(*s)) ++s;
  return s;
}

struct Level {
  const char* name;
  int value;
};
constexpr Level kLevels[] = {{"TRACE", LOG_TRACE},     {"DEBUG", LOG_DEBUG}, {"INFO", LOG_INFO},
                             {"WARNING", LOG_WARNING}, {"ERROR", LOG_ERROR}, {"CRITICAL", LOG_CRITICAL}};

}  // namespace

Properties::Properties(const Properties& other) { copyFrom(other); }

Properties::~Properties() {
  while (head_ != nullptr) {
    Entry* next = head_->next;
    ::operator delete(head_);
    head_ = next;
  }
}

// The entry and both texts live in one block: one allocation per entry, and
// the destructor frees key, value and entry together.
void Properties::setProperty(const char* key, const char* value, int line) {
  if (key == nullptr) return;
  if (value == nullptr) value = "";
  const size_t keyLen = strlen(key);
  const size_t valueLen = strlen(value);
  void* block = ::operator new(sizeof(Entry) + keyLen + 1 + valueLen + 1);
  char* texts = static_cast<char*>(block) + sizeof(Entry);
  memcpy(texts, key, keyLen + 1);
  memcpy(texts + keyLen + 1, value, valueLen + 1);
  head_ = new (block) Entry{texts, texts + keyLen + 1, line, false, head_};
}

void Properties::copyFrom(const Properties& other) {
  for (const Entry* e = other.head_; e != nullptr; e = e->next) setProperty(e->key, e->value, -1);
}

Properties::Entry* Properties::find(const char* key) const {
  if (key == nullptr) return nullptr;
  for (Entry* e = head_; e != nullptr; e = e->next) {
    if (strcmp(e->key, key) == 0) return e;
  }
  return nullptr;
}

const char* Properties::getProperty(const char* key) const {
  const Entry* e = find(key);
  return e != nullptr ? e->value : nullptr;
}

bool Properties::load(const char* path, bool equalsForm) {
  if (path == nullptr) return true;
  File f(fopen(path, "re"));
  if (!f) return true;
  LineReader reader(f.get());
  const char separator = equalsForm ? '=' : ':';
  std::string value;
  for (;;) {
    LineReader::Status status = reader.next();
    if (status == LineReader::kEnd) return true;
    if (!lineUsable(status, path, reader.line())) return false;
    char* line = reader.text();
    if (blankOrComment(line)) continue;
    char* sep = strchr(line, separator);
    if (sep == nullptr) {
      log(0, kExpected, path, reader.line());
      return false;
    }
    *sep = '\0';
    if (equalsForm) {
      // Backslashes are the escapes of the Java properties form; the values
      // read this way never carry one of their own.
      value.clear();
      for (const char* p = sep + 1; *p != '\0'; ++p) {
        if (*p != '\\') value.push_back(*p);
      }
      setProperty(line, value.c_str(), reader.line());
    } else {
      setProperty(line, skipSpace(sep + 1), reader.line());
    }
  }
}

bool Properties::merge(const char* source, const char* destination) {
  if (source == nullptr || destination == nullptr) return false;
  for (Entry* e = head_; e != nullptr; e = e->next) e->seen = false;

  // The whole source first: the destination is truncated only once the source
  // is known to be good, and may be the source itself.
  std::string out;
  {
    File in(fopen(source, "re"));
    if (!in) {
      log(errno, "Unable to open properties file: %s", source);
      return false;
    }
    LineReader reader(in.get());
    for (;;) {
      LineReader::Status status = reader.next();
      if (status == LineReader::kEnd) break;
      if (!lineUsable(status, source, reader.line())) return false;
      const char* line = reader.text();
      if (blankOrComment(line)) {
        out.append(line).push_back('\n');
        continue;
      }
      const char* sep = strchr(line, ':');
      if (sep == nullptr) {
        log(0, kExpected, source, reader.line());
        return false;
      }
      std::string key(line, static_cast<size_t>(sep - line));
      Entry* e = find(key.c_str());
      if (e == nullptr) {
        out.append(line).push_back('\n');
        continue;
      }
      e->seen = true;
      if (strcmp(skipSpace(sep + 1), e->value) == 0) {
        out.append(line).push_back('\n');
      } else {
        out.append(key).append(": ").append(e->value).push_back('\n');
      }
    }
  }
  // An older entry shadowed by a newer one of the same key is not appended:
  // as the last line of the file it would win over the current value.
  for (const Entry* e = head_; e != nullptr; e = e->next) {
    if (!e->seen && find(e->key) == e) out.append(e->key).append(": ").append(e->value).push_back('\n');
  }

  File dst(fopen(destination, "we"));
  if (!dst) {
    log(errno, "Unable to write properties file: %s", destination);
    return false;
  }
  bool written = fwrite(out.data(), 1, out.size(), dst.get()) == out.size();
  FILE* raw = dst.release();
  if (fclose(raw) != 0) written = false;
  if (!written) {
    log(errno, "Unable to write properties file: %s", destination);
    return false;
  }
  return true;
}

Properties* Properties::diff(const Properties& other) const {
  auto result = std::make_unique<Properties>();
  for (const Entry* e = head_; e != nullptr; e = e->next) {
    const char* theirs = other.getProperty(e->key);
    if (theirs == nullptr || strcmp(theirs, e->value) != 0) result->setProperty(e->key, e->value, -1);
  }
  return result.release();
}

Attributes* Properties::getProperties() const {
  auto attrs = std::make_unique<Attributes>();
  // Appended, so the attributes run in this set's order and a name that
  // occurs twice finds the same (newest) value in both.
  for (const Entry* e = head_; e != nullptr; e = e->next) attrs->appendAttribute(e->key, new Any(e->value));
  return attrs.release();
}

void Properties::logProperties(const char* label) const {
  for (const Entry* e = head_; e != nullptr; e = e->next) log(0, "%s: %s = %s", label, e->key, e->value);
}

namespace {

// The shared missing-key rule of the typed readers. Returns the entry, or null
// with `*result` telling what the reader returns.
template <typename T>
const Properties::Entry* lookUp(const Properties& props, const char* key, const char* label, bool required, T* out,
                                T def, bool* result) {
  const Properties::Entry* e = props.find(key);
  if (e != nullptr) return e;
  if (required) {
    log(0, "%s: property %s is required but was missing", label, key);
    *result = false;
  } else {
    *out = def;
    *result = true;
  }
  return nullptr;
}

}  // namespace

bool Properties::intFromProperty(const char* key, const char* label, bool required, int* out, int def) const {
  bool result;
  const Entry* e = lookUp(*this, key, label, required, out, def, &result);
  if (e == nullptr) return result;
  // Unsigned decimal only; a value beyond INT_MAX is refused rather than
  // wrapped into a different number.
  long long value = 0;
  for (const char* p = e->value; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || (value = value * 10 + (*p - '0')) > INT_MAX) {
      log(0, "%s: property %s is not an integer value", label, key);
      return false;
    }
  }
  *out = static_cast<int>(value);
  return true;
}

bool Properties::levelFromProperty(const char* key, const char* label, bool required, int* out, int def) const {
  bool result;
  const Entry* e = lookUp(*this, key, label, required, out, def, &result);
  if (e == nullptr) return result;
  for (const Level& level : kLevels) {
    if (strcmp(e->value, level.name) == 0) {
      *out = level.value;
      return true;
    }
  }
  log(0, "%s. (property = %s, line = %d, Use TRACE, DEBUG, INFO, WARNING, ERROR or CRICICAL)", label, key, e->line);
  return false;
}

bool Properties::boolFromProperty(const char* key, const char* label, bool required, bool* out, bool def) const {
  bool result;
  const Entry* e = lookUp(*this, key, label, required, out, def, &result);
  if (e == nullptr) return result;
  static const char* const kTrue[] = {"on", "true", "ON", "TRUE"};
  static const char* const kFalse[] = {"off", "false", "OFF", "FALSE"};
  for (const char* t : kTrue) {
    if (strcmp(e->value, t) == 0) {
      *out = true;
      return true;
    }
  }
  for (const char* f : kFalse) {
    if (strcmp(e->value, f) == 0) {
      *out = false;
      return true;
    }
  }
  log(0, "%s. (property = %s, line = %d, Use ON, OFF, TRUE, or FALSE)", label, key, e->line);
  return false;
}

bool Properties::doubleFromProperty(const char* key, const char* label, bool required, double* out,
                                    double def) const {
  bool result;
  const Entry* e = lookUp(*this, key, label, required, out, def, &result);
  if (e == nullptr) return result;
  // Values keep their trailing blanks; anything else left over means the text
  // was not a number, which must not pass for 0.
  char* end = nullptr;
  double value = strtod(e->value, &end);
  if (*skipSpace(e->value) != '\0' && (end == e->value || *skipSpace(end) != '\0')) {
    log(0, "%s: property %s is not a numeric value", label, key);
    return false;
  }
  *out = value;
  return true;
}
