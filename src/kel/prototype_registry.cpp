#include "kel/prototype_registry.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "kel/abstract_var_set.h"
#include "kel/member_names.h"
#include "kel/parser.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

struct Entry {
  int objectId;
  std::string name;
  Translatable* prototype;
  ObjRef value;  // pins the prototype while registered
  bool isAlias;
  std::vector<int> members;
};

struct Registry {
  std::mutex lock;  // registrations only
  // Oldest first; lookups walk from the back, so the newest entry wins.
  std::vector<Entry*> entries;
  std::unordered_map<std::string, Entry*> byName;       // newest entry of each name
  std::unordered_map<int, Entry*> prototypeById;        // newest non-alias entry of each id
};

Registry& registry() {
  // Never destroyed: prototypes may be looked up while the process exits.
  static Registry* r = new Registry;
  return *r;
}

// A registry change also changes what names lead to (a prototype's name
// wins over variables): caches keyed by the scopes' shape epoch drop too.
void registryChanged() {
  PrototypeRegistry::noteChange();
  AbstractVarSet::noteShapeChange();
}

const char* stripPrefix(const char* name) {
  static const char kPrefix[] = "vesk.wf.var.api.";
  return std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0 ? name + sizeof kPrefix - 1 : name;
}

void addLocked(Registry& r, int objectId, const char* name, Translatable* prototype, bool isAlias) {
  for (Entry* e : r.entries) {
    if (e->objectId == objectId && e->name == name) return;
  }
  auto* entry = new Entry{objectId, name, prototype, ObjRef(), isAlias, {}};
  entry->value.set(prototype);  // the registry's own count
  r.entries.push_back(entry);
  r.byName[entry->name] = entry;
  if (!isAlias) r.prototypeById[objectId] = entry;
  registryChanged();
}

}  // namespace

void PrototypeRegistry::registerObject(int objectId, const char* name, Translatable* prototype, bool isAlias) {
  if (name == nullptr || prototype == nullptr) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  addLocked(r, objectId, stripPrefix(name), prototype, isAlias);
}

void PrototypeRegistry::registerAlias(const char* existingName, const char* aliasName, Translatable* prototype) {
  if (existingName == nullptr || aliasName == nullptr || prototype == nullptr) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.byName.find(existingName);
  if (it == r.byName.end()) return;
  addLocked(r, it->second->objectId, stripPrefix(aliasName), prototype, true);
}

void PrototypeRegistry::registerMembers(const char* name, const int* memberIndexes) {
  if (name == nullptr) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> guard(r.lock);
  auto it = r.byName.find(name);
  if (it == r.byName.end()) return;
  it->second->members.clear();
  for (const int* p = memberIndexes; p != nullptr && *p != 0; p++) it->second->members.push_back(*p);
  registryChanged();
}

Translatable* PrototypeRegistry::findPrototype(int objectId) {
  Registry& r = registry();
  auto it = r.prototypeById.find(objectId);
  return it == r.prototypeById.end() ? nullptr : it->second->prototype;
}

Translatable* PrototypeRegistry::findPrototype(const Translatable* object) {
  return object != nullptr ? findPrototype(object->getObjectID()) : nullptr;
}

const char* PrototypeRegistry::findObjectName(int objectId) {
  Registry& r = registry();
  for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
    if ((*it)->objectId == objectId) return (*it)->name.c_str();
  }
  return nullptr;
}

Translatable* PrototypeRegistry::findPrototypeObjectByName(const char* name) {
  if (name == nullptr) return nullptr;
  Registry& r = registry();
  if (r.byName.empty()) return nullptr;
  auto it = r.byName.find(name);
  return it == r.byName.end() ? nullptr : it->second->prototype;
}

Any* PrototypeRegistry::findPrototypeByName(const char* name) {
  Translatable* prototype = findPrototypeObjectByName(name);
  return prototype != nullptr ? new Any(new ObjRef(prototype)) : nullptr;
}

bool PrototypeRegistry::isFunctionOf(const Translatable* object, const char* name) {
  if (object == nullptr || name == nullptr) return false;
  int id = object->getObjectID();
  // Member lists hold indexes of the shared table: a name outside it is
  // no member of any.
  int wanted = kelMemberIndex(name);
  if (wanted < 0) return false;
  for (Entry* e : registry().entries) {
    if (e->isAlias || e->objectId != id) continue;
    for (int index : e->members) {
      if (index == wanted) return true;
    }
  }
  return false;
}

void PrototypeRegistry::unregisterAll() {
  Registry& r = registry();
  std::vector<Entry*> dead;
  {
    std::lock_guard<std::mutex> guard(r.lock);
    dead.swap(r.entries);
    r.byName.clear();
    r.prototypeById.clear();
    registryChanged();
  }
  for (Entry* e : dead) delete e;
}

std::atomic<uint64_t> PrototypeRegistry::generation_{1};

// ---- the parser's static registry interface

void Parser::registerObject(int objectId, const char* name, Translatable* prototype, bool isAlias) {
  PrototypeRegistry::registerObject(objectId, name, prototype, isAlias);
}
void Parser::registerAlias(const char* existingName, const char* aliasName, Translatable* prototype) {
  PrototypeRegistry::registerAlias(existingName, aliasName, prototype);
}
void Parser::registerMembers(const char* name, const int* memberIndexes) {
  PrototypeRegistry::registerMembers(name, memberIndexes);
}
Translatable* Parser::findPrototype(int objectId) { return PrototypeRegistry::findPrototype(objectId); }
Translatable* Parser::findPrototype(const Translatable* object) { return PrototypeRegistry::findPrototype(object); }
const char* Parser::findObjectName(int objectId) { return PrototypeRegistry::findObjectName(objectId); }
Any* Parser::findPrototypeByName(const char* name) { return PrototypeRegistry::findPrototypeByName(name); }
bool Parser::isFunctionOf(const Translatable* object, const char* name) {
  return PrototypeRegistry::isFunctionOf(object, name);
}
void Parser::unregisterAll() { PrototypeRegistry::unregisterAll(); }
