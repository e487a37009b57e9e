#include "util/stat_entry.h"

#include <cstring>
#include <ctime>

#include "wire/message_base.h"

namespace {

// A count read from the data is believed only as far as the bytes left can
// hold that many items of at least `minItem` bytes.
bool plausibleCount(MessageBase* m, int count, uint64_t minItem) {
  if (count < 0) return false;
  return static_cast<uint64_t>(count) * minItem <= m->bytesAvailable(*m->getLocation());
}

}  // namespace

int StatData::encode(MessageBase* m) const {
  m->writeInt32(kind);
  if (kind == kDouble) return m->writeDouble(d);
  return m->writeInt64(l);
}

int StatData::decode(MessageBase* m, StatData* out) {
  int kind;
  if (m->readInt32(kind) != 0) return -1;
  StatData v;
  v.kind = kind;
  if (kind == kDouble) {
    if (m->readDouble(v.d) != 0) return -1;
  } else if (kind == kLong || kind == kLegacy) {
    long long l;
    if (m->readInt64(l) != 0) return -1;
    v.l = l;
  } else {
    m->setError(MSG_ERR_BAD_TYPE);
    return -1;
  }
  *out = v;
  return 0;
}

bool StatData::operator==(const StatData& o) const {
  if (kind != o.kind) return false;
  if (kind == kDouble) return memcmp(&d, &o.d, sizeof d) == 0;  // NaN equals itself here
  return l == o.l;
}

void StatData::dump(FILE* stream) const {
  if (kind == kDouble) {
    fprintf(stream, "(%d) %f, ", kind, d);
  } else {
    fprintf(stream, "(%d) %lld, ", kind, static_cast<long long>(l));
  }
}

StatRow::StatRow(int64_t c, int64_t i, const char* text, std::vector<StatData> values)
    : cls(c), id(i), data(std::move(values)) {
  setLabel(text);
}

void StatRow::setLabel(const char* text) {
  if (text == nullptr) {
    label.clear();
    return;
  }
  size_t n = strlen(text);
  label.assign(text, n > kLabelMax ? kLabelKeep : n);
}

int StatRow::encode(MessageBase* m) const {
  m->writeInt64(cls);
  m->writeInt64(id);
  m->writeString(label.c_str());
  m->writeInt32(static_cast<int>(data.size()));
  for (const StatData& v : data) v.encode(m);
  return m->getError() == 0 ? 0 : -1;
}

int StatRow::decode(MessageBase* m, StatRow* out) {
  long long cls, id;
  char* text = nullptr;
  int count;
  if (m->readInt64(cls) != 0 || m->readInt64(id) != 0 || m->readString(text) != 0) return -1;
  out->cls = cls;
  out->id = id;
  out->label.assign(text != nullptr ? text : "");
  MessageBase::freeString(text);
  if (m->readInt32(count) != 0) return -1;
  if (!plausibleCount(m, count, 14)) {
    m->setError(MSG_ERR_INCOMPLETE);
    return -1;
  }
  out->data.clear();
  out->data.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (StatData::decode(m, &out->data[i]) != 0) return -1;
  }
  return 0;
}

void StatRow::dump(FILE* stream) const {
  fprintf(stream, "        cls: %lld, id: %lld, label: %s, ", static_cast<long long>(cls),
          static_cast<long long>(id), label.c_str());
  for (const StatData& v : data) v.dump(stream);
  fputc('\n', stream);
}

bool StatEntry::hasClass(int64_t c) const {
  for (const StatRow& r : rows) {
    if (r.cls == c) return true;
  }
  return false;
}

int StatEntry::encode(MessageBase* m) const {
  m->writeInt64(time);
  m->writeInt32(static_cast<int>(rows.size()));
  for (const StatRow& r : rows) r.encode(m);
  return m->getError() == 0 ? 0 : -1;
}

int StatEntry::decode(MessageBase* m, StatEntry* out) {
  long long t;
  int count;
  if (m->readInt64(t) != 0 || m->readInt32(count) != 0) return -1;
  // A row is at least cls, id, a string and a count: 9 + 9 + 1 + 5 bytes.
  if (!plausibleCount(m, count, 24)) {
    m->setError(MSG_ERR_INCOMPLETE);
    return -1;
  }
  out->time = t;
  out->rows.clear();
  out->rows.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (StatRow::decode(m, &out->rows[i]) != 0) return -1;
  }
  return 0;
}

void StatEntry::dump(FILE* stream) const {
  fprintf(stream, "    %s:\n", statTimeText(time).c_str());
  for (const StatRow& r : rows) r.dump(stream);
}

std::string statTimeText(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  // The locale's own date and time, as every listing of the system shows them.
  const char* kFormat = "%x %X";
  char buf[128];
  if (localtime_r(&t, &tm) == nullptr || strftime(buf, sizeof(buf), kFormat, &tm) == 0) return "?";
  return buf;
}
