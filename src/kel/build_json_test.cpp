// kel_escape and buildJSON: the texts objects render themselves with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kel/build_json.h"
#include "kel/kel_escape.h"
#include "model/any.h"

namespace {

std::string take(char* text) {
  std::string out = text != nullptr ? text : "<null>";
  std::free(text);
  return out;
}

TEST(KelEscape, Table) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"plain text", "plain text"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"\t\n\r\b\f\v\a", "\\t\\n\\r\\b\\f\\v\\a"},
      {"\x01" "A", "\\x01A"},  // two digits: "\x1A" would read back as one character
      {"\x1f\x7f", "\\x1F\\x7F"},
      {"caf\xC3\xA9", "caf\\u00E9"},
      {"\xE2\x82\xAC", "\\u20AC"},
      {"\xF0\x9F\x98\x80", "\\U0001F600"},
      {"\xC3", "\\u00C3"},          // a cut sequence stands for its byte
      {"\xE2\x82", "\\u00E2\\u0082"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(take(kel_escape(c.in)), c.want);
  }
  EXPECT_EQ(kel_escape(nullptr), nullptr);
}

// A list of three texts walked by a cursor.
const char* const kItems[] = {"\"a\"", "2", "[ 3 ]", nullptr};
char* renderItem(void** cursor) {
  auto** at = static_cast<const char* const**>(static_cast<void*>(cursor));
  char* text = strdup(**at);
  ++*at;
  if (**at == nullptr) *cursor = nullptr;
  return text;
}

TEST(BuildJson, Letters) {
  EXPECT_EQ(take(buildJSON("si", "name", "x", "n", 3)), "{ \"name\" : \"x\", \"n\" : 3 }");
  EXPECT_EQ(take(buildJSON("")), "{  }");
  EXPECT_EQ(take(buildJSON("s", "k", static_cast<const char*>(nullptr))), "{ \"k\" : null }");
  EXPECT_EQ(take(buildJSON("s", "k", "say \"hi\"\n\\ é")), "{ \"k\" : \"say \\\"hi\\\"\\n\\\\ é\" }");
  EXPECT_EQ(take(buildJSON("jbb", "j", -5LL, "t", 7, "f", 0)), "{ \"j\" : -5, \"t\" : true, \"f\" : false }");
  // An unknown letter takes its key and adds nothing.
  EXPECT_EQ(take(buildJSON("iSi", "a", 1, "skipped", "b", 2)), "{ \"a\" : 1, \"b\" : 2 }");

  Any number(42LL);
  Any text("q\"");
  EXPECT_EQ(take(buildJSON("aaa", "n", &number, "t", &text, "z", static_cast<Any*>(nullptr))),
            "{ \"n\" : 42, \"t\" : \"q\\\"\", \"z\" : null }");
  EXPECT_EQ(take(buildJSON("ox", "o", static_cast<Translatable*>(&text), "x", static_cast<Translatable*>(&text))),
            "{ \"o\" : \"q\\\"\", \"x\" : \"\\\"q\\\\\\\"\\\"\" }");
  EXPECT_EQ(take(buildJSON("oxs", "o", static_cast<Translatable*>(nullptr), "x",
                           static_cast<Translatable*>(nullptr), "s", "")),
            "{ \"o\" : null, \"x\" : null, \"s\" : \"\" }");

  const char* const* cursor = kItems;
  EXPECT_EQ(take(buildJSON("l", "list", const_cast<void*>(static_cast<const void*>(cursor)), renderItem)),
            "{ \"list\" : [ \"a\", 2, [ 3 ]] }");
  EXPECT_EQ(take(buildJSON("l", "none", static_cast<void*>(nullptr), renderItem)), "{ \"none\" : [ ] }");

  std::string timed = take(buildJSON("t", "at", 0LL));
  EXPECT_EQ(timed.rfind("{ \"at\" : 0 /* ", 0), 0u) << timed;
  EXPECT_EQ(timed.substr(timed.size() - 5), " */ }");
}

}  // namespace
