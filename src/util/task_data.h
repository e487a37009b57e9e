// TaskData: one run of an external task the agent started (what, for whom,
// where its output goes, how it ended). UptimeData: a machine's uptime
// figures as the host reports them. Both are records carried on the wire
// (object ids 2000 and 2003). Not thread-safe: one thread per record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "model/translatable.h"

class MessageBase;

class TaskData : public Translatable {
 public:
  static constexpr int kObjectId = 2000;
  static constexpr int kDefaultDaysToKeep = 30;

  enum ExitCondition : int {
    EXIT_COND_INITIAL = 0,
    EXIT_COND_RUNNING = 1,
    EXIT_COND_EXITED = 2,
    EXIT_COND_TERM_WITH_SIGNAL = 3,
    EXIT_COND_COREDUMP = 4,
    EXIT_COND_LOGFILE = 5,
    EXIT_COND_USER = 6,
    EXIT_COND_LOGIN = 7,
    EXIT_COND_FORKFAILED = 8,
    EXIT_COND_CANNOTSTART = 9,
    EXIT_COND_NOINTERACTIVEUSER = 11,
    EXIT_COND_WAITING_AUTH = 12,
    EXIT_COND_WIN32 = 13,
    EXIT_COND_ALREADY_RUNNING = 14,
    EXIT_COND_AVAILABLE = 15,
    EXIT_COND_NOTAVAILABLE = 16,
    EXIT_COND_TIMEOUT = 17,
    EXIT_COND_STATUS = 18,
    EXIT_COND_CONFIG = 19,
    EXIT_COND_CANNOTSTARTAFTERFORK = 20,
    EXIT_COND_START_FAILED = 21,
    EXIT_COND_APPMON_DEAD_PID_ACTIVE = 22,
    EXIT_COND_APPMON_DEAD_PID_DEAD = 23,
  };

  using Text = std::optional<std::string>;  // absent (null) or a text

  // The fields, under their wire numbers.
  Text taskId;          // 1
  Text taskName;        // 2
  Text command;         // 3
  Text env;             // 15
  Text user;            // 4
  Text wireOnly;        // 5: carried on the wire, never shown
  Text logfile;         // 6
  bool waitForProcess = false;  // 7
  bool disableLogFile = false;  // 8
  int32_t pid = 0;              // 9
  int64_t timeStarted = 0;      // 10
  int64_t timeExited = 0;       // 11
  int32_t exitCondition = EXIT_COND_INITIAL;  // 12
  int32_t exitStatus = 0;                     // 13
  int32_t exitSignal = 0;                     // 14
  Text cannotStartWhy;                        // 16
  bool canceled = false;                      // 17
  int32_t daysToKeep = kDefaultDaysToKeep;    // 18
  Text workflowName;                          // 19
  Text tailPath;                              // 20
  int32_t waitTimeout = 0;                    // 21
  int32_t minStartTime = 0;                   // 22
  Text pattern;                               // 23
  int32_t patternFlags = 0;                   // 24
  int32_t errorCode = 0;                      // 25
  Text strerror;                              // 26

  TaskData() = default;
  TaskData(const TaskData&) = default;
  TaskData& operator=(const TaskData&) = default;
  ~TaskData() override = default;
  // Every field equal.
  bool operator==(const TaskData& o) const;

  // The JSON text of every field but wire field 5, in the order taskId,
  // taskName, command, env, user, logfile, waitForProcess, disableLogFile,
  // pid, timeStarted, timeExited, exitCondition, exitStatus, exitSignal,
  // cannotStartWhy, canceled, daysToKeep, workflowName, tailPath,
  // waitTimeout, minStartTime, pattern, patternFlags, errorCode, strerror.
  // A new text (free).
  char* toString(Parser* parser) override;
  int getObjectID() const override { return kObjectId; }
  int clone(const Principal* principal, Translatable** out) const override;
};

class UptimeData : public Translatable {
 public:
  static constexpr int kObjectId = 2003;

  int32_t value1 = 0;  // field 1
  float value2 = 0;    // field 2
  float value3 = 0;    // field 3
  float value4 = 0;    // field 4

  bool operator==(const UptimeData& o) const {
    return value1 == o.value1 && value2 == o.value2 && value3 == o.value3 && value4 == o.value4;
  }
  char* toString(Parser* parser) override;
  int getObjectID() const override { return kObjectId; }
};

// Fields 1 to 16 must be present when reading; 17 to 26 take their defaults
// when absent.
int TaskDataXlator(MessageBase* m, Translatable** object, int direction);
int UptimeDataXlator(MessageBase* m, Translatable** object, int direction);
