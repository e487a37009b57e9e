#include "trace_summary.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

using namespace memtrace;

namespace {

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return buf;
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool isGuardMessage(const std::string& text) {
  return startsWith(text, "PREGUARD was destroyed") || startsWith(text, "POSTGUARD was destroyed");
}

// Functions that only pass an allocation on: the call site is their caller.
bool isAllocationWrapper(const std::string& function) {
  static const char* const kPrefixes[] = {"operator new", "strdup", "strndup", "__strdup", "__strndup",
                                          "__libc_", "reallocarray", "aligned_alloc", "posix_memalign"};
  for (const char* p : kPrefixes) {
    if (startsWith(function, p)) return true;
  }
  return false;
}

constexpr size_t kMaxMessagesKept = 10000;

}  // namespace

size_t TraceSummary::StackHash::operator()(const std::vector<uint64_t>& v) const {
  uint64_t h = 1469598103934665603ull;
  for (uint64_t x : v) h = (h ^ x) * 1099511628211ull;
  return static_cast<size_t>(h);
}

uint32_t TraceSummary::intern(const std::vector<uint64_t>& frames) {
  auto [it, added] = _stackIds.emplace(frames, static_cast<uint32_t>(_stacks.size()));
  if (added) _stacks.push_back(frames);
  return it->second;
}

void TraceSummary::add(const TraceRecord& r) {
  bool wasRelease = _lastWasRelease;
  _lastWasRelease = false;
  switch (r.kind) {
    case kRecordAlloc: {
      if (r.address == 0) {
        ++_counts.failedAllocations;
        break;
      }
      ++_counts.allocations;
      uint32_t id = intern(r.frames);
      auto [it, added] = _live.try_emplace(r.address, Block{r.size, id});
      if (!added) {
        // The address came back without a release in the trace: the old
        // block went by a path the trace did not see.
        _counts.liveBytes -= it->second.size;
        it->second = Block{r.size, id};
      } else {
        ++_counts.liveBlocks;
      }
      _counts.liveBytes += r.size;
      _counts.peakLiveBytes = std::max(_counts.peakLiveBytes, _counts.liveBytes);
      break;
    }
    case kRecordRelease: {
      ++_counts.releases;
      GuardViolation v;
      v.address = r.address;
      v.releaseStack = intern(r.frames);
      auto it = _live.find(r.address);
      if (it == _live.end()) {
        ++_counts.releasesOfUnknownBlocks;
      } else {
        v.sizeKnown = true;
        v.size = it->second.size;
        v.allocStack = it->second.stack;
        _counts.liveBytes -= it->second.size;
        --_counts.liveBlocks;
        _live.erase(it);
      }
      _lastRelease = v;
      _lastWasRelease = true;
      break;
    }
    case kRecordMapping:
      ++_counts.mappings;
      _mappings.push_back(Mapping{r.start, r.end, r.text});
      break;
    case kRecordMessage: {
      ++_counts.messages;
      uint32_t id = intern(r.frames);
      if (_messages.size() < kMaxMessagesKept) _messages.push_back(Message{r.offset, r.text, id});
      if (isGuardMessage(r.text)) {
        GuardViolation v;
        if (wasRelease) {
          // The hooks write a block's guard messages right behind its release.
          v = _lastRelease;
          v.blockKnown = true;
        } else {
          v.releaseStack = id;
        }
        v.offset = r.offset;
        v.text = r.text;
        _violations.push_back(v);
        _lastWasRelease = wasRelease;  // the other guard's message may follow
      }
      break;
    }
  }
}

std::map<uint32_t, TraceSummary::Group> TraceSummary::liveByStack() const {
  std::map<uint32_t, Group> groups;
  for (const auto& [address, block] : _live) {
    Group& g = groups[block.stack];
    ++g.count;
    g.bytes += block.size;
  }
  return groups;
}

void TraceSummary::printStack(std::ostream& out, Symbolizer& symbolizer, uint32_t id, size_t skip, size_t limit,
                              const char* indent) const {
  const std::vector<uint64_t>& frames = _stacks[id];
  if (frames.empty()) {
    out << indent << "(no frames)\n";
    return;
  }
  for (size_t i = skip; i < frames.size() && i < skip + limit; ++i) {
    out << indent << symbolizer.describe(frames[i]) << "\n";
  }
}

