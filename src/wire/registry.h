// Registry: a process-wide list of named pointers, for the few objects that
// one part of the system publishes for another to find by name. Unrelated to
// the translator registry. Thread-safe.
#pragma once

class Registry {
 public:
  // Adds (name, object) in front of the list; the name is copied.
  static void registerObject(const char* name, void* object);
  // The pointer of the most recent entry with that name (strcmp), or null.
  [[nodiscard]] static void* getObject(const char* name);
  // Removes every entry holding `object`.
  static void unregisterObject(void* object);
};
