#include "wire/registry.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Named {
  std::string name;
  void* object;
};

std::mutex namesLock;
// The most recent entry last: lookups walk from the back.
std::vector<Named>& names() {
  static auto* list = new std::vector<Named>();  // lives as long as the process
  return *list;
}

}  // namespace

void Registry::registerObject(const char* name, void* object) {
  if (name == nullptr) return;
  std::lock_guard<std::mutex> guard(namesLock);
  names().push_back({name, object});
}

void* Registry::getObject(const char* name) {
  if (name == nullptr) return nullptr;
  std::lock_guard<std::mutex> guard(namesLock);
  auto& list = names();
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (it->name == name) return it->object;
  }
  return nullptr;
}

void Registry::unregisterObject(void* object) {
  std::lock_guard<std::mutex> guard(namesLock);
  auto& list = names();
  list.erase(std::remove_if(list.begin(), list.end(), [object](const Named& n) { return n.object == object; }),
             list.end());
}
