// The hooks at work: the helper program (which links liborvmemhooks first)
// runs a scenario as a subprocess, and its trace is decoded here field by
// field at fixed offsets, independently of orvmemtrace's reader, which is then
// run on the same trace as a program.
#include <dlfcn.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/memhooks/trace_format.h"
#include "subprocess.h"
#include "testing/test_util.h"

using namespace memtrace;

namespace {

const std::string kHelper = MEMHOOKS_HELPER;
const std::string kReader = ORVMEMTRACE;
const std::string kLibrary = MEMHOOKS_LIBRARY;
constexpr int kSkipped = 77;  // the helper's status when the hooks cannot be the allocator

// gcc names the sanitizers with macros, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

struct Rec {
  uint8_t kind = 0;
  size_t offset = 0;
  std::vector<uint64_t> frames;
  uint64_t size = 0;
  uint64_t address = 0;
  uint64_t start = 0;
  uint64_t end = 0;
  std::string text;
};

template <typename T>
T field(const std::string& b, size_t at) {
  T v{};
  if (at + sizeof v <= b.size()) std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}

// The trace layout, spelled out: marker at +0; for kinds 1, 2 and 4 the frame
// count at +1 and the frames from +5; then the kind's own fields.
std::vector<Rec> decode(const std::string& b) {
  std::vector<Rec> out;
  size_t at = 0;
  while (at < b.size()) {
    Rec r;
    r.offset = at;
    r.kind = static_cast<uint8_t>(b[at]);
    size_t next = 0;
    if (r.kind == kRecordMapping) {
      r.start = field<uint64_t>(b, at + 1);
      r.end = field<uint64_t>(b, at + 9);
      uint32_t length = field<uint32_t>(b, at + 17);
      next = at + 21 + length;
      if (next <= b.size()) r.text = b.substr(at + 21, length);
    } else if (r.kind == kRecordAlloc || r.kind == kRecordRelease || r.kind == kRecordMessage) {
      uint32_t n = field<uint32_t>(b, at + 1);
      if (n > static_cast<uint32_t>(kMaxFrames)) {
        ADD_FAILURE() << "frame count " << n << " at offset " << at;
        return out;
      }
      for (uint32_t i = 0; i < n; ++i) r.frames.push_back(field<uint64_t>(b, at + 5 + 8 * i));
      size_t rest = at + 5 + 8 * n;
      if (r.kind == kRecordAlloc) {
        r.size = field<uint64_t>(b, rest);
        r.address = field<uint64_t>(b, rest + 8);
        next = rest + 16;
      } else if (r.kind == kRecordRelease) {
        r.address = field<uint64_t>(b, rest);
        next = rest + 8;
      } else {
        uint64_t length = field<uint64_t>(b, rest);
        next = rest + 8 + length;
        if (length < b.size() && next <= b.size()) r.text = b.substr(rest + 8, length);
      }
    } else {
      ADD_FAILURE() << "unknown marker " << int{r.kind} << " at offset " << at;
      return out;
    }
    if (next > b.size()) {
      ADD_FAILURE() << "record at offset " << at << " runs past the end";
      return out;
    }
    out.push_back(r);
    at = next;
  }
  return out;
}

bool isMessage(const Rec& r, const std::string& prefix) {
  return r.kind == kRecordMessage && r.text.rfind(prefix, 0) == 0;
}

// The records of one step, without the step's result message.
std::vector<Rec> stepRecords(const std::vector<Rec>& all, const std::string& name) {
  auto it = std::find_if(all.begin(), all.end(), [&](const Rec& r) { return isMessage(r, "step " + name); });
  std::vector<Rec> out;
  if (it == all.end()) {
    ADD_FAILURE() << "no step " << name;
    return out;
  }
  for (++it; it != all.end() && !isMessage(*it, "step "); ++it) {
    if (!isMessage(*it, "result ")) out.push_back(*it);
  }
  return out;
}

// The pointers a step reported: "result <name> <p> <p>".
std::vector<uint64_t> stepResult(const std::vector<Rec>& all, const std::string& name) {
  for (const Rec& r : all) {
    if (!isMessage(r, "result " + name + " ")) continue;
    std::istringstream in(r.text.substr(8 + name.size()));
    std::vector<uint64_t> v;
    std::string word;
    while (in >> word) v.push_back(word == "(nil)" ? 0 : std::stoull(word, nullptr, 16));
    return v;
  }
  ADD_FAILURE() << "no result for " << name;
  return {0, 0};
}

std::string kinds(const std::vector<Rec>& rs) {
  std::string s;
  for (const Rec& r : rs) s += "?ARTM"[r.kind < 5 ? r.kind : 0];
  return s;
}

std::string readBinary(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the helper; skips the test where the hooks cannot be the allocator.
#define RUN_HELPER(result, ...)                                                             \
  RunResult result = runProgram(__VA_ARGS__);                                               \
  ASSERT_TRUE(result.finished) << "helper did not finish: " << result.err;                  \
  if (result.exitCode == kSkipped) GTEST_SKIP() << "the hooks are not the allocator here"; \
  ASSERT_EQ(result.exitCode, 0) << result.err

// One guarded run, shared by the tests that look at its parts.
class GuardedTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    RUN_HELPER(r, {kHelper, "guarded", dir.file("trace")});
    bytes = readBinary(dir.file("trace"));
    records = decode(bytes);
    ASSERT_FALSE(records.empty());
  }
  orvtest::TempDir dir;
  std::string bytes;
  std::vector<Rec> records;
};

