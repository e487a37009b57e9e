#include "kel/member_names.h"

#include <cstring>

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
  for (int i = 0; i < KM_COUNT; i++) {
    if (std::strcmp(kNames[i], name) == 0) return i;
  }
  return -1;
}
