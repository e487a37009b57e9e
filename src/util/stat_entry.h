// The records of a statistics file: StatData (one number), StatRow (the
// numbers of one measured thing, with its class, instance and label) and
// StatEntry (the rows taken at one time). Each record owns what it holds.
// Not thread-safe: one thread builds or reads a record at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class MessageBase;

struct StatData {
  // Kind 1 is a signed 64-bit integer, kind 2 a double; kind 0 (old writers)
  // also carries an integer.
  enum : int { kLegacy = 0, kLong = 1, kDouble = 2 };

  int kind = kLong;
  int64_t l = 0;
  double d = 0;

  static StatData ofLong(int64_t value) { return StatData{kLong, value, 0}; }
  static StatData ofDouble(double value) { return StatData{kDouble, 0, value}; }
  // The series of a row from a list of values.
  [[nodiscard]] static std::vector<StatData> createSeriesArray(std::initializer_list<StatData> data) {
    return std::vector<StatData>(data);
  }
  [[nodiscard]] bool isDouble() const { return kind == kDouble; }
  // The value as a double, whatever the kind.
  [[nodiscard]] double asDouble() const { return kind == kDouble ? d : static_cast<double>(l); }

  // int32 kind, then an int64 (kinds 0 and 1) or a double (kind 2).
  int encode(MessageBase* m) const;
  // 0, or -1 on malformed data (the kind must be 0, 1 or 2).
  [[nodiscard]] static int decode(MessageBase* m, StatData* out);
  void dump(FILE* stream) const;
  bool operator==(const StatData& o) const;
};

struct StatRow {
  // A label longer than this is cut to kLabelKeep characters.
  static constexpr size_t kLabelMax = 256;
  static constexpr size_t kLabelKeep = 255;

  int64_t cls = 0;
  int64_t id = 0;
  std::string label;
  std::vector<StatData> data;

  StatRow() = default;
  StatRow(int64_t cls, int64_t id, const char* label, std::vector<StatData> data);
  void setLabel(const char* text);

  int encode(MessageBase* m) const;
  [[nodiscard]] static int decode(MessageBase* m, StatRow* out);
  void dump(FILE* stream) const;
  bool operator==(const StatRow& o) const = default;
};

struct StatEntry {
  int64_t time = 0;  // seconds since the epoch
  std::vector<StatRow> rows;

  StatEntry() = default;
  explicit StatEntry(int64_t t) : time(t) {}
  void addRow(StatRow row) { rows.push_back(std::move(row)); }
  [[nodiscard]] bool hasClass(int64_t cls) const;

  int encode(MessageBase* m) const;
  [[nodiscard]] static int decode(MessageBase* m, StatEntry* out);
  void dump(FILE* stream) const;
  bool operator==(const StatEntry& o) const = default;
};

// "%x %X" of a time in seconds, in local time.
[[nodiscard]] std::string statTimeText(int64_t seconds);