TEST(MemHooks, WithTracingOffTheCallsBehaveLikeTheCLibrary) {
  RUN_HELPER(r, {kHelper, "off"});
  EXPECT_EQ(r.err, "");
}

TEST_F(GuardedTrace, EveryStepLeavesExactlyItsRecords) {
  struct Case {
    const char* step;
    const char* kinds;    // A allocation, R release, M message, T mapping
    const char* message;  // the guard message, if any
  };
  const Case cases[] = {
      {"calloc", "AR", nullptr},
      {"realloc_null", "AR", nullptr},
      {"overrun", "ARM", kPostGuardDamagedInFree},
      {"underrun", "ARM", kPreGuardDamagedInFree},
      {"size_smash", "ARM", kPreGuardDamagedInFree},
      {"free_null", "", nullptr},
      {"realloc_zero", "AR", nullptr},
      {"realloc_grow", "ARAR", nullptr},
      {"overflow", "AA", nullptr},
      {"aligned", "AAAARRRR", nullptr},
      {"early", "RR", nullptr},
      {"fork", "AR", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    std::vector<Rec> rs = stepRecords(records, c.step);
    EXPECT_EQ(kinds(rs), c.kinds);
    if (c.message != nullptr && rs.size() == 3) {
      EXPECT_EQ(rs[2].text, c.message);
    }
    for (const Rec& r : rs) {
      if (r.kind != kRecordMapping) {
        EXPECT_GE(r.frames.size(), 1u);
        EXPECT_LE(r.frames.size(), static_cast<size_t>(kMaxFrames));
      }
    }
  }
}

TEST_F(GuardedTrace, GuardedBlocksAreNamedByTheirStartAndCallocTracesTheProduct) {
  uint64_t user = stepResult(records, "calloc")[0];
  EXPECT_EQ(user % 16, 0u) << "malloc's alignment is kept";
  std::vector<Rec> rs = stepRecords(records, "calloc");
  ASSERT_EQ(kinds(rs), "AR");
  EXPECT_EQ(rs[0].size, 40u);
  EXPECT_EQ(rs[0].address, user - kUserOffset);
  EXPECT_EQ(rs[1].address, user - kUserOffset);

  // A guard message comes right behind the release of its block.
  for (const char* step : {"overrun", "underrun", "size_smash"}) {
    SCOPED_TRACE(step);
    uint64_t p = stepResult(records, step)[0];
    rs = stepRecords(records, step);
    ASSERT_EQ(kinds(rs), "ARM");
    EXPECT_EQ(rs[0].size, 16u);
    EXPECT_EQ(rs[0].address, p - kUserOffset);
    EXPECT_EQ(rs[1].address, p - kUserOffset);
    EXPECT_EQ(rs[2].frames, rs[1].frames) << "the message carries the stack of the free";
  }

  std::vector<uint64_t> grow = stepResult(records, "realloc_grow");
  rs = stepRecords(records, "realloc_grow");
  ASSERT_EQ(kinds(rs), "ARAR");
  EXPECT_EQ(rs[0].size, 20u);
  EXPECT_EQ(rs[1].address, grow[0] - kUserOffset);
  EXPECT_EQ(rs[2].size, 5000u);
  EXPECT_EQ(rs[2].address, grow[1] - kUserOffset);

  uint64_t p = stepResult(records, "realloc_zero")[0];
  rs = stepRecords(records, "realloc_zero");
  ASSERT_EQ(kinds(rs), "AR");
  EXPECT_EQ(rs[1].address, p - kUserOffset) << "realloc(p, 0) is a release and nothing else";
}

TEST_F(GuardedTrace, FailedAndUnguardedAllocations) {
  std::vector<Rec> rs = stepRecords(records, "overflow");
  ASSERT_EQ(kinds(rs), "AA");
  EXPECT_EQ(rs[0].size, SIZE_MAX - 8);
  EXPECT_EQ(rs[0].address, 0u);
  EXPECT_EQ(rs[1].size, UINT64_MAX) << "an overflowing calloc";
  EXPECT_EQ(rs[1].address, 0u);

  // Aligned blocks and blocks from before tracing are plain: named by the
  // address the program holds, and released without any guard message.
  std::vector<uint64_t> aligned = stepResult(records, "aligned");
  rs = stepRecords(records, "aligned");
  ASSERT_EQ(kinds(rs), "AAAARRRR");
  EXPECT_EQ(rs[0].size, 100u);
  EXPECT_EQ(rs[0].address, aligned[0]);
  EXPECT_EQ(rs[1].address, aligned[1]);
  EXPECT_EQ(rs[4].address, aligned[0]);

  std::vector<uint64_t> early = stepResult(records, "early");
  rs = stepRecords(records, "early");
  ASSERT_EQ(kinds(rs), "RR");
  EXPECT_EQ(rs[0].address, early[0]);
  EXPECT_EQ(rs[1].address, early[1]);
}

TEST_F(GuardedTrace, MappingRecordsComeFirstAndFollowLaterLibraries) {
  std::string exe;
  for (const Rec& r : records) {
    if (isMessage(r, "exe ")) exe = r.text.substr(4);
  }
  ASSERT_FALSE(exe.empty());
  size_t firstOther = 0;
  while (firstOther < records.size() && records[firstOther].kind == kRecordMapping) ++firstOther;
  ASSERT_GT(firstOther, 2u);
  std::set<std::string> paths;
  for (size_t i = 0; i < firstOther; ++i) {
    EXPECT_LT(records[i].start, records[i].end);
    paths.insert(records[i].text);
  }
  EXPECT_EQ(paths.count(exe), 1u) << "the program's own code";
  EXPECT_TRUE(std::any_of(paths.begin(), paths.end(), [](const std::string& p) {
    return p.find("libc.so") != std::string::npos;
  }));
  EXPECT_TRUE(std::any_of(paths.begin(), paths.end(), [](const std::string& p) {
    return p.find("liborvmemhooks.so") != std::string::npos;
  }));

  // libz is loaded in the dlopen step: its code is announced before the
  // first record after it.
  std::vector<Rec> rs = stepRecords(records, "dlopen");
  auto z = std::find_if(rs.begin(), rs.end(), [](const Rec& r) {
    return r.kind == kRecordMapping && r.text.find("libz.so") != std::string::npos;
  });
  EXPECT_NE(z, rs.end()) << kinds(rs);

  // The hooks' own frames are left out: the first frame of every record of
  // the calloc step lies in the program, none in the hooks' library.
  uint64_t hooksStart = 0, hooksEnd = 0, exeStart = 0, exeEnd = 0;
  for (size_t i = 0; i < firstOther; ++i) {
    if (records[i].text.find("liborvmemhooks.so") != std::string::npos) {
      hooksStart = records[i].start;
      hooksEnd = records[i].end;
    }
    if (records[i].text == exe) {
      exeStart = records[i].start;
      exeEnd = records[i].end;
    }
  }
  for (const Rec& r : stepRecords(records, "calloc")) {
    ASSERT_FALSE(r.frames.empty());
    EXPECT_TRUE(r.frames[0] >= exeStart && r.frames[0] < exeEnd) << std::hex << r.frames[0];
    for (uint64_t f : r.frames) EXPECT_FALSE(f >= hooksStart && f < hooksEnd) << std::hex << f;
  }
}

TEST_F(GuardedTrace, ForkedChildrenStayOutOfTheTrace) {
  for (const Rec& r : records) {
    EXPECT_FALSE(r.kind == kRecordAlloc && (r.size == 12345 || r.size == 12346))
        << "a child's allocation reached the trace at offset " << r.offset;
  }
  uint64_t block = stepResult(records, "fork")[0];
  std::vector<Rec> rs = stepRecords(records, "fork");
  ASSERT_EQ(kinds(rs), "AR");
  EXPECT_EQ(rs[0].address, block - kUserOffset);
  EXPECT_EQ(rs[1].address, block - kUserOffset);
}

TEST_F(GuardedTrace, OrvmemtraceSummarisesIt) {
  RunResult r = runProgram({kReader, dir.file("trace")});
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string& out = r.out;
  auto lineWith = [&](const std::string& text) {
    size_t at = out.find(text);
    if (at == std::string::npos) return std::string();
    size_t begin = out.rfind('\n', at) + 1;
    return out.substr(begin, out.find('\n', at) - begin);
  };
  std::string leak = lineWith("leak_site()+");
  EXPECT_NE(leak.find(" 3 blocks "), std::string::npos) << out;
  EXPECT_NE(leak.find(" 3000 bytes"), std::string::npos) << leak;
  std::string leakNew = lineWith("leak_new_site()+");
  EXPECT_NE(leakNew.find(" 1 blocks "), std::string::npos) << "operator new[] is not the call site\n" << out;
  EXPECT_NE(leakNew.find(" 2000 bytes"), std::string::npos) << leakNew;
  EXPECT_NE(out.find("guard violations: 3\n"), std::string::npos) << out;
  size_t post = out.find(std::string(": ") + kPostGuardDamagedInFree);
  ASSERT_NE(post, std::string::npos) << out;
  std::string overrun = out.substr(post, out.find("\n  at offset", post + 1) - post);
  EXPECT_NE(overrun.find(" of 16 bytes"), std::string::npos) << overrun;
  EXPECT_NE(overrun.find("allocated at:\n      (anonymous namespace)::step_overrun()+"), std::string::npos)
      << overrun;
  EXPECT_NE(overrun.find("released at:\n"), std::string::npos) << overrun;
  EXPECT_NE(out.find(kPreGuardDamagedInFree), std::string::npos);
  EXPECT_NE(out.find("failed allocations: 2"), std::string::npos) << out;

  RunResult bare = runProgram({kReader, "--no-symbols", "--frames", "2", dir.file("trace")});
  EXPECT_EQ(bare.exitCode, 0);
  EXPECT_EQ(bare.out.find("leak_site"), std::string::npos);
  EXPECT_NE(bare.out.find("memhooks_helper+0x"), std::string::npos) << bare.out;

  RunResult dump = runProgram({kReader, "--dump", dir.file("trace")});
  EXPECT_EQ(dump.exitCode, 0);
  EXPECT_NE(dump.out.find("alloc size=40 "), std::string::npos);
}

TEST_F(GuardedTrace, OrvmemtraceReportsTruncationWithItsOffset) {
  // Cut inside the last record.
  const Rec& last = records.back();
  orvtest::writeFile(dir.file("cut"), bytes.substr(0, bytes.size() - 3));
  RunResult r = runProgram({kReader, dir.file("cut")});
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("trace truncated"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("at offset " + std::to_string(last.offset)), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("live blocks:"), std::string::npos) << "what was read is still summarised";

  orvtest::writeFile(dir.file("damaged"), bytes.substr(0, records[3].offset) + "\x07garbage");
  r = runProgram({kReader, dir.file("damaged")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("unknown record marker 0x07 at offset " + std::to_string(records[3].offset)),
            std::string::npos)
      << r.err;
}

TEST(Orvmemtrace, UsageAndExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* text;  // in stdout for 0, in stderr otherwise
  };
  const Case cases[] = {
      {{"--help"}, 0, "usage: orvmemtrace"},
      {{}, 2, "no trace file given"},
      {{"--bogus", "x"}, 2, "unknown option --bogus"},
      {{"--frames"}, 2, "--frames needs a count"},
      {{"--frames", "-3", "x"}, 2, "--frames needs a count"},
      {{"a", "b"}, 2, "only one trace file"},
      {{"/nonexistent/trace"}, 1, "cannot open /nonexistent/trace"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {kReader};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.text);
    RunResult r = runProgram(argv);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE((c.exitCode == 0 ? r.out : r.err).find(c.text), std::string::npos) << r.out << r.err;
  }
  orvtest::TempDir dir;
  orvtest::writeFile(dir.file("empty"), "");
  RunResult r = runProgram({kReader, dir.file("empty")});
  EXPECT_EQ(r.exitCode, 0) << "an empty trace is a trace of nothing";
}

TEST(MemHooks, WithoutGuardsBlocksAreNamedByTheirOwnAddress) {
  orvtest::TempDir dir;
  RUN_HELPER(r, {kHelper, "plain", dir.file("trace")});
  std::vector<Rec> records = decode(readBinary(dir.file("trace")));
  uint64_t user = stepResult(records, "calloc")[0];
  std::vector<Rec> rs = stepRecords(records, "calloc");
  ASSERT_EQ(kinds(rs), "AR");
  EXPECT_EQ(rs[0].size, 40u);
  EXPECT_EQ(rs[0].address, user);
  rs = stepRecords(records, "realloc_null");
  EXPECT_EQ(kinds(rs), "AR") << "realloc(NULL, n) traces only an allocation";
  EXPECT_EQ(kinds(stepRecords(records, "free_null")), "");
  for (const Rec& rec : records) EXPECT_FALSE(isMessage(rec, "PREGUARD") || isMessage(rec, "POSTGUARD"));
}

TEST(MemHooks, ThreadsNeverInterleaveRecords) {
  orvtest::TempDir dir;
  RUN_HELPER(r, {kHelper, "threads", dir.file("trace")});
  std::vector<Rec> records = decode(readBinary(dir.file("trace")));
  ASSERT_FALSE(records.empty());
  EXPECT_TRUE(isMessage(records.back(), "step end"));
  // Every block of the threads is released again, and every release is of a
  // block the trace saw allocated.
  std::map<uint64_t, uint64_t> live;
  size_t allocations = 0;
  for (const Rec& rec : stepRecords(records, "threads")) {
    if (rec.kind == kRecordAlloc && rec.size >= 1000 && rec.size < 1064) {
      ++allocations;
      EXPECT_EQ(live.count(rec.address), 0u);
      live[rec.address] = rec.size;
    } else if (rec.kind == kRecordRelease && live.count(rec.address) != 0) {
      live.erase(rec.address);
    }
    EXPECT_FALSE(rec.kind == kRecordMessage) << rec.text;
    EXPECT_FALSE(rec.kind == kRecordAlloc && rec.size == 4321) << "a child's allocation reached the trace";
  }
  EXPECT_EQ(allocations, 4u * (2000 + 667));
  EXPECT_TRUE(live.empty()) << live.size() << " blocks not released";
}

TEST(MemHooks, TracingStartsFromTheEnvironment) {
  orvtest::TempDir dir;
  RUN_HELPER(r, {kHelper, "env"}, {"ORV_MEMTRACE_FILE=" + dir.file("trace"), "ORV_MEMTRACE_GUARDS=1"});
  std::vector<Rec> records = decode(readBinary(dir.file("trace")));
  EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const Rec& rec) { return isMessage(rec, "env traced"); }));
}

