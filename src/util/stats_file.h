// StatsFile: performance statistics as time-stamped entries of labelled rows,
// kept in memory, stored as the magic "?orvanex-perfdata\n" followed by a gzip
// stream, shipped as an object (id 2055) and merged into one file per day.
// Not thread-safe: one thread uses a file at a time. Static functions are
// safe on different files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/translatable.h"
#include "util/stat_entry.h"

class MessageBase;

class StatsFile : public Translatable {
 public:
  static constexpr int kObjectId = 2055;
  static constexpr int kVersion = 10;
  static constexpr char kMagic[] = "?orvanex-perfdata\n";
  static constexpr size_t kMagicSize = sizeof(kMagic) - 1;  // 18

  StatsFile() = default;
  explicit StatsFile(int version) : version_(version) {}
  ~StatsFile() override = default;
  StatsFile(const StatsFile&) = default;
  StatsFile& operator=(const StatsFile&) = default;

  // Appends an entry: the first entry's time becomes start (while start is
  // 0) and end follows the largest time.
  void add(StatEntry entry);
  // Among the entries with a row of class `cls`, the one with the largest
  // time; null when none (or when the entries are still undecoded).
  [[nodiscard]] const StatEntry* findLatestContainingClsid(int64_t cls) const;

  [[nodiscard]] int version() const { return version_; }
  [[nodiscard]] int64_t start() const { return start_; }
  [[nodiscard]] int64_t end() const { return end_; }
  void setRange(int64_t start, int64_t end) {
    start_ = start;
    end_ = end;
  }
  [[nodiscard]] const std::vector<StatEntry>& entries() const { return entries_; }
  // The entries, for a caller that takes them over (consolidation).
  [[nodiscard]] std::vector<StatEntry>& mutableEntries() { return entries_; }

  // The buffer form, undecoded, of a file received as an object.
  [[nodiscard]] bool hasEncoded() const { return !encoded_.empty(); }
  [[nodiscard]] const std::string& encoded() const { return encoded_; }
  void setEncoded(std::string bytes) { encoded_ = std::move(bytes); }
  // Turns kept bytes into entries (start, end and version from them too).
  // 0, or -1 (nothing changed) when they do not decode.
  [[nodiscard]] int decode();

  // ---- the encoded form: the file's items on a message ----
  int encode(MessageBase* m) const;
  // A new file from the items at the message's read location, or null.
  [[nodiscard]] static StatsFile* readFromMessage(MessageBase* m);

  // ---- the buffer form: 4-byte big-endian payload length, 4-byte message
  // type 0, then the encoded file ----
  [[nodiscard]] std::string writeToBuffer() const;
  // The buffer form in a new malloc'd block (release with free).
  void writeToBuffer(char** bytes, size_t* length) const;
  // A new file, or null when the bytes are not exactly one whole buffer form.
  [[nodiscard]] static StatsFile* readFromBuffer(const char* bytes, size_t length);

  // ---- the file form ----
  // Writes the magic and the gzip stream of the buffer form (the kept bytes
  // as they are, if any, at default compression; else freshly encoded at
  // level 9). The file appears complete or not at all: it is written beside
  // the target, synced and renamed over it. Returns the number of bytes
  // handed to gzip, or a negative errno.
  [[nodiscard]] int writeToFile(const char* path) const;
  // A new file, or null when the file is missing, does not start with the
  // magic, or its gzip stream is damaged, truncated or does not hold exactly
  // one buffer form.
  [[nodiscard]] static StatsFile* readFromFile(const char* path);
  // readFromFile over bytes already in memory (the magic included).
  [[nodiscard]] static StatsFile* readFromFileBytes(const char* bytes, size_t length);

  // Merges the files "<dir>/YYYYMMDD-*.stats" of one day into
  // "<dir>/YYYYMMDD-000000.stats" and deletes the sources. 0 (also with
  // nothing to do) or -1.
  [[nodiscard]] static int consolidate(const char* dir, int year, int month, int day);
  // `day` as YYYYMMDD.
  [[nodiscard]] static int consolidate(const char* dir, int yyyymmdd);

  // The readable listing.
  void dump(FILE* stream) const;

  // Where the file was read from (consolidation).
  [[nodiscard]] const std::string& sourcePath() const { return sourcePath_; }
  void setSourcePath(std::string path) { sourcePath_ = std::move(path); }

  int getObjectID() const override { return kObjectId; }
  char* toString(Parser* parser) override;

 private:
  int version_ = kVersion;
  int64_t start_ = 0;
  int64_t end_ = 0;
  std::vector<StatEntry> entries_;
  std::string encoded_;
  std::string sourcePath_;
};

// Object 2055: field 1 the buffer form as bytes, field 2 the int64 start.
// Reading keeps the bytes undecoded in the new StatsFile.
int StatsFileXlator(MessageBase* m, Translatable** object, int direction);
