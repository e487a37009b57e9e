#include "util/task_data.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "util/util_xlators.h"
#include "wire/message.h"

namespace {

template <class T>
std::unique_ptr<T> roundTrip(int type, T* in) {
  Message m(1);
  EXPECT_EQ(m.writeObject(type, in), 0);
  EXPECT_EQ(m.switchToRead(), 0);
  Translatable* obj = nullptr;
  EXPECT_EQ(m.readObject(type, &obj), 0);
  return std::unique_ptr<T>(static_cast<T*>(obj));
}

TEST(TaskDataTest, EveryFieldRoundTrips) {
  registerUtilXlators();
  TaskData t;
  t.taskId = "id-1";
  t.taskName = "backup";
  t.command = "/bin/tar czf \"x y\"";
  t.env = "A=1";
  t.user = "root";
  t.wireOnly = "hidden";
  t.logfile = "/var/log/t";
  t.waitForProcess = true;
  t.pid = 4242;
  t.timeStarted = 1700000000;
  t.timeExited = 1700000100;
  t.exitCondition = TaskData::EXIT_COND_TERM_WITH_SIGNAL;
  t.exitStatus = 3;
  t.exitSignal = 9;
  t.cannotStartWhy = "none";
  t.canceled = true;
  t.daysToKeep = 7;
  t.workflowName = "wf";
  t.tailPath = "/tmp/tail";
  t.waitTimeout = 60;
  t.minStartTime = 5;
  t.pattern = "^ok$";
  t.patternFlags = 2;
  t.errorCode = 13;
  t.strerror = "Timed out";
  auto back = roundTrip(TaskData::kObjectId, &t);
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == t);
  Translatable* copy = nullptr;
  ASSERT_EQ(t.clone(nullptr, &copy), 0);
  EXPECT_TRUE(*static_cast<TaskData*>(copy) == t);
  delete copy;
}

TEST(TaskDataTest, MissingOptionalFieldsTakeDefaultsAndRequiredOnesFail) {
  registerUtilXlators();
  auto build = [](int lastField) {
    auto m = std::make_unique<Message>(1);
    m->writeObjectHeader(TaskData::kObjectId);
    for (int f = 1; f <= lastField; ++f) {
      if (f == 7 || f == 8) {
        m->writeBoolField(f, false);
      } else if (f == 10 || f == 11) {
        m->writeInt64Field(f, 0);
      } else if (f == 9 || (f >= 12 && f <= 14)) {
        m->writeInt32Field(f, 1);
      } else {
        m->writeStringField(f, nullptr);
      }
    }
    m->writeObjectTrailer();
    EXPECT_EQ(m->switchToRead(), 0);
    return m;
  };
  auto m = build(16);
  Translatable* obj = nullptr;
  ASSERT_EQ(m->readObject(TaskData::kObjectId, &obj), 0);
  std::unique_ptr<TaskData> t(static_cast<TaskData*>(obj));
  EXPECT_EQ(t->daysToKeep, 30);
  EXPECT_FALSE(t->strerror.has_value());
  EXPECT_EQ(t->exitCondition, 1);
  auto shortOne = build(15);
  obj = nullptr;
  EXPECT_NE(shortOne->readObject(TaskData::kObjectId, &obj), 0);
  EXPECT_EQ(obj, nullptr);
}

std::string text(Translatable& t) {
  char* p = t.toString(nullptr);
  std::string s = p != nullptr ? p : "(null)";
  free(p);
  return s;
}

