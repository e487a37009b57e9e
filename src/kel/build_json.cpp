#include "kel/build_json.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "kel/kel_escape.h"
#include "model/any.h"

namespace {

// A text value as the body of a string literal. Quotes, backslashes and
// control characters are escaped so that a value cannot break the object;
// other characters (UTF-8 included) are kept as they are.
void appendQuoted(std::string& out, const char* text) {
  out += '"';
  for (const char* p = text; *p != '\0'; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char one[2] = {static_cast<char>(c), '\0'};
      char* escaped = kel_escape(one);
      out += escaped;
      kel_escape_free(escaped);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

void appendOwned(std::string& out, char* text) {
  out += text != nullptr ? text : "null";
  std::free(text);
}

}  // namespace

char* buildJSON(const char* format, ...) {
  std::string out = "{ ";
  bool first = true;
  va_list ap;
  va_start(ap, format);
  for (const char* f = format != nullptr ? format : ""; *f != '\0'; ++f) {
    const char* key = va_arg(ap, const char*);
    const char letter = *f;
    if (std::strchr("sijbtaoxl", letter) == nullptr) continue;
    if (!first) out += ", ";
    first = false;
    out += '"';
    out += key != nullptr ? key : "";
    out += "\" : ";
    switch (letter) {
      case 's': {
        const char* text = va_arg(ap, const char*);
        if (text == nullptr) {
          out += "null";
        } else {
          appendQuoted(out, text);
        }
        break;
      }
      case 'i': out += std::to_string(va_arg(ap, int)); break;
      case 'j': out += std::to_string(va_arg(ap, long long)); break;
      case 'b': out += va_arg(ap, int) != 0 ? "true" : "false"; break;
      case 't': {
        long long seconds = va_arg(ap, long long);
        char date[128] = "";
        auto t = static_cast<time_t>(seconds);
        struct tm tm;
        // The locale's own date and time, as every listing of the system shows them.
        const char* dateFormat = "%x %X";
        if (localtime_r(&t, &tm) != nullptr) strftime(date, sizeof date, dateFormat, &tm);
        out += std::to_string(seconds) + " /* " + date + " */";
        break;
      }
      case 'a': {
        Any* value = va_arg(ap, Any*);
        appendOwned(out, value != nullptr ? value->toString(nullptr) : nullptr);
        break;
      }
      case 'o': {
        Translatable* object = va_arg(ap, Translatable*);
        appendOwned(out, object != nullptr ? object->toString(nullptr) : nullptr);
        break;
      }
      case 'x': {
        Translatable* object = va_arg(ap, Translatable*);
        char* text = object != nullptr ? object->toString(nullptr) : nullptr;
        if (text == nullptr) {
          out += "null";
        } else {
          char* escaped = kel_escape(text);
          out += '"';
          out += escaped;
          out += '"';
          kel_escape_free(escaped);
          std::free(text);
        }
        break;
      }
      case 'l': {
        void* cursor = va_arg(ap, void*);
        BuildJSONRender render = va_arg(ap, BuildJSONRender);
        out += "[ ";
        bool firstItem = true;
        while (cursor != nullptr && render != nullptr) {
          if (!firstItem) out += ", ";
          firstItem = false;
          appendOwned(out, render(&cursor));
        }
        out += "]";
        break;
      }
      default: break;
    }
  }
  va_end(ap);
  out += " }";
  return strdup(out.c_str());
}
