// SIGTERM to the host daemon while its Java VM runs: the runtime's signal
// thread takes it (the VM runs with -Xrs and every thread blocks the signal),
// runs the shutdown handlers and ends the process with status 0. The daemon
// runs as a separate process on a copy of the demo home; every wait is
// bounded (ORV_JVM_TEST_TIMEOUT seconds, default 60).
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "testing/daemon_process.h"

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OrvanexdSignals, SigtermWithALiveJvmRunsTheShutdownHandlersAndExitsZero) {
  orvtest::DaemonHome home;
  orvtest::DaemonProcess d({"--home", home.path(), "--stdout"});
  ASSERT_TRUE(d.waitForOutput("orvanexd: running until SIGTERM")) << d.out() << d.err();
  ASSERT_TRUE(has(d.out(), "    -Xrs")) << d.out();  // the VM leaves SIGTERM to us
  d.signal(SIGTERM);
  EXPECT_EQ(d.waitForExit(), 0) << d.out() << d.err();
  const std::string all = d.out() + d.err();
  EXPECT_TRUE(has(all, "Received request to shutdown...")) << all;
  EXPECT_TRUE(has(all, "orvanexd: shutdown handlers ran")) << all;
}

}  // namespace