// The whole text, in UTC so that the dates in the comments are fixed.
TEST(TaskDataTest, ToStringRendersEveryFieldButTheWireOnlyOne) {
  setenv("TZ", "UTC", 1);
  tzset();
  TaskData fresh;
  TaskData full;
  full.taskId = "id-1";
  full.taskName = "backup";
  full.command = "say \"hi\"\n";  // a quote or line break cannot end the string early
  full.env = "A=1\tB=C:\\tmp";
  full.user = "root";
  full.wireOnly = "hidden";
  full.logfile = "/var/log/t";
  full.waitForProcess = true;
  full.pid = -1;
  full.timeStarted = 1700000000;
  full.timeExited = 4102444800;  // past 2038: times are 64-bit
  full.exitCondition = TaskData::EXIT_COND_APPMON_DEAD_PID_DEAD;
  full.exitStatus = 255;
  full.exitSignal = 9;
  full.cannotStartWhy = "";
  full.canceled = true;
  full.daysToKeep = 0;
  full.workflowName = "caf\xc3\xa9";
  full.waitTimeout = 2147483647;
  full.minStartTime = -2147483647 - 1;
  full.pattern = "^ok$";
  full.patternFlags = 2;
  full.errorCode = 13;
  full.strerror = "Timed out";
  struct Case {
    const char* name;
    TaskData* record;
    const char* want;
  } cases[] = {
      {"new", &fresh,
       "{ \"taskId\" : null, \"taskName\" : null, \"command\" : null, \"env\" : null, \"user\" : null, "
       "\"logfile\" : null, \"waitForProcess\" : false, \"disableLogFile\" : false, \"pid\" : 0, "
       "\"timeStarted\" : 0 /* 01/01/70 00:00:00 */, \"timeExited\" : 0 /* 01/01/70 00:00:00 */, "
       "\"exitCondition\" : 0, \"exitStatus\" : 0, \"exitSignal\" : 0, \"cannotStartWhy\" : null, "
       "\"canceled\" : false, \"daysToKeep\" : 30, \"workflowName\" : null, \"tailPath\" : null, "
       "\"waitTimeout\" : 0, \"minStartTime\" : 0, \"pattern\" : null, \"patternFlags\" : 0, "
       "\"errorCode\" : 0, \"strerror\" : null }"},
      {"full", &full,
       "{ \"taskId\" : \"id-1\", \"taskName\" : \"backup\", \"command\" : \"say \\\"hi\\\"\\n\", "
       "\"env\" : \"A=1\\tB=C:\\\\tmp\", \"user\" : \"root\", \"logfile\" : \"/var/log/t\", "
       "\"waitForProcess\" : true, \"disableLogFile\" : false, \"pid\" : -1, "
       "\"timeStarted\" : 1700000000 /* 11/14/23 22:13:20 */, \"timeExited\" : 4102444800 /* 01/01/00 00:00:00 */, "
       "\"exitCondition\" : 23, \"exitStatus\" : 255, \"exitSignal\" : 9, \"cannotStartWhy\" : \"\", "
       "\"canceled\" : true, \"daysToKeep\" : 0, \"workflowName\" : \"caf\xc3\xa9\", \"tailPath\" : null, "
       "\"waitTimeout\" : 2147483647, \"minStartTime\" : -2147483648, \"pattern\" : \"^ok$\", "
       "\"patternFlags\" : 2, \"errorCode\" : 13, \"strerror\" : \"Timed out\" }"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(text(*c.record), c.want);
  }
}

// Floating figures print as the data model prints them ("0.0", "1.5").
TEST(UptimeDataTest, ToStringKeepsEveryDigit) {
  struct Case {
    int32_t v1;
    float v2, v3, v4;
    const char* want;
  } cases[] = {
      {0, 0, 0, 0, "{ \"value1\" : 0, \"value2\" : 0.0, \"value3\" : 0.0, \"value4\" : 0.0 }"},
      {123456, 0.25f, 1.5f, -3.75f, "{ \"value1\" : 123456, \"value2\" : 0.25, \"value3\" : 1.5, \"value4\" : -3.75 }"},
      {-7, 1234567.5f, 16777216.0f, 0.5f,
       "{ \"value1\" : -7, \"value2\" : 1234567.5, \"value3\" : 16777216.0, \"value4\" : 0.5 }"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    UptimeData u;
    u.value1 = c.v1;
    u.value2 = c.v2;
    u.value3 = c.v3;
    u.value4 = c.v4;
    EXPECT_EQ(text(u), c.want);
  }
}

TEST(UptimeDataTest, AllFourValuesRoundTrip) {
  registerUtilXlators();
  UptimeData u;
  u.value1 = 123456;
  u.value2 = 0.25f;
  u.value3 = 1.5f;
  u.value4 = -3.75f;
  auto back = roundTrip(UptimeData::kObjectId, &u);
  ASSERT_TRUE(back);
  EXPECT_TRUE(*back == u);
}

}  // namespace
