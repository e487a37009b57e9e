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

TEST(TaskDataTest, ToStringOfANewRecord) {
  TaskData t;
  char* text = t.toString(nullptr);
  std::string s(text);
  free(text);
  EXPECT_EQ(s.rfind("{ \"taskId\" : null, \"taskName\" : null, \"command\" : null, \"env\" : null, \"user\" : null, "
                    "\"logfile\" : null, \"waitForProcess\" : false, \"disableLogFile\" : false, \"pid\" : 0, "
                    "\"timeStarted\" : 0 /* ",
                    0),
            0u)
      << s;
  EXPECT_NE(s.find("\"daysToKeep\" : 30, "), std::string::npos);
  EXPECT_NE(s.find("\"strerror\" : null }"), std::string::npos);
  // Texts are escaped: a quote in a command cannot end the string early.
  t.command = "say \"hi\"\n";
  text = t.toString(nullptr);
  s = text;
  free(text);
  EXPECT_NE(s.find("\"command\" : \"say \\\"hi\\\"\\n\""), std::string::npos) << s;
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