TEST(MemHooks, PreloadedIntoAnyProgram) {
  if (kSanitized) GTEST_SKIP() << "a sanitizer runtime must come first in a preload";
  orvtest::TempDir dir;
  RunResult r = runProgram({"/bin/ls", "/"}, {"LD_PRELOAD=" + kLibrary, "ORV_MEMTRACE_FILE=" + dir.file("trace")});
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<Rec> records = decode(readBinary(dir.file("trace")));
  size_t allocations = 0;
  bool lsMapped = false;
  for (const Rec& rec : records) {
    allocations += rec.kind == kRecordAlloc;
    lsMapped = lsMapped || (rec.kind == kRecordMapping && rec.text.find("/ls") != std::string::npos);
  }
  EXPECT_GT(allocations, 0u);
  EXPECT_TRUE(lsMapped);
}

TEST(MemHooks, AFailingDestinationEndsTheProcessWithAnError) {
  RunResult r = runProgram({kHelper, "failwrite", "/dev/full"});
  ASSERT_TRUE(r.finished);
  if (r.exitCode == kSkipped) GTEST_SKIP();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("\nERROR write to memory analyzer failed\n"), std::string::npos) << r.err;
}

TEST(MemHooks, RefusesWhenNotTheProcessAllocator) {
  // Loaded late and locally, the library's malloc is not the process's: a
  // trace would see only part of the calls, so tracing must stay off.
  void* lib = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto init = reinterpret_cast<int (*)(const char*, bool)>(dlsym(lib, "orv_init_mem_hooks"));
  ASSERT_NE(init, nullptr);
  orvtest::TempDir dir;
  EXPECT_EQ(init(dir.file("trace").c_str(), false), -1);
  EXPECT_NE(access(dir.file("trace").c_str(), F_OK), 0) << "no trace file is made";
}