void TraceSummary::print(std::ostream& out, Symbolizer& symbolizer, const Options& options) const {
  for (const Mapping& m : _mappings) symbolizer.addMapping(m.start, m.end, m.path);
  const Counts& c = _counts;
  out << "records: allocations " << c.allocations << ", releases " << c.releases << ", mappings " << c.mappings
      << ", messages " << c.messages << "\n";
  if (c.failedAllocations > 0) out << "failed allocations: " << c.failedAllocations << "\n";
  if (c.releasesOfUnknownBlocks > 0) {
    out << "releases of blocks allocated before the trace began: " << c.releasesOfUnknownBlocks << "\n";
  }
  out << "live blocks: " << c.liveBlocks << " blocks, " << c.liveBytes << " bytes (peak " << c.peakLiveBytes
      << " bytes)\n";

  // Group by call site: the first frame that is not an allocation wrapper.
  struct Site {
    uint64_t count = 0;
    uint64_t bytes = 0;
    uint32_t stack = 0;        // the biggest contributor, shown below the site
    uint64_t stackBytes = 0;
    size_t skip = 0;           // wrapper frames above the site
  };
  std::map<uint64_t, Site> sites;  // by the site's return address (0: no frames)
  for (const auto& [id, g] : liveByStack()) {
    const std::vector<uint64_t>& frames = _stacks[id];
    size_t skip = 0;
    while (skip + 1 < frames.size() && isAllocationWrapper(symbolizer.resolve(frames[skip]).function)) ++skip;
    uint64_t key = frames.empty() ? 0 : frames[skip];
    Site& s = sites[key];
    s.count += g.count;
    s.bytes += g.bytes;
    if (g.bytes >= s.stackBytes) {
      s.stack = id;
      s.stackBytes = g.bytes;
      s.skip = skip;
    }
  }
  std::vector<std::pair<uint64_t, Site>> ordered(sites.begin(), sites.end());
  std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
    return a.second.bytes != b.second.bytes ? a.second.bytes > b.second.bytes : a.first < b.first;
  });
  if (!ordered.empty()) out << "\nlive blocks by call site (" << ordered.size() << " sites, largest first):\n";
  size_t shown = 0;
  for (const auto& [key, s] : ordered) {
    if (shown++ == options.sites) {
      out << "  ... " << (ordered.size() - options.sites) << " more sites\n";
      break;
    }
    char head[96];
    std::snprintf(head, sizeof head, "  %8" PRIu64 " blocks %12" PRIu64 " bytes  at ", s.count, s.bytes);
    out << head << (key == 0 ? std::string("(no frames)") : symbolizer.describe(key)) << "\n";
    printStack(out, symbolizer, s.stack, s.skip + 1, options.frames > 0 ? options.frames - 1 : 0, "          ");
  }

  out << "\nguard violations: " << _violations.size() << "\n";
  for (const GuardViolation& v : _violations) {
    out << "  at offset " << v.offset << ": " << v.text << "\n";
    if (!v.blockKnown) {
      out << "    reported at:\n";
      printStack(out, symbolizer, v.releaseStack, 0, options.frames, "      ");
      continue;
    }
    out << "    block " << hex(v.address);
    if (v.sizeKnown) out << " of " << v.size << " bytes";
    out << "\n";
    if (v.sizeKnown) {
      out << "    allocated at:\n";
      printStack(out, symbolizer, v.allocStack, 0, options.frames, "      ");
    }
    out << "    released at:\n";
    printStack(out, symbolizer, v.releaseStack, 0, options.frames, "      ");
  }

  out << "\nmessages: " << c.messages << "\n";
  shown = 0;
  for (const Message& m : _messages) {
    if (shown++ == options.messages) {
      out << "  ... " << (c.messages - options.messages) << " more messages\n";
      break;
    }
    out << "  at offset " << m.offset << ": " << m.text << "\n";
    printStack(out, symbolizer, m.stack, 0, 1, "      ");
  }
}
