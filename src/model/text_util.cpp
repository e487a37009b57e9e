#include "model/text_util.h"

#include <cstdlib>
#include <cstring>

namespace modeltext {

long long hashText(const char* text) {
  if (!text) return 0;
  unsigned long long h = 5381;
  for (const char* p = text; *p; p++) h = h * 33 + (unsigned long long)(long long)(signed char)*p;
  return (long long)h;
}

void trimNumeric(char* number) {
  char* point = strchr(number, '.');
  if (!point) return;
  char* end = point + strlen(point);
  char* keep = point + 1;  // the first digit after the point always stays
  if (*keep == '\0') return;
  while (end - 1 > keep && end[-1] == '0') end--;
  *end = '\0';
}

char* dupBytes(const char* text, size_t n) {
  char* copy = static_cast<char*>(malloc(n + 1));
  if (!copy) abort();
  memcpy(copy, text, n);
  copy[n] = '\0';
  return copy;
}

char* dup(const char* text) { return text ? dupBytes(text, strlen(text)) : nullptr; }

}  // namespace modeltext
