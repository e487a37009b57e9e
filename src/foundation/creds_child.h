// The child side of a credential look-up: the host program started with
// "-testcred" reads one request on standard input, makes the one PAM or
// name-service call, writes the answer on standard output and ends. A
// name service that hangs or crashes takes only this short-lived process
// down.
//
// Not thread-safe: runs on the one thread of the child process.
#pragma once

#include <string>

struct CredChildOptions {
  bool nssWorkaround = false;  // -nss_workaround
  bool debug = false;          // -debug_creds: append a trace to tracePath
  int bufsize = 0;             // -bufsize: first buffer size of the look-ups (0: the system's)
  std::string tracePath = "/tmp/orvanex-testcred.out";
};

// Reads the child's flags from its argument list. Unknown arguments are
// ignored (they belong to the host program); a -bufsize without a number, or
// with one that is not a decimal int, leaves the size at 0.
void parseCredChildArgs(int argc, const char* const* argv, CredChildOptions* out);

// Serves one request from `inFd`, answering on `outFd`, and returns the
// status the process ends with: 0 after an answer (a refused login included),
// 11 when the request is short or malformed, 1 when the answer cannot be
// written.
[[nodiscard]] int runCredChild(int inFd, int outFd, const CredChildOptions& options);

// The whole child: takes the flags from the process's own argument list,
// moves the request and reply pipes off standard input and output (which then
// read and write /dev/null, so a chatty PAM or name-service module cannot
// corrupt the reply), keeps the process from dumping core (it holds a
// password) and exits with runCredChild's status. `tracePath` replaces the
// trace file of -debug_creds when not null.
[[noreturn]] void runTestcredProcess(const char* tracePath);

extern "C" {
// The entry the host program calls when started with "-testcred". Never
// returns.
[[noreturn]] void testcred();
}
