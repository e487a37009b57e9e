#include "util/task_data.h"

#include <memory>
#include <tuple>

#include "kel/build_json.h"
#include "model/any.h"
#include "wire/message_base.h"

namespace {

int writeText(MessageBase* m, int field, const TaskData::Text& t) {
  return m->writeStringField(field, t ? t->c_str() : nullptr);
}

int readText(MessageBase* m, int field, TaskData::Text* out) {
  char* s = nullptr;
  if (m->readStringField(field, s) != 0) return -1;
  if (s != nullptr) {
    *out = std::string(s);
  } else {
    out->reset();
  }
  MessageBase::freeString(s);
  return 0;
}

// Optional fields: absent keeps the default; present but malformed fails.
template <class Read>
int optional(MessageBase* m, int field, Read&& read) {
  if (!m->hasField(field)) return m->getError() == 0 ? 0 : -1;
  return read();
}

const char* textOrNull(const TaskData::Text& t) { return t ? t->c_str() : nullptr; }

}  // namespace

char* TaskData::toString(Parser*) {
  return buildJSON("ssssssbbittiiisbissiisiis",                                                     //
                   "taskId", textOrNull(taskId), "taskName", textOrNull(taskName),                   //
                   "command", textOrNull(command), "env", textOrNull(env), "user", textOrNull(user),  //
                   "logfile", textOrNull(logfile), "waitForProcess", static_cast<int>(waitForProcess),
                   "disableLogFile", static_cast<int>(disableLogFile), "pid", static_cast<int>(pid),
                   "timeStarted", static_cast<long long>(timeStarted), "timeExited",
                   static_cast<long long>(timeExited), "exitCondition", static_cast<int>(exitCondition),
                   "exitStatus", static_cast<int>(exitStatus), "exitSignal", static_cast<int>(exitSignal),
                   "cannotStartWhy", textOrNull(cannotStartWhy), "canceled", static_cast<int>(canceled),
                   "daysToKeep", static_cast<int>(daysToKeep), "workflowName", textOrNull(workflowName),
                   "tailPath", textOrNull(tailPath), "waitTimeout", static_cast<int>(waitTimeout),
                   "minStartTime", static_cast<int>(minStartTime), "pattern", textOrNull(pattern),
                   "patternFlags", static_cast<int>(patternFlags), "errorCode", static_cast<int>(errorCode),
                   "strerror", textOrNull(strerror));
}

bool TaskData::operator==(const TaskData& o) const {
  auto fields = [](const TaskData& t) {
    return std::tie(t.taskId, t.taskName, t.command, t.env, t.user, t.wireOnly, t.logfile, t.waitForProcess,
                    t.disableLogFile, t.pid, t.timeStarted, t.timeExited, t.exitCondition, t.exitStatus, t.exitSignal,
                    t.cannotStartWhy, t.canceled, t.daysToKeep, t.workflowName, t.tailPath, t.waitTimeout,
                    t.minStartTime, t.pattern, t.patternFlags, t.errorCode, t.strerror);
  };
  return fields(*this) == fields(o);
}

int TaskData::clone(const Principal*, Translatable** out) const {
  *out = new TaskData(*this);
  return 0;
}

char* UptimeData::toString(Parser*) {
  // The figures as the data model prints floating values, so that no digits
  // are lost (six significant digits turned an uptime of 1234567.5 seconds
  // into 1.23457e+06).
  Any v2(value2), v3(value3), v4(value4);
  return buildJSON("iaaa", "value1", static_cast<int>(value1), "value2", &v2, "value3", &v3, "value4", &v4);
}

int TaskDataXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* t = static_cast<const TaskData*>(*object);
    writeText(m, 1, t->taskId);
    writeText(m, 2, t->taskName);
    writeText(m, 3, t->command);
    writeText(m, 4, t->user);
    writeText(m, 5, t->wireOnly);
    writeText(m, 6, t->logfile);
    m->writeBoolField(7, t->waitForProcess);
    m->writeBoolField(8, t->disableLogFile);
    m->writeInt32Field(9, t->pid);
    m->writeInt64Field(10, t->timeStarted);
    m->writeInt64Field(11, t->timeExited);
    m->writeInt32Field(12, t->exitCondition);
    m->writeInt32Field(13, t->exitStatus);
    m->writeInt32Field(14, t->exitSignal);
    writeText(m, 15, t->env);
    writeText(m, 16, t->cannotStartWhy);
    m->writeBoolField(17, t->canceled);
    m->writeInt32Field(18, t->daysToKeep);
    writeText(m, 19, t->workflowName);
    writeText(m, 20, t->tailPath);
    m->writeInt32Field(21, t->waitTimeout);
    m->writeInt32Field(22, t->minStartTime);
    writeText(m, 23, t->pattern);
    m->writeInt32Field(24, t->patternFlags);
    m->writeInt32Field(25, t->errorCode);
    writeText(m, 26, t->strerror);
    return m->getError() == 0 ? 0 : -1;
  }
  auto t = std::make_unique<TaskData>();
  long long started, exited;
  int pid, cond, status, sig;
  if (readText(m, 1, &t->taskId) != 0 || readText(m, 2, &t->taskName) != 0 || readText(m, 3, &t->command) != 0 ||
      readText(m, 4, &t->user) != 0 || readText(m, 5, &t->wireOnly) != 0 || readText(m, 6, &t->logfile) != 0 ||
      m->readBoolField(7, t->waitForProcess) != 0 || m->readBoolField(8, t->disableLogFile) != 0 ||
      m->readInt32Field(9, pid) != 0 || m->readInt64Field(10, started) != 0 || m->readInt64Field(11, exited) != 0 ||
      m->readInt32Field(12, cond) != 0 || m->readInt32Field(13, status) != 0 || m->readInt32Field(14, sig) != 0 ||
      readText(m, 15, &t->env) != 0 || readText(m, 16, &t->cannotStartWhy) != 0) {
    return -1;
  }
  t->pid = pid;
  t->timeStarted = started;
  t->timeExited = exited;
  t->exitCondition = cond;
  t->exitStatus = status;
  t->exitSignal = sig;
  auto i32 = [&](int field, int32_t* out) {
    return optional(m, field, [&] {
      int v;
      if (m->readInt32Field(field, v) != 0) return -1;
      *out = v;
      return 0;
    });
  };
  auto txt = [&](int field, TaskData::Text* out) { return optional(m, field, [&] { return readText(m, field, out); }); };
  if (optional(m, 17, [&] { return m->readBoolField(17, t->canceled); }) != 0 || i32(18, &t->daysToKeep) != 0 ||
      txt(19, &t->workflowName) != 0 || txt(20, &t->tailPath) != 0 || i32(21, &t->waitTimeout) != 0 ||
      i32(22, &t->minStartTime) != 0 || txt(23, &t->pattern) != 0 || i32(24, &t->patternFlags) != 0 ||
      i32(25, &t->errorCode) != 0 || txt(26, &t->strerror) != 0) {
    return -1;
  }
  *object = t.release();
  return 0;
}

int UptimeDataXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* u = static_cast<const UptimeData*>(*object);
    m->writeInt32Field(1, u->value1);
    m->writeFloatField(2, u->value2);
    m->writeFloatField(3, u->value3);
    m->writeFloatField(4, u->value4);
    return m->getError() == 0 ? 0 : -1;
  }
  auto u = std::make_unique<UptimeData>();
  int v1;
  if (m->readInt32Field(1, v1) != 0 || m->readFloatField(2, u->value2) != 0 || m->readFloatField(3, u->value3) != 0 ||
      m->readFloatField(4, u->value4) != 0) {
    return -1;
  }
  u->value1 = v1;
  *object = u.release();
  return 0;
}
