#include "util/util_xlators.h"

#include "util/security_object.h"
#include "util/stats_file.h"
#include "util/task_data.h"
#include "wire/message_base.h"

void registerUtilXlators() {
  // A repeated registration puts the same function in front again: harmless.
  MessageBase::registerObjectXlator(SecurityObject::kObjectId, SecurityObjectXlator, "SecurityObjectXlator");
  MessageBase::registerObjectXlator(TaskData::kObjectId, TaskDataXlator, "TaskDataXlator");
  MessageBase::registerObjectXlator(UptimeData::kObjectId, UptimeDataXlator, "UptimeDataXlator");
  MessageBase::registerObjectXlator(StatsFile::kObjectId, StatsFileXlator, "StatsFileXlator");
}
