// Translators of DirName (1007) with its node list (1009) and nodes (1008),
// and of DirNameEntry (1004) with its attribute list (1006) and attributes
// (1005). Lists keep their order. The list translators fill the object given
// to them (a DirName or DirNameEntry being decoded) or, given none, make one.
#include <memory>

#include "model/any.h"
#include "model/dir_name.h"
#include "model/dir_name_entry.h"
#include "wire/fast_decode.h"
#include "wire/message_base.h"
#include "wire/model_xlators.h"

namespace {

constexpr int kEntryList = 1006;
constexpr int kNodeList = 1009;

// The fields of an attribute (1005) whose frame is open.
int readNameAttr(MessageBase* m, char** name, int* expression, Any** value) {
  char* n = nullptr;
  int x = 0;
  Translatable* v = nullptr;
  if (m->readStringField(1, n) != 0) return -1;
  if (m->readInt32Field(2, x) != 0 || m->readObjectField(3, OBJ_ANY_ID, &v) != 0) {
    MessageBase::freeString(n);
    return -1;
  }
  *name = n;
  *expression = x;
  *value = static_cast<Any*>(v);
  return 0;
}

}  // namespace

int DirNameEntryAXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* a = static_cast<const DirNameEntry::AttrList*>(*object);
    m->writeStringField(1, a->getName());
    m->writeInt32Field(2, a->isExpression() ? 1 : 0);
    writeAnyField(m, 3, a->getValue());
    return m->getError() != 0 ? -1 : 0;
  }
  char* name;
  int expression;
  Any* value;
  if (readNameAttr(m, &name, &expression, &value) != 0) return -1;
  *object = new DirNameEntry::AttrList(name, value, expression != 0);
  MessageBase::freeString(name);
  return 0;
}

int DirNameEntryAlXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* e = static_cast<const DirNameEntry*>(*object);
    for (const DirNameEntry::AttrList* a = e->firstAttribute(); a != nullptr; a = a->getNext()) {
      if (m->writeObject(OBJ_DIRNAMEENTRY_ATTR_ID, a) != 0) return -1;
    }
    return 0;
  }
  std::unique_ptr<DirNameEntry> made;
  auto* entry = static_cast<DirNameEntry*>(*object);
  if (entry == nullptr) {
    made = std::make_unique<DirNameEntry>();
    entry = made.get();
  }
  while (m->hasNext()) {
    char* name;
    int expression;
    Any* value;
    // The layout our encoder writes is read in one pass.
    _BufferLocation* at = m->getLocation();
    size_t n;
    const unsigned char* p = m->peekContiguous(at, &n);
    wirefast::Name fast;
    size_t used = p != nullptr ? wirefast::readNamedValue(p, n, m->frameDepth(), OBJ_DIRNAMEENTRY_ATTR_ID, &fast,
                                                          &expression, &value)
                               : 0;
    if (used != 0) {
      m->skipContiguous(at, used);
      entry->addAttribute(fast.get(), value, expression != 0);
      continue;
    }
    int rc = m->openContainerItem(OBJ_DIRNAMEENTRY_ATTR_ID);
    if (rc == 1) continue;
    if (rc != 0) return -1;
    rc = readNameAttr(m, &name, &expression, &value);
    if (m->freeIndexObject() != 0 || rc != 0) {
      if (rc == 0) {
        MessageBase::freeString(name);
        delete value;
      }
      return -1;
    }
    entry->addAttribute(name, value, expression != 0);
    MessageBase::freeString(name);
  }
  if (made) *object = made.release();
  return 0;
}

int DirNameEntryXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* e = static_cast<const DirNameEntry*>(*object);
    m->writeStringField(1, e->getName());
    m->writeInt32Field(2, e->isNameExpression() ? 1 : 0);
    m->writeContainerField(3, kEntryList, e);
    return m->getError() != 0 ? -1 : 0;
  }
  char* name = nullptr;
  int expression = 0;
  if (m->readStringField(1, name) != 0) return -1;
  auto entry = std::make_unique<DirNameEntry>(name);
  MessageBase::freeString(name);
  if (m->readInt32Field(2, expression) != 0) return -1;
  entry->setNameIsExpression(expression != 0);
  if (m->readContainerFieldInto(3, kEntryList, entry.get()) != 0) return -1;
  *object = entry.release();
  return 0;
}

int DirNameNXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* node = static_cast<const DirName::NameList*>(*object);
    return m->writeObjectField(1, OBJ_DIRNAMEENTRY_ID, node->getEntry());
  }
  Translatable* entry = nullptr;
  if (m->readObjectField(1, OBJ_DIRNAMEENTRY_ID, &entry) != 0) return -1;
  *object = new DirName::NameList(static_cast<DirNameEntry*>(entry));
  return 0;
}

int DirNameNLXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* name = static_cast<const DirName*>(*object);
    for (const DirName::NameList* n = name->first(); n != nullptr; n = n->getNext()) {
      if (m->writeObject(OBJ_DIRNAME_NODE_ID, n) != 0) return -1;
    }
    return 0;
  }
  std::unique_ptr<DirName> made;
  auto* name = static_cast<DirName*>(*object);
  if (name == nullptr) {
    made = std::make_unique<DirName>();
    name = made.get();
  }
  while (m->hasNext()) {
    int rc = m->openContainerItem(OBJ_DIRNAME_NODE_ID);
    if (rc == 1) continue;
    if (rc != 0) return -1;
    Translatable* entry = nullptr;
    rc = m->readObjectField(1, OBJ_DIRNAMEENTRY_ID, &entry);
    if (m->freeIndexObject() != 0 || rc != 0) {
      delete entry;
      return -1;
    }
    // A node without its entry names nothing.
    if (entry != nullptr) name->append(static_cast<DirNameEntry*>(entry));
  }
  if (made) *object = made.release();
  return 0;
}

int DirNameXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* name = static_cast<const DirName*>(*object);
    m->writeInt32Field(1, name->isAbsolute() ? 1 : 0);
    m->writeInt32Field(2, name->isDoubleSlash() ? 1 : 0);
    m->writeContainerField(3, kNodeList, name);
    return m->getError() != 0 ? -1 : 0;
  }
  int absolute = 0;
  int doubleSlash = 0;
  if (m->readInt32Field(1, absolute) != 0 || m->readInt32Field(2, doubleSlash) != 0) return -1;
  auto name = std::make_unique<DirName>();
  name->setAbsolute(absolute != 0);
  name->setDoubleSlash(doubleSlash != 0);
  if (m->readContainerFieldInto(3, kNodeList, name.get()) != 0) return -1;
  *object = name.release();
  return 0;
}
