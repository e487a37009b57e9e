// PrototypeRegistry: the process-wide registry of kel prototypes, keyed by
// the object id of the objects a prototype serves and by the name scripts
// use for it (`Date`, `Array`, ...). It is filled by the first root variable
// set (the built-in prototypes) and by embeddings (the Java bridge), and read
// by every execution. Registration takes a lock of its own; lookups do not:
// an embedding that registers while executions run must serialise the two
// (the Java bridge runs all kel work under one process-wide lock).
#pragma once

#include <atomic>
#include <cstdint>

class Any;
class Translatable;

class PrototypeRegistry {
 public:
  // Adds an entry unless one with the same id and name exists. A name that
  // begins with "vesk.wf.var.api." is registered without that prefix. The
  // entry pins the prototype (its count is raised by one) until
  // unregisterAll.
  static void registerObject(int objectId, const char* name, Translatable* prototype, bool isAlias);
  // Registers `aliasName` with the id of the entry named `existingName`, the
  // given prototype and the alias flag; nothing when there is no such entry.
  static void registerAlias(const char* existingName, const char* aliasName, Translatable* prototype);
  // Gives the entry of that name its member list (copied): a zero-terminated
  // array of member-name indexes (member_names.h) of the member functions
  // that may be read as values.
  static void registerMembers(const char* name, const int* memberIndexes);

  // The prototype of the newest non-alias entry with that id, or null.
  [[nodiscard]] static Translatable* findPrototype(int objectId);
  [[nodiscard]] static Translatable* findPrototype(const Translatable* object);
  // The name of the newest entry (alias or not) with that id, or null.
  [[nodiscard]] static const char* findObjectName(int objectId);
  // The prototype of the newest entry of that name (not counted), or null.
  [[nodiscard]] static Translatable* findPrototypeObjectByName(const char* name);
  // The same as a new Any holding a reference to it, or null.
  [[nodiscard]] static Any* findPrototypeByName(const char* name);
  // Whether some non-alias entry with the object's id lists `name`.
  [[nodiscard]] static bool isFunctionOf(const Translatable* object, const char* name);
  // Releases every entry.
  static void unregisterAll();
  // Changes whenever an entry is added or removed: lookups cached by a
  // syntax-tree node stay valid while it is unchanged.
  [[nodiscard]] static uint64_t generation() { return generation_.load(std::memory_order_relaxed); }
  static void noteChange() { generation_.fetch_add(1, std::memory_order_relaxed); }

 private:
  static std::atomic<uint64_t> generation_;
};
