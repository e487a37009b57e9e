// orvmemtrace: reads a memory trace written by the allocator hooks
// (liborvmemhooks) and prints what a person needs from it: the blocks still
// alive grouped by the call site that allocated them, the totals, the guard
// violations with the block they hit, and the messages.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "symbolizer.h"
#include "trace_reader.h"
#include "trace_summary.h"

namespace {

const char kUsage[] =
    "usage: orvmemtrace [options] <trace-file>\n"
    "\n"
    "Summarises a memory trace written by liborvmemhooks (ORV_MEMTRACE_FILE or\n"
    "orv_init_mem_hooks): live blocks by call site, totals, guard violations and\n"
    "messages. Frames are resolved through the trace's mapping records and the\n"
    "symbol tables of the mapped files; '-' reads the trace from standard input.\n"
    "\n"
    "options:\n"
    "  --frames N     frames shown per call site and violation (default 8)\n"
    "  --sites N      call sites listed (default 50)\n"
    "  --messages N   messages listed (default 50)\n"
    "  --no-symbols   print every frame as module+offset\n"
    "  --dump         print every record, one a line, instead of the summary\n"
    "  --help         this text\n"
    "\n"
    "exit status: 0 the whole trace was read, 1 it could not be opened or is\n"
    "truncated or damaged (what could be read is still summarised), 2 bad usage.\n";

int usageError(const std::string& what) {
  std::cerr << "orvmemtrace: " << what << "\n" << "Try 'orvmemtrace --help'.\n";
  return 2;
}

bool parseCount(const char* text, size_t* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || v > 1000000) return false;
  *out = static_cast<size_t>(v);
  return true;
}

void dumpRecord(const TraceRecord& r) {
  std::printf("%" PRIu64 " ", r.offset);
  switch (r.kind) {
    case memtrace::kRecordAlloc:
      std::printf("alloc size=%" PRIu64 " address=0x%" PRIx64, r.size, r.address);
      break;
    case memtrace::kRecordRelease:
      std::printf("release address=0x%" PRIx64, r.address);
      break;
    case memtrace::kRecordMapping:
      std::printf("mapping 0x%" PRIx64 "-0x%" PRIx64 " %s\n", r.start, r.end, r.text.c_str());
      return;
    case memtrace::kRecordMessage:
      std::printf("message \"%s\"", r.text.c_str());
      break;
  }
  std::printf(" frames=%zu", r.frames.size());
  for (uint64_t f : r.frames) std::printf(" 0x%" PRIx64, f);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  TraceSummary::Options options;
  bool useSymbols = true;
  bool dump = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--frames" || arg == "--sites" || arg == "--messages") {
      size_t* target = arg == "--frames" ? &options.frames : arg == "--sites" ? &options.sites : &options.messages;
      if (i + 1 >= argc || !parseCount(argv[i + 1], target)) return usageError(arg + " needs a count");
      ++i;
    } else if (arg == "--no-symbols") {
      useSymbols = false;
    } else if (arg == "--dump") {
      dump = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else if (path != nullptr) {
      return usageError("only one trace file can be read");
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr) return usageError("no trace file given");

  std::ifstream file;
  std::istream* in = &std::cin;
  if (std::strcmp(path, "-") != 0) {
    file.open(path, std::ios::binary);
    if (!file) {
      std::cerr << "orvmemtrace: cannot open " << path << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    in = &file;
  }

  TraceReader reader(*in);
  TraceSummary summary;
  TraceRecord record;
  TraceReader::Status status;
  while ((status = reader.next(&record)) == TraceReader::Status::kRecord) {
    if (dump) {
      dumpRecord(record);
    } else {
      summary.add(record);
    }
  }
  if (in->bad()) {
    std::cerr << "orvmemtrace: read error in " << path << " at offset " << reader.offset() << "\n";
    return 1;
  }
  if (!dump) {
    std::cout << "memory trace " << path << ": " << reader.offset() << " bytes\n";
    Symbolizer symbolizer;
    symbolizer.setUseSymbols(useSymbols);
    summary.print(std::cout, symbolizer, options);
  }
  std::cout.flush();
  if (status != TraceReader::Status::kEnd) {
    std::cerr << "orvmemtrace: " << reader.error() << "\n";
    return 1;
  }
  return 0;
}