// ---------------------------------------------------------------- socket

class Listener {
 public:
  explicit Listener(const std::string& path) : _path(path) {}
  ~Listener() {
    if (_conn >= 0) close(_conn);
    if (_fd >= 0) close(_fd);
  }
  bool listenNow() {
    _fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, _path.c_str(), sizeof addr.sun_path - 1);
    return _fd >= 0 && bind(_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(_fd, 1) == 0;
  }
  // Accepts one connection and reads it to its end, each wait bounded.
  bool receive(std::string* out, int timeoutMillis) {
    pollfd p{_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMillis) != 1) return false;
    _conn = accept4(_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (_conn < 0) return false;
    for (;;) {
      pollfd q{_conn, POLLIN, 0};
      if (poll(&q, 1, timeoutMillis) != 1) return false;
      char buf[65536];
      ssize_t n = read(_conn, buf, sizeof buf);
      if (n < 0) return false;
      if (n == 0) return true;
      out->append(buf, static_cast<size_t>(n));
    }
  }

 private:
  std::string _path;
  int _fd = -1;
  int _conn = -1;
};

TEST(MemHooks, TracesToAListeningSocket) {
  orvtest::TempDir dir;
  Listener listener(dir.file("analyzer"));
  ASSERT_TRUE(listener.listenNow());
  Subprocess helper;
  ASSERT_TRUE(helper.start({kHelper, "socket", dir.file("analyzer")}));
  std::string bytes;
  bool received = listener.receive(&bytes, 10000);
  ASSERT_TRUE(helper.finish(10000));
  if (helper.exitCode() == kSkipped) GTEST_SKIP();
  ASSERT_TRUE(received);
  EXPECT_EQ(helper.exitCode(), 0) << helper.err();
  std::vector<Rec> records = decode(bytes);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.front().kind, kRecordMapping);
  std::vector<Rec> rs = stepRecords(records, "calloc");
  ASSERT_EQ(kinds(rs), "AR");
  EXPECT_EQ(rs[0].size, 40u);
  EXPECT_TRUE(isMessage(records.back(), "step end"));
}

