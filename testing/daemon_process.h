// The host daemon as a separate process, for end-to-end tests: build/bin/
// orvanexd started on a home of the test's own, its standard output and error
// read through pipes. Every wait is bounded (ORV_JVM_TEST_TIMEOUT seconds,
// default 60); a daemon that does not answer in time is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "testing/test_util.h"

namespace orvtest {

// A running orvanexd. Killed (and reaped) on destruction if still running.
class DaemonProcess {
 public:
  explicit DaemonProcess(const std::vector<std::string>& args);
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Reads until standard output holds `needle`; false when the daemon ends
  // first or the time runs out.
  [[nodiscard]] bool waitForOutput(const std::string& needle);

  // Waits for the end, reading all output; the exit status, or -1 when the
  // daemon had to be killed (the test fails then) or died of a signal.
  [[nodiscard]] int waitForExit();

  void signal(int sig);
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  using Clock = std::chrono::steady_clock;
  bool pump(Clock::time_point deadline);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool exited_ = false;
  std::string out_;
  std::string err_;
};

// A home for one daemon built from build/home: the jars and libraries linked,
// the configuration copied with `extra` appended (a later line wins), the
// test jar in lib/boot, empty logs/ and tmp/.
class DaemonHome {
 public:
  explicit DaemonHome(const std::string& extra = "");

  const std::string& path() const { return dir_.path(); }

  // Everything logged into logs/ so far.
  std::string log() const;

 private:
  TempDir dir_;
};

}  // namespace orvtest
