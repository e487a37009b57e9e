#include "subprocess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace {

int64_t nowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Subprocess::~Subprocess() {
  if (_pid > 0 && !_exited) {
    kill(_pid, SIGKILL);
    reap(true);
  }
  if (_outFd >= 0) close(_outFd);
  if (_errFd >= 0) close(_errFd);
}

bool Subprocess::start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  for (const std::string& e : env) envStrings.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  int rc = posix_spawn(&_pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  _outFd = out[0];
  _errFd = err[0];
  if (rc != 0) {
    _pid = -1;
    return false;
  }
  return true;
}

bool Subprocess::pump(int millis) {
  pollfd fds[2];
  int n = 0;
  if (_outFd >= 0) fds[n++] = pollfd{_outFd, POLLIN, 0};
  if (_errFd >= 0) fds[n++] = pollfd{_errFd, POLLIN, 0};
  if (n == 0) return false;
  if (poll(fds, static_cast<nfds_t>(n), millis) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    char buf[4096];
    ssize_t got = read(fds[i].fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    bool isOut = fds[i].fd == _outFd;
    if (got <= 0) {
      close(fds[i].fd);
      (isOut ? _outFd : _errFd) = -1;
    } else {
      (isOut ? _out : _err).append(buf, static_cast<size_t>(got));
    }
  }
  return _outFd >= 0 || _errFd >= 0;
}

void Subprocess::reap(bool block) {
  if (_pid <= 0 || _exited) return;
  int status;
  pid_t r = waitpid(_pid, &status, block ? 0 : WNOHANG);
  if (r == _pid) {
    _exited = true;
    _exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
}

bool Subprocess::waitForStderr(const std::string& text, int timeoutMillis) {
  int64_t deadline = nowMillis() + timeoutMillis;
  while (_err.find(text) == std::string::npos) {
    int64_t left = deadline - nowMillis();
    if (left <= 0 || !pump(static_cast<int>(left < 50 ? left : 50))) return _err.find(text) != std::string::npos;
  }
  return true;
}

bool Subprocess::finish(int timeoutMillis) {
  int64_t deadline = nowMillis() + timeoutMillis;
  for (;;) {
    int64_t left = deadline - nowMillis();
    if (left <= 0) break;
    if (!pump(static_cast<int>(left < 50 ? left : 50))) {
      // Output closed: the program is ending.
      while (!_exited && nowMillis() < deadline) {
        reap(false);
        if (!_exited) {
          timespec ts{0, 2 * 1000 * 1000};
          nanosleep(&ts, nullptr);
        }
      }
      break;
    }
  }
  if (!_exited) {
    kill(_pid, SIGKILL);
    reap(true);
    _exitCode = -1;
    return false;
  }
  return true;
}

RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env, int timeoutMillis) {
  RunResult r;
  Subprocess p;
  if (!p.start(argv, env)) return r;
  r.finished = p.finish(timeoutMillis);
  r.exitCode = p.exitCode();
  r.out = p.out();
  r.err = p.err();
  return r;
}
