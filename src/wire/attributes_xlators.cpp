// Translators of Attributes: the set (1001) holds one field, the container
// (1003) of its entries; each entry (1002) is its name, display hint and
// value. Decoding keeps the list order.
#include <cstdlib>
#include <memory>

#include "model/any.h"
#include "model/attributes.h"
#include "wire/fast_decode.h"
#include "wire/message_base.h"
#include "wire/model_xlators.h"

namespace {

// The fields of the entry object whose frame is open. A missing name is
// malformed: every entry is found by its name.
int readEntry(MessageBase* m, char** name, int* hint, Any** value) {
  char* n = nullptr;
  int h = 0;
  Translatable* v = nullptr;
  if (m->readStringField(1, n) != 0) return -1;
  if (n == nullptr) {
    m->setError(MSG_ERR_BAD_TYPE);
    return -1;
  }
  if (m->readInt32Field(2, h) != 0 || m->readObjectField(3, OBJ_ANY_ID, &v) != 0) {
    MessageBase::freeString(n);
    return -1;
  }
  *name = n;
  *hint = h;
  *value = static_cast<Any*>(v);
  return 0;
}

}  // namespace

int AttributesXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeContainerField(1, 1003, *object);
  auto set = std::make_unique<Attributes>();
  if (m->readContainerFieldInto(1, 1003, set.get()) != 0) return -1;
  *object = set.release();
  return 0;
}

int AttributesAXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* e = static_cast<const Attributes::AttrList*>(*object);
    m->writeStringField(1, e->getName());
    m->writeInt32Field(2, e->getDisplayHint());
    writeAnyField(m, 3, e->getValue());
    return m->getError() != 0 ? -1 : 0;
  }
  char* name;
  int hint;
  Any* value;
  if (readEntry(m, &name, &hint, &value) != 0) return -1;
  auto* entry = new Attributes::AttrList(name, value, hint, true);
  MessageBase::freeString(name);
  *object = static_cast<Translatable*>(entry);
  return 0;
}

// The container's object is the Attributes itself.
int AttributesALXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* set = static_cast<const Attributes*>(*object);
    for (const Attributes::AttrList* e = set->first(); e != nullptr; e = e->getNext()) {
      if (m->writeObject(OBJ_ATTRLIST_ID, static_cast<const Translatable*>(e)) != 0) return -1;
    }
    return 0;
  }
  std::unique_ptr<Attributes> made;
  auto* set = static_cast<Attributes*>(*object);
  if (set == nullptr) {
    made = std::make_unique<Attributes>();
    set = made.get();
  }
  while (m->hasNext()) {
    char* name;
    int hint;
    Any* value;
    // Entries are read in place rather than built as stand-alone list nodes
    // and moved: a set of thousands of entries is common. The layout our
    // encoder writes is read in one pass.
    _BufferLocation* at = m->getLocation();
    size_t n;
    const unsigned char* p = m->peekContiguous(at, &n);
    wirefast::Name fast;
    size_t used =
        p != nullptr ? wirefast::readNamedValue(p, n, m->frameDepth(), OBJ_ATTRLIST_ID, &fast, &hint, &value) : 0;
    if (used != 0) {
      m->skipContiguous(at, used);
      set->appendAttribute(fast.get(), value, hint);
      continue;
    }
    int type;
    int rc = m->indexObjectForRead(m->getLocation(), &type);
    if (rc == MSG_ERR_NULL_OBJECT) continue;
    if (rc != 0) return -1;
    if (type != OBJ_ATTRLIST_ID) {
      m->setError(MSG_ERR_BAD_TYPE);
      (void)m->freeIndexObject();
      return -1;
    }
    rc = readEntry(m, &name, &hint, &value);
    if (m->freeIndexObject() != 0 || rc != 0) {
      if (rc == 0) {
        MessageBase::freeString(name);
        delete value;
      }
      return -1;
    }
    set->appendAttribute(name, value, hint);
    MessageBase::freeString(name);
  }
  if (made) *object = made.release();
  return 0;
}
