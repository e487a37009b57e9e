// creds_test_child: the program the credential tests execute in place of the
// host program.
//
//   creds_test_child [flags] -testcred
//       the credential child (as the host program runs it), or, with
//       CREDS_FAKE_MODE set, a child that misbehaves in the named way;
//   creds_test_child admin SERVICE USER PASSWORD [EUID]
//       a process that runs s_verify_admin_user (as EUID when given: run it
//       under the uid wrapper) and prints "admin=<result>".
//
// Environment: CREDS_TEST_COUNT_FILE (a line per child started),
// CREDS_TEST_DELAY_MS (a pause before the child serves), CREDS_TEST_GATE (a
// file the child waits for, at most 30 seconds, before it serves), CREDS_TEST_TRACE
// (the -debug_creds trace file), CREDS_FAKE_ARGV_FILE (where the "argv" mode
// writes its arguments), CREDS_TEST_LOG (the admin mode's log file).
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/creds.h"
#include "foundation/creds_child.h"
#include "foundation/creds_protocol.h"
#include "foundation/log.h"
#include "host/host_globals.h"


namespace {

void writeAll(int fd, const void* p, size_t n) {
  const char* c = static_cast<const char*>(p);
  while (n > 0) {
    const ssize_t w = write(fd, c, n);
    if (w <= 0) _exit(1);
    c += w;
    n -= static_cast<size_t>(w);
  }
}

// The reply, written in large pieces (and at flush()).
std::string pending;
void flush() {
  writeAll(STDOUT_FILENO, pending.data(), pending.size());
  pending.clear();
}
void putBytes(const void* p, size_t n) {
  pending.append(static_cast<const char*>(p), n);
  if (pending.size() >= 65536) flush();
}
void putInt(int32_t v) { putBytes(&v, sizeof(v)); }
void putByte(uint8_t v) { putBytes(&v, 1); }
void putString(const char* s) {
  putInt(static_cast<int32_t>(strlen(s)));
  putBytes(s, strlen(s));
}

[[noreturn]] void hang() {
  for (;;) pause();
}

// Each mode reads the request first, as a real child does, then answers
// wrongly.
int fakeReply(const std::string& mode, int argc, char** argv) {
  CredFdReader in(STDIN_FILENO, 0);
  CredRequest req;
  CredSecretBuffer password(kCredMaxPassword + 1);
  if (!readCredRequest(in, &req, &password)) return 11;
  if (mode == "hang") hang();
  if (mode == "exit") return 0;
  if (mode == "argv") {
    std::string line;
    for (int i = 0; i < argc; i++) line += (i > 0 ? " " : "") + std::string(argv[i]);
    line += "\n";
    const char* path = getenv("CREDS_FAKE_ARGV_FILE");
    const int fd = path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      writeAll(fd, line.data(), line.size());
      close(fd);
    }
    putInt(kCredNotFound);
    return 0;
  }
  if (mode == "bad-code") {
    putInt(12345);
    return 0;
  }
  if (mode == "linger") {
    putInt(kCredNotFound);
    flush();
    hang();
  }
  if (mode == "enum-endless") {
    for (;;) {
      putByte(1);
      putInt(7);
      putString("endless");
    }
  }
  if (mode == "enum-bad-marker") {
    putByte(1);
    putInt(7);
    putString("first");
    putByte(7);
    return 0;
  }
  if (mode == "enum-huge-string") {
    putByte(1);
    putInt(7);
    putInt(1 << 30);
    putString("short");
    return 0;
  }
  // The user-reply modes (operations 1 to 3).
  putInt(kCredFound);
  putInt(1000);
  if (mode == "truncated") return 0;
  putInt(1000);
  if (mode == "negative-length") {
    putInt(-5);
    putString("alice");
    return 0;
  }
  if (mode == "huge-length") {
    putInt(0x7fffffff);
    putString("alice");
    return 0;
  }
  if (mode == "die") {
    putInt(5);
    putBytes("al", 2);
    flush();
    kill(getpid(), SIGKILL);
  }
  putString("alice");
  putString("/home/alice");
  if (mode == "many-groups") {
    putInt(10000000);
    for (int i = 0; i < 1000; i++) putInt(i);
    return 0;
  }
  return 3;
}

int fake(const std::string& mode, int argc, char** argv) {
  const int status = fakeReply(mode, argc, argv);
  flush();
  return status;
}

int admin(int argc, char** argv) {
  if (argc < 5) return 2;
  if (const char* logPath = getenv("CREDS_TEST_LOG")) setLog(logPath);
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(commandPath)) return 1;
  self[n] = '\0';
  memcpy(commandPath, self, static_cast<size_t>(n) + 1);
  if (argc > 5 && seteuid(static_cast<uid_t>(atoi(argv[5]))) != 0) {
    perror("seteuid");
    return 1;
  }
  const int rv = s_verify_admin_user(argv[2], argv[3], argv[4]);
  printf("admin=%d\n", rv);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && strcmp(argv[1], "admin") == 0) return admin(argc, argv);
  bool child = false;
  for (int i = 1; i < argc; i++) child = child || strcmp(argv[i], "-testcred") == 0;
  if (!child) {
    fprintf(stderr, "usage: creds_test_child [flags] -testcred | admin SERVICE USER PASSWORD [EUID]\n");
    return 2;
  }
  if (const char* path = getenv("CREDS_TEST_COUNT_FILE")) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
      const std::string line = std::to_string(getpid()) + "\n";
      writeAll(fd, line.data(), line.size());
      close(fd);
    }
  }
  if (const char* delay = getenv("CREDS_TEST_DELAY_MS")) usleep(static_cast<useconds_t>(atoi(delay)) * 1000);
  if (const char* gate = getenv("CREDS_TEST_GATE")) {
    for (int i = 0; i < 6000 && access(gate, F_OK) != 0; i++) usleep(5000);
  }
  const char* mode = getenv("CREDS_FAKE_MODE");
  if (mode != nullptr && *mode != '\0') return fake(mode, argc, argv);
  runTestcredProcess(getenv("CREDS_TEST_TRACE"));
}
