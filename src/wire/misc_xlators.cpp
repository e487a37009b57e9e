// Translators of Acl (1014), the expect lists (2390 to 2393), JavaObject
// (2431) and EmbDeviceChallenge (50501).
#include <memory>

#include "model/acl.h"
#include "model/expect_list.h"
#include "model/java_object.h"
#include "wire/message_base.h"
#include "wire/model_xlators.h"

namespace {
constexpr int kExpectListL = 2392;
constexpr int kExpectNode = 2393;
}  // namespace

int AclXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeStringField(1, static_cast<const Acl*>(*object)->getText());
  char* text = nullptr;
  if (m->readStringField(1, text) != 0) return -1;
  *object = new Acl(text);
  MessageBase::freeString(text);
  return 0;
}

int ExpectEntryXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* e = static_cast<const ExpectEntry*>(*object);
    m->writeStringField(1, e->getExpect());
    m->writeStringField(2, e->getSend());
    m->writeBoolField(3, e->isRegex());
    m->writeStringField(4, e->getActual());
    return m->getError() != 0 ? -1 : 0;
  }
  char* texts[3] = {nullptr, nullptr, nullptr};
  bool regex = false;
  int rc = 0;
  if (m->readStringField(1, texts[0]) != 0 || m->readStringField(2, texts[1]) != 0 ||
      m->readBoolField(3, regex) != 0 || m->readStringField(4, texts[2]) != 0) {
    rc = -1;
  } else {
    *object = new ExpectEntry(texts[0], texts[1], regex, texts[2]);
  }
  for (char* t : texts) MessageBase::freeString(t);
  return rc;
}

// A node of the list carries one entry; in memory the node is the entry.
int ExpectEntryListXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeObjectField(1, OBJ_EXPECTENTRY_ID, *object);
  Translatable* entry = nullptr;
  if (m->readObjectField(1, OBJ_EXPECTENTRY_ID, &entry) != 0) return -1;
  *object = entry;
  return 0;
}

int ExpectListLXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* list = static_cast<const ExpectList*>(*object);
    for (int i = 0, n = list->size(); i < n; ++i) {
      if (m->writeObject(kExpectNode, list->get(i)) != 0) return -1;
    }
    return 0;
  }
  std::unique_ptr<ExpectList> made;
  auto* list = static_cast<ExpectList*>(*object);
  if (list == nullptr) {
    made = std::make_unique<ExpectList>();
    list = made.get();
  }
  while (m->hasNext()) {
    Translatable* entry = nullptr;
    if (m->readObject(kExpectNode, &entry) != 0) return -1;
    if (entry != nullptr) list->append(static_cast<ExpectEntry*>(entry));
  }
  if (made) *object = made.release();
  return 0;
}

int ExpectListXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeContainerField(1, kExpectListL, *object);
  auto list = std::make_unique<ExpectList>();
  if (m->readContainerFieldInto(1, kExpectListL, list.get()) != 0) return -1;
  *object = list.release();
  return 0;
}

int JavaObjectXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* j = static_cast<const JavaObject*>(*object);
    return m->writeBytesField(1, j->getLength(), j->getBytes());
  }
  size_t n = 0;
  char* bytes = nullptr;
  if (m->readBytesField(1, n, bytes) != 0) return -1;
  *object = new JavaObject(bytes, n);
  MessageBase::freeBytes(bytes);
  return 0;
}

int EmbDeviceChallengeXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* c = static_cast<const EmbDeviceChallenge*>(*object);
    for (int i = 1; i <= 5; ++i) m->writeStringField(i, c->get(i));
    return m->getError() != 0 ? -1 : 0;
  }
  char* s[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  int rc = 0;
  for (int i = 0; i < 5 && rc == 0; ++i) rc = m->readStringField(i + 1, s[i]);
  if (rc == 0) *object = new EmbDeviceChallenge(s[0], s[1], s[2], s[3], s[4]);
  for (char* t : s) MessageBase::freeString(t);
  return rc;
}
