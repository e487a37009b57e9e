// orvwire: looks inside the tagged encoding of messages and objects.
//   orvwire dump [--frame] [FILE]
// Prints the items of FILE (standard input without FILE, or with "-") as an
// indented tree. Malformed input prints what was decoded, then the decoder's
// error code, text and byte offset, and exits with status 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "wire/message_dump.h"
#include "wire/model_xlators.h"

namespace {

const char kUsage[] =
    "usage: orvwire dump [--frame] [FILE]\n"
    "\n"
    "Prints a tagged encoding (one or more items, objects or containers) as an\n"
    "indented tree: each line shows the byte offset of the item, its tag and\n"
    "value; objects and containers show their type id and the name of their\n"
    "registered translator; field values show their field number.\n"
    "\n"
    "  FILE      the encoded bytes; standard input when absent or \"-\"\n"
    "  --frame   the input is framed messages as a connection carries them:\n"
    "            each begins with the 9-byte header (code 3, payload length,\n"
    "            message type)\n"
    "  --help    this text\n"
    "\n"
    "Exit status: 0 decoded, 1 malformed input or unreadable file, 2 bad usage.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool readAll(std::FILE* f, std::vector<char>& data) {
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  return std::ferror(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool framed = false;
  const char* path = nullptr;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (args[0] != "dump") {
    std::fprintf(stderr, "orvwire: unknown command '%s'\n", args[0].c_str());
    return usage();
  }
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--frame") {
      framed = true;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      std::fprintf(stderr, "orvwire: unknown option '%s'\n", args[i].c_str());
      return usage();
    } else if (path == nullptr) {
      path = argv[i + 1];
    } else {
      std::fprintf(stderr, "orvwire: more than one input file\n");
      return usage();
    }
  }

  std::vector<char> data;
  if (path == nullptr || std::strcmp(path, "-") == 0) {
    if (!readAll(stdin, data)) {
      std::fprintf(stderr, "orvwire: cannot read standard input: %s\n", std::strerror(errno));
      return 1;
    }
  } else {
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "orvwire: cannot open %s: %s\n", path, std::strerror(errno));
      return 1;
    }
    bool ok = readAll(f, data);
    std::fclose(f);
    if (!ok) {
      std::fprintf(stderr, "orvwire: cannot read %s: %s\n", path, std::strerror(errno));
      return 1;
    }
  }

  registerModelXlators();
  std::string out;
  MessageDump::Error error;
  int rc = MessageDump::dumpBytes(data.data(), data.size(), framed, out, &error);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  if (rc != 0) {
    std::fprintf(stderr, "orvwire: error %d at offset %llu: %s\n", error.code,
                 static_cast<unsigned long long>(error.offset), error.text.c_str());
    return 1;
  }
  return 0;
}
