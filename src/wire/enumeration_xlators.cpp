// Translators of the directory listings: DirectoryEnumeration (1010) with its
// entry list (1012) and entries (1011), ClassEnumeration (1020) with its list
// (1022) and entries (1021). An entry is no object of its own in memory: the
// entry translators take an enumeration and write its first entry, and read
// one into a new one-entry enumeration. The lists write and read their
// entries directly.
#include <memory>

#include "model/acl.h"
#include "model/attributes.h"
#include "model/dir_name_entry.h"
#include "model/enumerations.h"
#include "wire/fast_decode.h"
#include "wire/message_base.h"
#include "wire/model_xlators.h"

namespace {

constexpr int kDirEntry = 1011;
constexpr int kDirList = 1012;
constexpr int kClassEntry = 1021;
constexpr int kClassList = 1022;

void writeDirEntry(MessageBase* m, const DirectoryEnumeration::EnumEntry* e) {
  m->writeObjectHeader(kDirEntry);
  m->writeObjectField(1, OBJ_DIRNAMEENTRY_ID, e->name);
  m->writeObjectField(2, OBJ_ATTRIBUTES_ID, e->attributes);
  m->writeObjectField(3, OBJ_ACL_ID, e->acl);
  m->writeObjectTrailer();
}

// The fields of a directory entry whose frame is open, appended to `list`.
int readDirEntry(MessageBase* m, DirectoryEnumeration* list) {
  Translatable* name = nullptr;
  Translatable* attributes = nullptr;
  Translatable* acl = nullptr;
  if (m->readObjectField(1, OBJ_DIRNAMEENTRY_ID, &name) != 0 ||
      m->readObjectField(2, OBJ_ATTRIBUTES_ID, &attributes) != 0 || m->readObjectField(3, OBJ_ACL_ID, &acl) != 0) {
    delete name;
    delete attributes;
    return -1;
  }
  list->append(static_cast<DirNameEntry*>(name), static_cast<Attributes*>(attributes), static_cast<Acl*>(acl));
  return 0;
}

template <class T>
T* fillOrMake(Translatable** object, std::unique_ptr<T>& made) {
  if (*object != nullptr) return static_cast<T*>(*object);
  made = std::make_unique<T>();
  return made.get();
}

}  // namespace

int DirectoryEnumerationEEXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* list = static_cast<const DirectoryEnumeration*>(*object);
    const DirectoryEnumeration::EnumEntry* e = list->first();
    if (e == nullptr) return 0;
    m->writeObjectField(1, OBJ_DIRNAMEENTRY_ID, e->name);
    m->writeObjectField(2, OBJ_ATTRIBUTES_ID, e->attributes);
    m->writeObjectField(3, OBJ_ACL_ID, e->acl);
    return m->getError() != 0 ? -1 : 0;
  }
  auto list = std::make_unique<DirectoryEnumeration>();
  if (readDirEntry(m, list.get()) != 0) return -1;
  *object = list.release();
  return 0;
}

int DirectoryEnumerationEELXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* list = static_cast<const DirectoryEnumeration*>(*object);
    for (const DirectoryEnumeration::EnumEntry* e = list->first(); e != nullptr; e = e->next) writeDirEntry(m, e);
    return m->getError() != 0 ? -1 : 0;
  }
  std::unique_ptr<DirectoryEnumeration> made;
  DirectoryEnumeration* list = fillOrMake(object, made);
  while (m->hasNext()) {
    // The layout our encoder writes is read in one pass.
    _BufferLocation* at = m->getLocation();
    size_t n;
    const unsigned char* p = m->peekContiguous(at, &n);
    DirNameEntry* name;
    Attributes* attributes;
    Acl* acl;
    size_t used = p != nullptr ? wirefast::readDirectoryEntry(p, n, m->frameDepth(), &name, &attributes, &acl) : 0;
    if (used != 0) {
      m->skipContiguous(at, used);
      list->append(name, attributes, acl);
      continue;
    }
    int rc = m->openContainerItem(kDirEntry);
    if (rc == 1) continue;
    if (rc != 0) return -1;
    rc = readDirEntry(m, list);
    if (m->freeIndexObject() != 0 || rc != 0) return -1;
  }
  if (made) *object = made.release();
  return 0;
}

int DirectoryEnumerationXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeContainerField(1, kDirList, *object);
  auto list = std::make_unique<DirectoryEnumeration>();
  if (m->readContainerFieldInto(1, kDirList, list.get()) != 0) return -1;
  *object = list.release();
  return 0;
}

int ClassEnumerationEEXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* list = static_cast<const ClassEnumeration*>(*object);
    return list->first() != nullptr ? m->writeStringField(1, list->first()->name) : 0;
  }
  char* name = nullptr;
  if (m->readStringField(1, name) != 0) return -1;
  auto list = std::make_unique<ClassEnumeration>();
  list->append(name);
  MessageBase::freeString(name);
  *object = list.release();
  return 0;
}

int ClassEnumerationEELXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) {
    const auto* list = static_cast<const ClassEnumeration*>(*object);
    for (const ClassEnumeration::EnumEntry* e = list->first(); e != nullptr; e = e->next) {
      m->writeObjectHeader(kClassEntry);
      m->writeStringField(1, e->name);
      m->writeObjectTrailer();
    }
    return m->getError() != 0 ? -1 : 0;
  }
  std::unique_ptr<ClassEnumeration> made;
  ClassEnumeration* list = fillOrMake(object, made);
  while (m->hasNext()) {
    int rc = m->openContainerItem(kClassEntry);
    if (rc == 1) continue;
    if (rc != 0) return -1;
    char* name = nullptr;
    rc = m->readStringField(1, name);
    if (m->freeIndexObject() != 0 || rc != 0) {
      MessageBase::freeString(name);
      return -1;
    }
    list->append(name);
    MessageBase::freeString(name);
  }
  if (made) *object = made.release();
  return 0;
}

int ClassEnumerationXlator(MessageBase* m, Translatable** object, int direction) {
  if (direction == XLATE_ENCODE) return m->writeContainerField(1, kClassList, *object);
  auto list = std::make_unique<ClassEnumeration>();
  if (m->readContainerFieldInto(1, kClassList, list.get()) != 0) return -1;
  *object = list.release();
  return 0;
}
