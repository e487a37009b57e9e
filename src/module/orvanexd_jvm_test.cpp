// The host daemon end to end, as a separate process: build/bin/orvanexd on a
// copy of the demo home, reading its standard output and error, stopping it
// with SIGTERM. Every wait is bounded (ORV_JVM_TEST_TIMEOUT seconds, default
// 60); a daemon that does not answer in time is killed and the test fails.
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

std::string daemonPath() { return std::string(ORV_BINARY_DIR) + "/bin/orvanexd"; }

// A child process with its standard output and error read through pipes.
class Daemon {
 public:
  explicit Daemon(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(daemonPath().c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      const std::string path = daemonPath();
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
  }

  ~Daemon() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
  }

  // Reads until standard output holds `needle`; false when the daemon ends
  // first or the time runs out.
  bool waitForOutput(const std::string& needle) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
    while (out_.find(needle) == std::string::npos) {
      if (!pump(deadline)) return out_.find(needle) != std::string::npos;
    }
    return true;
  }

  // Waits for the end (reading all output); the exit status, or -1 when the
  // daemon had to be killed or died of a signal.
  int waitForExit() {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds());
    while (pump(deadline)) {
    }
    int status = 0;
    while (true) {
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) break;
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

  void signal(int sig) { kill(pid_, sig); }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Reads what is there; false at the end of both streams or the deadline.
  bool pump(Clock::time_point deadline) {
    if (outFd_ < 0 && errFd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    const int n = poll(fds, 2, static_cast<int>(left < 200 ? left : 200));
    if (n < 0) return false;
    readFrom(fds[0], &outFd_, &out_);
    readFrom(fds[1], &errFd_, &err_);
    return true;
  }

  static void readFrom(const pollfd& p, int* fd, std::string* into) {
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

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  bool exited_ = false;
  std::string out_;
  std::string err_;
};

void link(const std::string& target, const std::string& path) {
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << path;
}

// A copy of build/home: the jars and libraries linked, the configuration
// copied with `extra` appended (a later line wins), the test jar in lib/boot.
class DaemonHome {
 public:
  explicit DaemonHome(const std::string& extra = "") {
    const std::string built = std::string(ORV_BINARY_DIR) + "/home";
    for (const char* d : {"lib", "lib/boot", "logs", "tmp"}) EXPECT_EQ(mkdir(dir_.file(d).c_str(), 0755), 0);
    link(built + "/bin", dir_.file("bin"));
    link(built + "/lib/thirdparty", dir_.file("lib/thirdparty"));
    link(built + "/lib/boot/orvanex-boot.properties", dir_.file("lib/boot/orvanex-boot.properties"));
    link(std::string(ORV_BINARY_DIR) + "/jars/orvtests.jar", dir_.file("lib/boot/orvtests.jar"));
    for (const char* f : {"java.options", "alertcatalog", "logging.properties"}) {
      link(built + "/" + f, dir_.file(f));
    }
    orvtest::writeFile(dir_.file("orvanex.properties"), orvtest::readFile(built + "/orvanex.properties") + "\n" + extra);
  }

  const std::string& path() const { return dir_.path(); }

  // Everything logged into logs/ so far.
  std::string log() const {
    std::string all;
    const std::string logs = dir_.file("logs");
    DIR* d = opendir(logs.c_str());
    if (d == nullptr) return all;
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') all += orvtest::readFile(logs + "/" + e->d_name);
    }
    closedir(d);
    return all;
  }

 private:
  orvtest::TempDir dir_;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(Orvanexd, RunsTheDemoUntilSigterm) {
  DaemonHome home;
  Daemon d({"--home", home.path(), "--stdout"});
  ASSERT_TRUE(d.waitForOutput("DemoModule demo started")) << d.out() << d.err();
  ASSERT_TRUE(d.waitForOutput("orvanexd: running until SIGTERM")) << d.out() << d.err();
  for (const char* line : {"JVM Parameters: ", "    -Xrs", "    -Xmx296m", "    abort", "Using ZGC", "XS#6 { ",
                           "                     DH: 32 meg (override)", "Start java module: demo",
                           "demo_setting 42", "hello from the demo home", "Host: module status 0: demo module demo running"}) {
    EXPECT_TRUE(has(d.out(), line)) << line << "\n" << d.out();
  }
  d.signal(SIGTERM);
  EXPECT_EQ(d.waitForExit(), 0) << d.err();
  EXPECT_TRUE(has(d.out(), "Received request to shutdown..."));
  // The log directory holds the same lines.
  const std::string log = home.log();
  EXPECT_TRUE(has(log, "Start java module: demo")) << log;
  EXPECT_TRUE(has(log, "JVM Parameters: "));
}

TEST(Orvanexd, OptionsThisVmRefusesFailClearly) {
  struct Case {
    const char* name;
    const char* properties;
    const char* refused;  // the VM's own complaint
  };
  const Case cases[] = {
      {"mark and sweep", "ignoreZGC: true\n", "UseConcMarkSweepGC"},
      {"gc log", "log_gc: true\n", "PrintGCDateStamps"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DaemonHome home(c.properties);
    Daemon d({"--home", home.path()});
    EXPECT_EQ(d.waitForExit(), 1) << d.out() << d.err();
    EXPECT_TRUE(has(d.err(), "Unable to create a Java Virtual Machine")) << d.err();
    EXPECT_TRUE(has(d.out() + d.err(), c.refused)) << d.out() << d.err();
    const std::string log = home.log();
    EXPECT_TRUE(has(log, "Unable to create a Java Virtual Machine")) << log;
    EXPECT_TRUE(has(log, std::string("    -XX:+") + c.refused)) << log;
  }
}

TEST(Orvanexd, RunClass) {
  struct Case {
    const char* className;
    int status;
    const char* output;
  };
  const Case cases[] = {
      {"com.vesk.orvanex.tests.HelloMain", 0, "HelloMain ran with 0 arguments"},
      {"com.vesk.orvanex.tests.FailingMain", 1, "FailingMain fails on purpose"},
      {"com.vesk.orvanex.tests.NoSuchClass", 1, "NoClassDefFoundError"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.className);
    DaemonHome home;
    Daemon d({"--home", home.path(), "--stdout", "--run-class", c.className});
    EXPECT_EQ(d.waitForExit(), c.status) << d.out() << d.err();
    EXPECT_TRUE(has(d.out() + d.err(), c.output)) << d.out() << d.err();
    EXPECT_TRUE(has(d.out(), std::string("Run java class: ") + c.className)) << d.out();
    EXPECT_FALSE(has(d.out(), "Start java module:")) << d.out();
  }
}

TEST(Orvanexd, UsageAndStartFailures) {
  orvtest::TempDir empty;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"no arguments", {}, 2, "--home is required"},
      {"unknown argument", {"--home", "/tmp", "--bogus"}, 2, "unknown argument --bogus"},
      {"missing value", {"--home"}, 2, "--home needs a value"},
      {"missing home", {"--home", empty.file("nowhere")}, 1, "does not exist"},
      {"missing module", {"--home", empty.path(), "--module", empty.file("none.so")}, 1, "cannot load the module"},
      {"not a module", {"--home", empty.path(), "--module", "libc.so.6"}, 1, "the module lacks moduleMain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Daemon d(c.args);
    EXPECT_EQ(d.waitForExit(), c.status) << d.err();
    EXPECT_TRUE(has(d.err(), c.err)) << d.err();
  }
  Daemon help({"--help"});
  EXPECT_EQ(help.waitForExit(), 0);
  EXPECT_TRUE(has(help.out(), "usage: orvanexd --home DIR"));
}

}  // namespace
