// SIGTERM to the host daemon while its Java VM runs: the runtime's signal
// thread takes it (the VM runs with -Xrs and every thread blocks the signal),
// runs the shutdown handlers and ends the process with status 0. The daemon
// runs as a separate process on a copy of the demo home; every wait is
// bounded (ORV_JVM_TEST_TIMEOUT seconds, default 60).
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "testing/test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

int timeoutSeconds() {
  const char* t = std::getenv("ORV_JVM_TEST_TIMEOUT");
  const int v = t ? std::atoi(t) : 0;
  return v > 0 ? v : 60;
}

// orvanexd with its standard output and error read through one pipe.
class Daemon {
 public:
  explicit Daemon(const std::vector<std::string>& args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    const std::string path = std::string(ORV_BINARY_DIR) + "/bin/orvanexd";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  ~Daemon() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool waitForOutput(const std::string& needle) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
    while (out_.find(needle) == std::string::npos) {
      if (!pump(deadline)) return out_.find(needle) != std::string::npos;
    }
    return true;
  }
  int waitForExit() {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
    while (pump(deadline)) {
    }
    int status = 0;
    for (;;) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) break;
      if (Clock::now() >= deadline) {
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
  void signal(int sig) { kill(pid_, sig); }
  const std::string& out() const { return out_; }

 private:
  bool pump(Clock::time_point deadline) {
    if (fd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left < 200 ? left : 200)) < 0) return false;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[4096];
      const ssize_t r = read(fd_, buf, sizeof buf);
      if (r > 0) {
        out_.append(buf, static_cast<size_t>(r));
      } else {
        close(fd_);
        fd_ = -1;
      }
    }
    return true;
  }
  pid_t pid_ = -1;
  int fd_ = -1;
  bool exited_ = false;
  std::string out_;
};

// A copy of build/home: its files linked, the configuration copied.
class Home {
 public:
  Home() {
    const std::string built = std::string(ORV_BINARY_DIR) + "/home";
    DIR* d = opendir(built.c_str());
    EXPECT_NE(d, nullptr) << built;
    if (d == nullptr) return;
    while (const dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name == "." || name == ".." || name == "logs" || name == "tmp" || name == "orvanex.properties") continue;
      EXPECT_EQ(symlink((built + "/" + name).c_str(), dir_.file(name).c_str()), 0) << name;
    }
    closedir(d);
    for (const char* sub : {"logs", "tmp"}) EXPECT_EQ(mkdir(dir_.file(sub).c_str(), 0755), 0);
    orvtest::writeFile(dir_.file("orvanex.properties"), orvtest::readFile(built + "/orvanex.properties"));
  }
  const std::string& path() const { return dir_.path(); }

 private:
  orvtest::TempDir dir_;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OrvanexdSignals, SigtermWithALiveJvmRunsTheShutdownHandlersAndExitsZero) {
  Home home;
  Daemon d({"--home", home.path(), "--stdout"});
  ASSERT_TRUE(d.waitForOutput("orvanexd: running until SIGTERM")) << d.out();
  ASSERT_TRUE(has(d.out(), "    -Xrs")) << d.out();  // the VM leaves SIGTERM to us
  d.signal(SIGTERM);
  EXPECT_EQ(d.waitForExit(), 0) << d.out();
  EXPECT_TRUE(has(d.out(), "Received request to shutdown...")) << d.out();
  EXPECT_TRUE(has(d.out(), "orvanexd: shutdown handlers ran")) << d.out();
}

}  // namespace
