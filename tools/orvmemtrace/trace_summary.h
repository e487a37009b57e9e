// TraceSummary: what a memory trace says once read to its end: the blocks
// still alive and where they were allocated, the messages, and the guard
// violations with the block each belongs to. Records are added in trace
// order; the report is printed through a Symbolizer fed with the mapping
// records. Not thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "symbolizer.h"
#include "trace_reader.h"

class TraceSummary {
 public:
  void add(const TraceRecord& record);

  struct Options {
    size_t frames = 8;      // frames shown per call site or violation
    size_t sites = 50;      // call sites listed
    size_t messages = 50;   // messages listed
  };
  // The mapping records seen so far go to `symbolizer` as a side effect.
  void print(std::ostream& out, Symbolizer& symbolizer, const Options& options) const;

  struct Counts {
    uint64_t allocations = 0;
    uint64_t failedAllocations = 0;
    uint64_t releases = 0;
    uint64_t releasesOfUnknownBlocks = 0;  // allocated before the trace began (or freed twice)
    uint64_t mappings = 0;
    uint64_t messages = 0;
    uint64_t liveBlocks = 0;
    uint64_t liveBytes = 0;
    uint64_t peakLiveBytes = 0;
  };
  [[nodiscard]] const Counts& counts() const { return _counts; }

  struct GuardViolation {
    uint64_t offset = 0;  // of the message record
    std::string text;
    bool blockKnown = false;  // the release right before it was found
    uint64_t address = 0;
    uint64_t size = 0;
    bool sizeKnown = false;   // the block was allocated inside the trace
    uint32_t allocStack = 0;
    uint32_t releaseStack = 0;
  };
  [[nodiscard]] const std::vector<GuardViolation>& violations() const { return _violations; }

  // Live blocks grouped by the allocating stack: stack id -> (count, bytes).
  struct Group {
    uint64_t count = 0;
    uint64_t bytes = 0;
  };
  [[nodiscard]] std::map<uint32_t, Group> liveByStack() const;
  [[nodiscard]] const std::vector<uint64_t>& stack(uint32_t id) const { return _stacks[id]; }

 private:
  struct Block {
    uint64_t size;
    uint32_t stack;
  };
  struct Message {
    uint64_t offset;
    std::string text;
    uint32_t stack;
  };
  struct Mapping {
    uint64_t start;
    uint64_t end;
    std::string path;
  };
  struct StackHash {
    size_t operator()(const std::vector<uint64_t>& v) const;
  };

  uint32_t intern(const std::vector<uint64_t>& frames);
  void printStack(std::ostream& out, Symbolizer& symbolizer, uint32_t id, size_t skip, size_t limit,
                  const char* indent) const;

  Counts _counts;
  std::unordered_map<uint64_t, Block> _live;
  std::vector<std::vector<uint64_t>> _stacks;
  std::unordered_map<std::vector<uint64_t>, uint32_t, StackHash> _stackIds;
  std::vector<Message> _messages;
  std::vector<Mapping> _mappings;
  std::vector<GuardViolation> _violations;

  // The release record just read, for a guard message that follows it.
  bool _lastWasRelease = false;
  GuardViolation _lastRelease;
};
