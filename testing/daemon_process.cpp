#include "testing/daemon_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace orvtest {
namespace {

int timeoutSeconds() {
  const char* t = std::getenv("ORV_JVM_TEST_TIMEOUT");
  const int v = t ? std::atoi(t) : 0;
  return v > 0 ? v : 60;
}

std::string daemonPath() { return std::string(ORV_BINARY_DIR) + "/bin/orvanexd"; }

void readFrom(const pollfd& p, int* fd, std::string* into) {
  if (*fd < 0 || (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
  char buf[4096];
  const ssize_t r = read(*fd, buf, sizeof buf);
  if (r > 0) {
    into->append(buf, static_cast<std::size_t>(r));
  } else {
    close(*fd);
    *fd = -1;
  }
}

void link(const std::string& target, const std::string& path) {
  EXPECT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

}  // namespace

DaemonProcess::DaemonProcess(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    close(out[0]);
    close(out[1]);
    return;
  }
  // Everything the child needs is made before fork: only async-signal-safe
  // calls may follow it in a threaded test program.
  const std::string path = daemonPath();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (pid_ < 0) ADD_FAILURE() << "fork";
}

DaemonProcess::~DaemonProcess() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool DaemonProcess::waitForOutput(const std::string& needle) {
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
  while (out_.find(needle) == std::string::npos) {
    if (!pump(deadline)) return out_.find(needle) != std::string::npos;
  }
  return true;
}

int DaemonProcess::waitForExit() {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
  while (pump(deadline)) {
  }
  int status = 0;
  while (true) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) break;
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "orvanexd did not end in time";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      exited_ = true;
      return -1;
    }
    usleep(20000);
  }
  exited_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void DaemonProcess::signal(int sig) {
  if (pid_ > 0 && !exited_) kill(pid_, sig);
}

bool DaemonProcess::pump(Clock::time_point deadline) {
  if (outFd_ < 0 && errFd_ < 0) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (poll(fds, 2, static_cast<int>(left < 200 ? left : 200)) < 0) return false;
  readFrom(fds[0], &outFd_, &out_);
  readFrom(fds[1], &errFd_, &err_);
  return true;
}

DaemonHome::DaemonHome(const std::string& extra) {
  const std::string built = std::string(ORV_BINARY_DIR) + "/home";
  for (const char* d : {"lib", "lib/boot", "logs", "tmp"}) EXPECT_EQ(mkdir(dir_.file(d).c_str(), 0755), 0);
  link(built + "/bin", dir_.file("bin"));
  link(built + "/lib/thirdparty", dir_.file("lib/thirdparty"));
  link(built + "/lib/boot/orvanex-boot.properties", dir_.file("lib/boot/orvanex-boot.properties"));
  link(std::string(ORV_BINARY_DIR) + "/jars/orvtests.jar", dir_.file("lib/boot/orvtests.jar"));
  for (const char* f : {"java.options", "alertcatalog", "logging.properties"}) link(built + "/" + f, dir_.file(f));
  writeFile(dir_.file("orvanex.properties"), readFile(built + "/orvanex.properties") + "\n" + extra);
}

std::string DaemonHome::log() const {
  std::string all;
  const std::string logs = dir_.file("logs");
  DIR* d = opendir(logs.c_str());
  if (d == nullptr) return all;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') all += readFile(logs + "/" + e->d_name);
  }
  closedir(d);
  return all;
}

}  // namespace orvtest
