// Subprocess: runs a program for a test with its output captured and every
// wait bounded; a program that outlives its deadline is killed, so a test
// fails instead of hanging. Not thread-safe.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class Subprocess {
 public:
  Subprocess() = default;
  ~Subprocess();  // kills a program still running
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // Starts argv[0] (a path) with the current environment plus `env`
  // ("NAME=value"). Returns false when it could not be started.
  [[nodiscard]] bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
  // Collects output until standard error contains `text`; false at the
  // deadline or when the program ended first.
  [[nodiscard]] bool waitForStderr(const std::string& text, int timeoutMillis);
  // Waits for the end (killing the program at the deadline). Returns false on
  // a timeout.
  [[nodiscard]] bool finish(int timeoutMillis);

  bool exited() const { return _exited; }
  int exitCode() const { return _exitCode; }  // -1 unless exited()
  const std::string& out() const { return _out; }
  const std::string& err() const { return _err; }

 private:
  // Reads what is available within `millis`; false once both pipes closed.
  bool pump(int millis);
  void reap(bool block);

  pid_t _pid = -1;
  int _outFd = -1;
  int _errFd = -1;
  bool _exited = false;
  int _exitCode = -1;
  std::string _out;
  std::string _err;
};

// Runs a program to its end (at most `timeoutMillis`).
struct RunResult {
  bool finished = false;
  int exitCode = -1;
  std::string out;
  std::string err;
};
RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     int timeoutMillis = 30000);
