#include "foundation/diagnostics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "foundation/log.h"
#include "testing/test_util.h"

namespace {

TEST(DiagnosticsTest, UnarmedAssertionLogsAndContinues) {
  orvtest::TempDir tmp;
  setLog(tmp.file("a.log").c_str());
  _orvanex_assert_enabled = false;
  _orvanex_java_loaded = false;
  int reached = 0;
  orv_assert(1 + 1 == 3);
  reached = 1;
  orv_assert(reached == 1);  // holds: writes nothing
  EXPECT_EQ(reached, 1);
  std::string text = orvtest::readFile(tmp.file("a.log"));
  EXPECT_NE(text.find(": |||== assertion failure: 1 + 1 == 3, at "), std::string::npos) << text;
  EXPECT_NE(text.find("diagnostics_test.cpp:"), std::string::npos);
  EXPECT_NE(text.find(": Assertion...\n"), std::string::npos);
  EXPECT_EQ(text.find("reached == 1"), std::string::npos);
}

TEST(DiagnosticsTest, AssertionsAreIgnoredDuringShutdown) {
  orvtest::TempDir tmp;
  setLog(tmp.file("s.log").c_str());
  _orvanex_assert_enabled = true;
  _shutdown = true;
  orv_assert(false);
  _shutdown = false;
  _orvanex_assert_enabled = false;
  EXPECT_EQ(orvtest::readFile(tmp.file("s.log")), "");
}

TEST(DiagnosticsDeathTest, ArmedAssertionAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setLog(nullptr);
        _orvanex_assert_enabled = true;
        orv_assert(2 < 1);
      },
      testing::KilledBySignal(SIGABRT), testing::_);
}

TEST(DiagnosticsDeathTest, ArmedAssertionExits55WhenAbortIsIgnored) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        signal(SIGABRT, SIG_IGN);
        _orvanex_assert_enabled = true;
        orv_assert(2 < 1);
      },
      testing::ExitedWithCode(55), testing::_);
}

TEST(DiagnosticsDeathTest, AssertionWithJavaLoadedAsksForAThreadDump) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // No VM here to catch SIGQUIT, so its default action ends the child.
  EXPECT_EXIT(
      {
        _orvanex_java_loaded = true;
        orv_assert(2 < 1);
        _exit(0);
      },
      testing::KilledBySignal(SIGQUIT), testing::_);
}

TEST(DiagnosticsTest, StackDumpsListFrames) {
  orvtest::TempDir tmp;
  setLog(tmp.file("d.log").c_str());
  s_dump_stack("Where am I");
  std::string text = orvtest::readFile(tmp.file("d.log"));
  EXPECT_NE(text.find(": Where am I\n"), std::string::npos);
  size_t frames = 0;
  for (char c : text) frames += c == '\n';
  EXPECT_GT(frames, 3u);
  EXPECT_LE(frames, 51u);

  testing::internal::CaptureStdout();
  s_dump_stack_stdout("On stdout");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("On stdout\n", 0), 0u) << out;
  EXPECT_EQ(out.substr(out.size() - 2), "\n\n");
}

}  // namespace
