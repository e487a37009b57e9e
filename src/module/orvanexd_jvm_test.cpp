// The host daemon end to end, as a separate process: build/bin/orvanexd on a
// copy of the demo home, reading its standard output and error, stopping it
// with SIGTERM. Every wait is bounded (ORV_JVM_TEST_TIMEOUT seconds, default
// 60); a daemon that does not answer in time is killed and the test fails.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "testing/daemon_process.h"
#include "testing/test_util.h"

namespace {

using orvtest::DaemonHome;
using Daemon = orvtest::DaemonProcess;

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
