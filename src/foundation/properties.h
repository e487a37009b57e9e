// The configuration: `Properties` is a small ordered set of key/value entries
// read from `orvanex.properties` (lines "key: value", '#' comments, the later
// duplicate wins), with a merger, a diff and typed readers. The process-wide
// current set is re-read when the file's modification time changes, and the
// s_get*Property functions read it.
//
// A Properties object is not thread-safe. The current set is replaced whole on
// a reload; the s_get*Property functions return copies or plain values, so a
// reader on another thread sees either the old set or the new one.
#pragma once

#include <sched.h>

class Attributes;

class Properties {
 public:
  struct Entry {
    char* key;
    char* value;
    int line;     // line in the file it came from; -1 when added by copy or diff
    bool seen;    // used only by merge
    Entry* next;
  };

  // Longest line of a properties file, without its newline.
  static constexpr int kMaxLine = 4095;

  Properties() = default;
  // Re-adds every entry of `other` in its list order, so the copy's list runs
  // in the opposite order.
  Properties(const Properties& other);
  Properties& operator=(const Properties&) = delete;
  ~Properties();

  // Adds an entry at the head (copies both texts). Does not replace an
  // existing key: lookups take the first match from the head.
  void setProperty(const char* key, const char* value, int line);
  // Re-adds every entry of `other` (line -1) in front of this set's entries.
  void copyFrom(const Properties& other);

  // The value of the first entry with this key, or null. The pointer lives as
  // long as the set.
  [[nodiscard]] const char* getProperty(const char* key) const;
  [[nodiscard]] Entry* find(const char* key) const;
  [[nodiscard]] Entry* head() const { return head_; }

  // Reads `path` ("key: value" lines, or "key=value" with `equalsForm`).
  // Blank lines and lines whose first non-blank character is '#' are skipped.
  // The key is the text before the first separator, blanks included; the
  // value follows it with leading white space skipped (equals form: every
  // backslash removed instead). A missing file is an empty configuration
  // (true). A line without its separator, longer than kMaxLine characters or
  // holding a NUL byte is logged and stops the load (false); entries read so
  // far stay.
  [[nodiscard]] bool load(const char* path, bool equalsForm = false);

  // Copies `source` to `destination`, replacing the values of this set's keys
  // and appending the keys the file lacked. The source is read whole before
  // the destination is written, so both may name the same file. False, with
  // the destination untouched, when the source cannot be read or one of its
  // lines is bad (logged as for load); false when the destination cannot be
  // written.
  [[nodiscard]] bool merge(const char* source, const char* destination);

  // The entries of this set missing from `other` or with a different value,
  // added with line -1. The caller owns the result.
  [[nodiscard]] Properties* diff(const Properties& other) const;

  // One attribute per entry, in list order, holding a text copy of the value.
  // The caller owns the result.
  [[nodiscard]] Attributes* getProperties() const;

  // Logs "%s: %s = %s" (label, key, value) for every entry in list order.
  void logProperties(const char* label) const;

  // Typed readers. A missing key: with `required`, logged and false (out is
  // untouched); otherwise out = default and true. An invalid value is logged
  // and gives false with out untouched. Integers are unsigned decimal and
  // must fit an int (an empty value is 0); levels are TRACE, DEBUG, INFO,
  // WARNING, ERROR or CRITICAL; booleans on/true/ON/TRUE or off/false/OFF/FALSE;
  // doubles what strtod reads whole (an empty value is 0.0).
  [[nodiscard]] bool intFromProperty(const char* key, const char* label, bool required, int* out, int def) const;
  [[nodiscard]] bool levelFromProperty(const char* key, const char* label, bool required, int* out, int def) const;
  [[nodiscard]] bool boolFromProperty(const char* key, const char* label, bool required, bool* out, bool def) const;
  [[nodiscard]] bool doubleFromProperty(const char* key, const char* label, bool required, double* out,
                                        double def) const;

 private:
  Entry* head_ = nullptr;
};

extern "C" {
// The current set, or null before the first successful load. The pointer
// stays valid until the second reload after the call; keep no value pointer
// taken from it across reloads.
Properties* s_getOrvanexProperties();
// getProperties() of the current set (an empty set when there is none).
Attributes* s_getAllProperties();
// Replaces the path of the configuration file (null: none). A new path is
// loaded by the next s_testOrvanexProperties whatever its modification time.
void s_setOrvanexPropertiesPath(const char* path);
// Reloads the configuration file when its modification time changed and
// refreshes the process-wide settings; calls `callback` with the new set.
// False only when a changed file failed to load (the previous set stays).
bool s_testOrvanexProperties(bool verbose, void (*callback)(Properties*));

// Typed values of the current set; the default when there is no set, the key
// is missing or its value is invalid (an invalid value is also logged).
bool s_getBoolProperty(const char* key, bool def);
int s_getIntProperty(const char* key, int def);
int s_getLevelProperty(const char* key, int def);
double s_getDoubleProperty(const char* key, double def);
// A heap copy of the value, or of `def` when missing (null when `def` is
// null). Free it with s_freeStringProperty.
char* s_getStringProperty(const char* key, const char* def);
void s_freeStringProperty(char* value);

// Fills `set` from the property cpu_affinity ("0, 2,5"): the set is cleared,
// each CPU number is logged and those below 1024 are added; a piece that is
// not a number is logged and ignored. False when the key is missing (the set
// is untouched). A negative CPU number is fatal (exit status 1).
bool s_readCpuAffinity(cpu_set_t* set);
}
