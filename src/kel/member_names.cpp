#include "kel/member_names.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

namespace {

// Fixed order: member lists registered by other modules refer to these
// indexes.
const char* const kNames[KM_COUNT] = {
    "toString", "isArray", "of", "concat", "charAt", "charCodeAt", "endsWith", "includes", "indexOf", "search",
    "replace", "toLowerCase", "toLocaleLowerCase", "toUpperCase", "toLocaleUpperCase", "fromCodePoint",
    "fromCharCode", "lastIndexOf", "length", "name", "columnNumber", "lineNumber", "fileName", "message", "stack",
    "parse", "stringify", "prototype", "getDate", "getDay", "getFullYear", "getHours", "getMilliseconds",
    "getMinutes", "getMonth", "getSeconds", "getTime", "getTimezoneOffset", "getYear", "now", "today", "tomorrow",
    "yesterday", "toJSON", "toDateString", "toGMTString", "toISOString", "toLocaleDateString", "toLocaleFormat",
    "toLocaleString", "toLocaleTimeString", "toTimeString", "toUTCString", "format", "setDate", "setTime", "abs",
    "acos", "asin", "atan", "atan2", "ceil", "cos", "exp", "floor", "log", "max", "min", "pow", "random", "round",
    "sin", "sqrt", "tan", "isset", "substring", "slice", "join", "split", "startsWith", "levelArray",
    "asCommaString", "toISOStringFileFormat", "toISOStringFileFormatLong", "toTimestamp",
};

}  // namespace

const char* kelMemberName(int index) { return index >= 0 && index < KM_COUNT ? kNames[index] : nullptr; }

int kelMemberIndex(const char* name) {
  if (name == nullptr) return -1;
  // Looked up on every member call of a built-in: a hash rather than a
  // walk of the 85 names.
  static const std::unordered_map<std::string_view, int>* const byName = [] {
    auto* map = new std::unordered_map<std::string_view, int>();  // never destroyed: used while the process exits
    for (int i = 0; i < KM_COUNT; i++) map->emplace(kNames[i], i);
    return map;
  }();
  auto it = byName->find(std::string_view(name));
  return it != byName->end() ? it->second : -1;
}
