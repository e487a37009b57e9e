#include "util/task_data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <tuple>

#include "model/any.h"
#include "wire/message_base.h"

namespace {

// The members of a JSON object in the layout of the kel JSON builder
// ("{ " members joined by ", " " }", `"key" : value`, times followed by a
// comment with the local date). Unlike the builder, texts are escaped, so a
// quote or line break in a command line cannot break the object.
// TODO(kel): switch to buildJSON once the built-ins provide it (with escaping).
class JsonMembers {
 public:
  JsonMembers() { out_ = "{ "; }
  void text(const char* key, const TaskData::Text& value) {
    start(key);
    if (!value) {
      out_ += "null";
      return;
    }
    char* quoted = escapeJSONText(value->c_str());
    out_ += quoted != nullptr ? quoted : "null";
    free(quoted);
  }
  void boolean(const char* key, bool value) {
    start(key);
    out_ += value ? "true" : "false";
  }
  void integer(const char* key, long long value) {
    start(key);
    out_ += std::to_string(value);
  }
  void time(const char* key, long long seconds) {
    start(key);
    char date[128] = "";
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
  // The locale's own date and time, as every listing of the system shows them.
  const char* kFormat = "%x %X";
    if (localtime_r(&t, &tm) != nullptr) strftime(date, sizeof date, kFormat, &tm);
    out_ += std::to_string(seconds) + " /* " + date + " */";
  }
  char* finish() {
    out_ += " }";
    return strdup(out_.c_str());
  }

 private:
  void start(const char* key) {
    if (!first_) out_ += ", ";
    first_ = false;
    out_ += '"';
    out_ += key;
    out_ += "\" : ";
  }
  std::string out_;
  bool first_ = true;
};

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

}  // namespace

char* TaskData::toString(Parser*) {
  JsonMembers j;
  j.text("taskId", taskId);
  j.text("taskName", taskName);
  j.text("command", command);
  j.text("env", env);
  j.text("user", user);
  j.text("logfile", logfile);
  j.boolean("waitForProcess", waitForProcess);
  j.boolean("disableLogFile", disableLogFile);
  j.integer("pid", pid);
  j.time("timeStarted", timeStarted);
  j.time("timeExited", timeExited);
  j.integer("exitCondition", exitCondition);
  j.integer("exitStatus", exitStatus);
  j.integer("exitSignal", exitSignal);
  j.text("cannotStartWhy", cannotStartWhy);
  j.boolean("canceled", canceled);
  j.integer("daysToKeep", daysToKeep);
  j.text("workflowName", workflowName);
  j.text("tailPath", tailPath);
  j.integer("waitTimeout", waitTimeout);
  j.integer("minStartTime", minStartTime);
  j.text("pattern", pattern);
  j.integer("patternFlags", patternFlags);
  j.integer("errorCode", errorCode);
  j.text("strerror", strerror);
  return j.finish();
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
  char buf[160];
  snprintf(buf, sizeof buf, "{ \"value1\" : %d, \"value2\" : %g, \"value3\" : %g, \"value4\" : %g }", value1,
           static_cast<double>(value2), static_cast<double>(value3), static_cast<double>(value4));
  return strdup(buf);
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
