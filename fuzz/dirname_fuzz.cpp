// Feeds arbitrary text to both name parsers. Every input must give either a
// name whose copy prints and hashes the same, or an error code from
// the documented set; never a crash, a leak or an out-of-bounds access.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "model/dir_name.h"
#include "model/dir_name_entry.h"

namespace {
bool knownError(int e) { return e == 1 || e == 3 || e == 4 || e == 5 || e == 8; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();  // the parsers read NUL-terminated texts
  int error = -1;
  std::unique_ptr<DirName> name(DirName::createFromString(text.c_str(), &error));
  if (!name) {
    if (!knownError(error)) abort();
  } else {
    if (error != 0) abort();
    // A copy prints and hashes the same. (Equality takes the first attribute
    // of a name only, so a component with a repeated attribute name is not
    // equal even to itself: that is not checked here.)
    DirName copy(*name);
    char* printed = name->toString(nullptr);
    char* copied = copy.toString(nullptr);
    if (strcmp(printed, copied) != 0 || copy.hashValue() != name->hashValue()) abort();
    free(printed);
    free(copied);
  }
  error = -1;
  std::unique_ptr<DirNameEntry> entry(DirNameEntry::createFromString(text.c_str(), &error));
  if (!entry) {
    if (!knownError(error)) abort();
  } else {
    char* printed = entry->toString(nullptr);
    free(printed);
    (void)entry->hashValue();
  }
  return 0;
}
