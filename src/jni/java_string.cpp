#include "jni/java_string.h"

#include <new>

namespace {

bool isCont(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed sequence at s[i] that modified UTF-8 accepts
// unchanged, 4 for a well-formed four-byte sequence (which must be
// re-encoded), or 0 when the bytes are not well-formed.
std::size_t sequenceAt(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const std::size_t left = s.size() - i;
  if (c >= 0x01 && c <= 0x7F) return 1;
  if (c == 0xC0) return left >= 2 && static_cast<unsigned char>(s[i + 1]) == 0x80 ? 2 : 0;  // encoded NUL
  if (c >= 0xC2 && c <= 0xDF) return left >= 2 && isCont(s[i + 1]) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !isCont(s[i + 1]) || !isCont(s[i + 2])) return 0;
    if (c == 0xE0 && static_cast<unsigned char>(s[i + 1]) < 0xA0) return 0;  // overlong
    return 3;  // surrogates (ED A0..BF) are how modified UTF-8 carries pairs
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !isCont(s[i + 1]) || !isCont(s[i + 2]) || !isCont(s[i + 3])) return 0;
    const auto c1 = static_cast<unsigned char>(s[i + 1]);
    if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c == 0xF4 && c1 > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;  // NUL, stray continuation bytes, C1, F5..FF
}

void appendThreeByte(std::string* out, unsigned unit) {
  out->push_back(static_cast<char>(0xE0 | (unit >> 12)));
  out->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
  out->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
}

}  // namespace

bool isModifiedUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = sequenceAt(text, i);
    if (n == 0 || n == 4) return false;
    i += n;
  }
  return true;
}

std::string toModifiedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = sequenceAt(text, i);
    if (n == 0) {
      appendThreeByte(&out, 0xFFFD);
      ++i;
    } else if (n == 4) {
      const unsigned cp = ((static_cast<unsigned char>(text[i]) & 0x07u) << 18) |
                          ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12) |
                          ((static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6) |
                          (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
      const unsigned v = cp - 0x10000;
      appendThreeByte(&out, 0xD800 | (v >> 10));
      appendThreeByte(&out, 0xDC00 | (v & 0x3FF));
      i += 4;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

jstring newJavaString(JNIEnv* env, const char* text) {
  if (text == nullptr) return nullptr;
  const std::string_view view(text);
  if (isModifiedUtf8(view)) return env->NewStringUTF(text);
  try {
    const std::string converted = toModifiedUtf8(view);
    return env->NewStringUTF(converted.c_str());
  } catch (const std::bad_alloc&) {
    jclass oom = env->FindClass("java/lang/OutOfMemoryError");
    if (oom != nullptr) env->ThrowNew(oom, "converting a native text");
    return nullptr;
  }
}

jobjectArray newJavaStringArray(JNIEnv* env, const char* const* list) {
  jsize n = 0;
  if (list != nullptr) {
    while (list[n] != nullptr) ++n;
  }
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(n, stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (array == nullptr) return nullptr;
  for (jsize i = 0; i < n; ++i) {
    jstring s = newJavaString(env, list[i]);
    if (s == nullptr) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, i, s);
    env->DeleteLocalRef(s);
  }
  return array;
}

bool hasNoSurrogates(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xED && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0xA0) {
      return false;
    }
  }
  return true;
}

std::string fromModifiedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto unitAt = [&](std::size_t i) -> unsigned {
    if (i + 3 > text.size()) return 0;
    const auto c0 = static_cast<unsigned char>(text[i]);
    const auto c1 = static_cast<unsigned char>(text[i + 1]);
    const auto c2 = static_cast<unsigned char>(text[i + 2]);
    if (c0 != 0xED || (c1 & 0xE0) != 0xA0 || (c2 & 0xC0) != 0x80) return 0;
    return 0xD000u | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
  };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned u = unitAt(i);
    if (u == 0) {
      out.push_back(text[i]);
      ++i;
      continue;
    }
    if (u < 0xDC00) {
      const unsigned low = i + 3 < text.size() ? unitAt(i + 3) : 0;
      if (low >= 0xDC00) {
        const unsigned cp = 0x10000u + ((u - 0xD800u) << 10) + (low - 0xDC00u);
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        i += 6;
        continue;
      }
    }
    out.append("\xEF\xBF\xBD");  // a lone surrogate
    i += 3;
  }
  return out;
}

bool javaStringToUtf8(JNIEnv* env, jstring s, std::string* out) {
  if (s == nullptr) return false;
  const jsize n = env->GetStringUTFLength(s);
  auto convert = [out](std::string_view view) {
    if (hasNoSurrogates(view)) {
      out->assign(view);
    } else {
      *out = fromModifiedUtf8(view);
    }
  };
  // Short texts (names, most values) are copied into a buffer on the stack:
  // the VM's copy would cost a heap allocation and its release.
  constexpr jsize kShort = 256;
  if (n < kShort) {
    char buffer[kShort + 1];
    env->GetStringUTFRegion(s, 0, env->GetStringLength(s), buffer);
    if (env->ExceptionCheck()) return false;
    convert(std::string_view(buffer, static_cast<std::size_t>(n)));
    return true;
  }
  const char* chars = env->GetStringUTFChars(s, nullptr);
  if (chars == nullptr) return false;
  convert(std::string_view(chars, static_cast<std::size_t>(n)));
  env->ReleaseStringUTFChars(s, chars);
  return true;
}