TEST(MemHooks, WaitsForTheAnalyzerToListen) {
  orvtest::TempDir dir;
  Listener listener(dir.file("analyzer"));
  Subprocess helper;
  ASSERT_TRUE(helper.start({kHelper, "socket", dir.file("analyzer")}));
  bool retried = helper.waitForStderr("Unable to bind to server socket\n", 10000);
  if (!retried && helper.finish(5000) && helper.exitCode() == kSkipped) GTEST_SKIP();
  ASSERT_TRUE(retried) << helper.err();
  ASSERT_TRUE(listener.listenNow());
  std::string bytes;
  EXPECT_TRUE(listener.receive(&bytes, 10000)) << "the next attempt, 2 seconds on, connects";
  ASSERT_TRUE(helper.finish(10000));
  EXPECT_EQ(helper.exitCode(), 0) << helper.err();
  std::vector<Rec> records = decode(bytes);
  EXPECT_FALSE(stepRecords(records, "calloc").empty());
}

TEST(MemHooks, ASocketPathTooLongIsRefusedAtOnce) {
  std::string path = "/tmp/" + std::string(200, 's');
  RunResult r = runProgram({kHelper, "socket", path}, {}, 10000);
  ASSERT_TRUE(r.finished) << "no endless retry";
  if (r.exitCode == kSkipped) GTEST_SKIP();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Memory trace socket path too long"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Unable to bind to server socket"), std::string::npos);
}

}  // namespace
