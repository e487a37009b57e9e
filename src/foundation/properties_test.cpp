#include "foundation/properties.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "model/any.h"
#include "model/attributes.h"
#include "testing/test_util.h"

namespace {

// Lines of the log written during a test, without their time prefix.
class LogCapture {
 public:
  LogCapture() : path_(tmp_.file("log")) { setLog(path_.c_str()); }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string text = orvtest::readFile(path_);
    size_t pos = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      if (nl == std::string::npos) nl = text.size();
      std::string line = text.substr(pos, nl - pos);
      const bool timed = line.size() >= 14 && line[2] == ':' && line[12] == ':';
      out.push_back(timed ? line.substr(14) : line);
      pos = nl + 1;
    }
    return out;
  }
  std::string text() const {
    std::string all;
    for (const auto& l : lines()) all += l + "\n";
    return all;
  }

 private:
  orvtest::TempDir tmp_;
  std::string path_;
};

struct Want {
  const char* key;
  std::optional<std::string> value;  // nullopt: the key must be absent
  int line = 0;
};

TEST(PropertiesTest, LoadParsesLines) {
  struct Case {
    const char* what;
    std::string text;
    bool equalsForm;
    std::vector<Want> want;
  };
  const Case cases[] = {
      {"blanks belong to the key, trailing blanks to the value", "  name : value \n", false,
       {{"  name ", "value ", 1}, {"name", std::nullopt}, {"name ", std::nullopt}}},
      {"the later duplicate wins", "a: 1\nb: x\na: 2\n", false, {{"a", "2", 3}, {"b", "x", 2}}},
      {"comments and blank lines are skipped but counted", "# c\n   \n\t# x: y\nk: v\n", false,
       {{"k", "v", 4}, {"# c", std::nullopt}, {"\t# x", std::nullopt}}},
      {"only the first colon separates", "url: http://h:80/p\n", false, {{"url", "http://h:80/p", 1}}},
      {"no newline at the end", "k: v", false, {{"k", "v", 1}}},
      {"empty value", "k:\n", false, {{"k", "", 1}}},
      {"tabs before the value are skipped", "k:\t  v\n", false, {{"k", "v", 1}}},
      {"carriage return stays in the value", "k: v\r\n", false, {{"k", "v\r", 1}}},
      {"equals form drops every backslash", "path=C\\:\\\\dir\n", true, {{"path", "C:dir", 1}}},
      {"equals form changes nothing else", "a = b \n", true, {{"a ", " b ", 1}}},
      {"equals form key may hold a colon", "a:b=c=d\n", true, {{"a:b", "c=d", 1}}},
      {"equals form ignores colon lines without equals", "x=1\n# c\ny=2\n", true, {{"x", "1", 1}, {"y", "2", 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orvtest::TempDir tmp;
    orvtest::writeFile(tmp.file("p"), c.text);
    Properties p;
    ASSERT_TRUE(p.load(tmp.file("p").c_str(), c.equalsForm));
    for (const Want& w : c.want) {
      SCOPED_TRACE(w.key);
      const char* got = p.getProperty(w.key);
      if (!w.value) {
        EXPECT_EQ(got, nullptr);
        continue;
      }
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got, *w.value);
      EXPECT_EQ(p.find(w.key)->line, w.line);
    }
  }
}

TEST(PropertiesTest, LoadRejectsBadLinesAndKeepsWhatCameBefore) {
  const std::string line4095 = "k: " + std::string(4092, 'v');
  struct Case {
    const char* what;
    std::string text;
    bool equalsForm;
    bool ok;
    const char* logged;  // with %s for the path; null for nothing
    std::vector<Want> want;
  };
  const Case cases[] = {
      {"missing separator", "a: 1\n\nno separator here\nb: 2\n", false, false,
       "Expected <key>: <value> in properties file: %s at line 3", {{"a", "1", 1}, {"b", std::nullopt}}},
      {"missing equals in equals form", "a: 1\n", true, false, "Expected <key>: <value> in properties file: %s at line 1",
       {}},
      {"10,000-character line", "a: 1\nb: " + std::string(10000, 'x') + "\nc: 3\n", false, false,
       "Line too long (more than 4095 characters) in properties file: %s at line 2",
       {{"a", "1", 1}, {"b", std::nullopt}, {"c", std::nullopt}}},
      {"4096 characters without a newline", std::string(4096, 'k'), false, false,
       "Line too long (more than 4095 characters) in properties file: %s at line 1", {}},
      {"4095 characters fit", line4095 + "\n", false, true, nullptr, {{"k", std::string(4092, 'v'), 1}}},
      {"NUL byte", std::string("a: 1\nb: x\0y\n", 12), false, false,
       "Unexpected NUL character in properties file: %s at line 2", {{"a", "1", 1}, {"b", std::nullopt}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orvtest::TempDir tmp;
    const std::string path = tmp.file("p");
    orvtest::writeFile(path, c.text);
    LogCapture log;
    Properties p;
    EXPECT_EQ(p.load(path.c_str(), c.equalsForm), c.ok);
    std::vector<std::string> want;
    if (c.logged != nullptr) {
      char buf[512];
      snprintf(buf, sizeof buf, c.logged, path.c_str());
      want.push_back(buf);
    }
    EXPECT_EQ(log.lines(), want);
    for (const Want& w : c.want) {
      SCOPED_TRACE(w.key);
      const char* got = p.getProperty(w.key);
      if (!w.value) {
        EXPECT_EQ(got, nullptr);
      } else {
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got, *w.value);
      }
    }
  }
}

TEST(PropertiesTest, MissingFileIsAnEmptyConfiguration) {
  Properties p;
  EXPECT_TRUE(p.load("/nonexistent/orvanex.properties"));
  EXPECT_EQ(p.head(), nullptr);
}

TEST(PropertiesTest, TypedReaders) {
  enum Kind { kInt, kLevel, kBool, kDouble };
  struct Case {
    Kind kind;
    const char* value;  // null: the key is missing
    bool required;
    bool ok;
    double want;         // the out value afterwards (it starts at 77)
    const char* logged;  // null for no line
  };
  const Case cases[] = {
      {kInt, "42", false, true, 42, nullptr},
      {kInt, "", false, true, 0, nullptr},
      {kInt, "007", false, true, 7, nullptr},
      {kInt, "2147483647", false, true, 2147483647.0, nullptr},
      {kInt, "2147483648", false, false, 77, "L: property k is not an integer value"},
      {kInt, "99999999999999999999", false, false, 77, "L: property k is not an integer value"},
      {kInt, "-5", false, false, 77, "L: property k is not an integer value"},
      {kInt, "+5", false, false, 77, "L: property k is not an integer value"},
      {kInt, "5 ", false, false, 77, "L: property k is not an integer value"},
      {kInt, "12a", false, false, 77, "L: property k is not an integer value"},
      {kInt, nullptr, false, true, 9, nullptr},
      {kInt, nullptr, true, false, 77, "L: property k is required but was missing"},
      {kLevel, "TRACE", false, true, 1, nullptr},
      {kLevel, "DEBUG", false, true, 2, nullptr},
      {kLevel, "INFO", false, true, 3, nullptr},
      {kLevel, "WARNING", false, true, 4, nullptr},
      {kLevel, "ERROR", false, true, 5, nullptr},
      {kLevel, "CRITICAL", false, true, 6, nullptr},
      {kLevel, "Debug", false, false, 77,
       "L. (property = k, line = 2, Use TRACE, DEBUG, INFO, WARNING, ERROR or CRICICAL)"},
      {kLevel, "INFO ", false, false, 77,
       "L. (property = k, line = 2, Use TRACE, DEBUG, INFO, WARNING, ERROR or CRICICAL)"},
      {kLevel, nullptr, false, true, 9, nullptr},
      {kLevel, nullptr, true, false, 77, "L: property k is required but was missing"},
      {kBool, "on", false, true, 1, nullptr},
      {kBool, "true", false, true, 1, nullptr},
      {kBool, "ON", false, true, 1, nullptr},
      {kBool, "TRUE", false, true, 1, nullptr},
      {kBool, "off", false, true, 0, nullptr},
      {kBool, "false", false, true, 0, nullptr},
      {kBool, "OFF", false, true, 0, nullptr},
      {kBool, "FALSE", false, true, 0, nullptr},
      {kBool, "True", false, false, 77, "L. (property = k, line = 2, Use ON, OFF, TRUE, or FALSE)"},
      {kBool, "yes", false, false, 77, "L. (property = k, line = 2, Use ON, OFF, TRUE, or FALSE)"},
      {kBool, nullptr, false, true, 1, nullptr},
      {kBool, nullptr, true, false, 77, "L: property k is required but was missing"},
      {kDouble, "1.5", false, true, 1.5, nullptr},
      {kDouble, "1.5  ", false, true, 1.5, nullptr},
      {kDouble, "1e3", false, true, 1000, nullptr},
      {kDouble, "", false, true, 0, nullptr},
      {kDouble, "abc", false, false, 77, "L: property k is not a numeric value"},
      {kDouble, "1.5x", false, false, 77, "L: property k is not a numeric value"},
      {kDouble, nullptr, false, true, 9, nullptr},
      {kDouble, nullptr, true, false, 77, "L: property k is required but was missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("kind ") + std::to_string(c.kind) + " value '" + (c.value ? c.value : "(missing)") +
                 "'" + (c.required ? " required" : ""));
    orvtest::TempDir tmp;
    orvtest::writeFile(tmp.file("p"), c.value ? std::string("# first\nk: ") + c.value + "\n" : "other: 1\n");
    Properties p;
    ASSERT_TRUE(p.load(tmp.file("p").c_str()));
    LogCapture log;
    bool ok = false;
    double got = 0;
    switch (c.kind) {
      case kInt: {
        int v = 77;
        ok = p.intFromProperty("k", "L", c.required, &v, 9);
        got = v;
        break;
      }
      case kLevel: {
        int v = 77;
        ok = p.levelFromProperty("k", "L", c.required, &v, 9);
        got = v;
        break;
      }
      case kBool: {
        bool v = false;
        ok = p.boolFromProperty("k", "L", c.required, &v, true);
        got = c.ok ? v : 77;
        if (!c.ok) {
          EXPECT_FALSE(v) << "untouched";
        }
        break;
      }
      case kDouble: {
        double v = 77;
        ok = p.doubleFromProperty("k", "L", c.required, &v, 9);
        got = v;
        break;
      }
    }
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(log.lines(), c.logged ? std::vector<std::string>{c.logged} : std::vector<std::string>{});
  }
}

std::vector<std::string> keys(const Properties& p) {
  std::vector<std::string> out;
  for (const Properties::Entry* e = p.head(); e != nullptr; e = e->next) {
    out.push_back(std::string(e->key) + "=" + e->value + "@" + std::to_string(e->line));
  }
  return out;
}

TEST(PropertiesTest, CopyReversesAndDiffFindsChanges) {
  Properties p;
  p.setProperty("a", "1", 1);
  p.setProperty("b", "2", 2);
  p.setProperty("c", "3", 3);
  EXPECT_EQ(keys(p), (std::vector<std::string>{"c=3@3", "b=2@2", "a=1@1"}));
  Properties copy(p);
  EXPECT_EQ(keys(copy), (std::vector<std::string>{"a=1@-1", "b=2@-1", "c=3@-1"}));

  Properties other;
  other.setProperty("a", "1", 5);
  other.setProperty("b", "two", 6);
  other.setProperty("z", "9", 7);
  std::unique_ptr<Properties> d(p.diff(other));
  EXPECT_EQ(keys(*d), (std::vector<std::string>{"b=2@-1", "c=3@-1"}));
  std::unique_ptr<Properties> none(p.diff(p));
  EXPECT_EQ(none->head(), nullptr);
  std::unique_ptr<Properties> back(other.diff(p));
  EXPECT_EQ(keys(*back), (std::vector<std::string>{"b=two@-1", "z=9@-1"}));
}

TEST(PropertiesTest, GetPropertiesGivesTextAttributesInListOrder) {
  orvtest::TempDir tmp;
  orvtest::writeFile(tmp.file("p"), "a: 1\nempty:\nb: two words \na: 3\n");
  Properties p;
  ASSERT_TRUE(p.load(tmp.file("p").c_str()));
  std::unique_ptr<Attributes> attrs(p.getProperties());
  ASSERT_NE(attrs, nullptr);
  std::vector<std::string> got;
  for (const Attributes::AttrList* a = attrs->first(); a != nullptr; a = a->getNext()) {
    const Any* v = a->getValue();
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->isString()) << a->getName();
    got.push_back(std::string(a->getName()) + "=" + (v->getString() ? v->getString() : "(null)"));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"a=3", "b=two words ", "empty=", "a=1"}));
  EXPECT_STREQ(attrs->getStringAttribute("a"), "3");  // the same value the set gives

  Properties none;
  std::unique_ptr<Attributes> empty(none.getProperties());
  EXPECT_EQ(empty->size(), 0);
}

TEST(PropertiesTest, LogPropertiesListsEntriesInListOrder) {
  Properties p;
  p.setProperty("a", "1", 1);
  p.setProperty("b", "", 2);
  LogCapture log;
  p.logProperties("    orvanex.properties");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"    orvanex.properties: b = ", "    orvanex.properties: a = 1"}));
}

TEST(PropertiesTest, MergeRewritesChangedValuesAndAppendsNewKeys) {
  const std::string source =
      "# settings\n"
      "\n"
      "same: 1\n"
      "changed:   old\n"
      "  blank key : x\n"
      "untouched: u\n";
  Properties p;
  p.setProperty("added_first", "f", -1);
  p.setProperty("changed", "new", -1);
  p.setProperty("same", "1", -1);
  p.setProperty("  blank key ", "y", -1);
  p.setProperty("added_last", "l", -1);
  const std::string want =
      "# settings\n"
      "\n"
      "same: 1\n"
      "changed: new\n"
      "  blank key : y\n"
      "untouched: u\n"
      "added_last: l\n"
      "added_first: f\n";

  struct Case {
    const char* what;
    bool sameFile;
  };
  for (const Case& c : {Case{"separate files", false}, Case{"merged onto itself", true}}) {
    SCOPED_TRACE(c.what);
    orvtest::TempDir tmp;
    const std::string src = tmp.file("src");
    const std::string dst = c.sameFile ? src : tmp.file("dst");
    orvtest::writeFile(src, source);
    ASSERT_TRUE(p.merge(src.c_str(), dst.c_str()));
    EXPECT_EQ(orvtest::readFile(dst), want);
    // Merging again changes nothing.
    ASSERT_TRUE(p.merge(dst.c_str(), dst.c_str()));
    EXPECT_EQ(orvtest::readFile(dst), want);
  }
}

// A set loaded from a file with a duplicate key holds the older value too;
// merging must not append it, where it would win on the next load.
TEST(PropertiesTest, MergeNeverAppendsAShadowedDuplicate) {
  orvtest::TempDir tmp;
  const std::string src = tmp.file("src");
  orvtest::writeFile(src, "a: 1\na: 2\n");
  Properties p;
  ASSERT_TRUE(p.load(src.c_str()));
  p.setProperty("b", "old", -1);
  p.setProperty("b", "new", -1);
  ASSERT_TRUE(p.merge(src.c_str(), src.c_str()));
  EXPECT_EQ(orvtest::readFile(src), "a: 2\na: 2\nb: new\n");
  Properties back;
  ASSERT_TRUE(back.load(src.c_str()));
  EXPECT_STREQ(back.getProperty("a"), "2");
  EXPECT_STREQ(back.getProperty("b"), "new");
}

TEST(PropertiesTest, MergeFailuresLeaveTheDestinationAlone) {
  Properties p;
  p.setProperty("k", "v", -1);
  struct Case {
    const char* what;
    std::string source;  // empty: no source file
    const char* logged;
  };
  const Case cases[] = {
      {"missing separator", "a: 1\nbroken\nk: old\n", "Expected <key>: <value> in properties file: %s at line 2"},
      {"long line", "a: 1\nk: " + std::string(5000, 'x') + "\n",
       "Line too long (more than 4095 characters) in properties file: %s at line 2"},
      {"no source", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    orvtest::TempDir tmp;
    const std::string src = tmp.file("src");
    const std::string dst = tmp.file("dst");
    if (!c.source.empty()) orvtest::writeFile(src, c.source);
    orvtest::writeFile(dst, "precious: 1\n");
    LogCapture log;
    EXPECT_FALSE(p.merge(src.c_str(), dst.c_str()));
    EXPECT_EQ(orvtest::readFile(dst), "precious: 1\n");
    if (c.logged != nullptr) {
      char buf[256];
      snprintf(buf, sizeof buf, c.logged, src.c_str());
      EXPECT_EQ(log.lines(), std::vector<std::string>{buf});
    } else {
      EXPECT_EQ(log.lines().size(), 2u);  // the open failure and its errno line
    }
  }
  orvtest::TempDir tmp;
  orvtest::writeFile(tmp.file("src"), "k: v\n");
  EXPECT_FALSE(p.merge(tmp.file("src").c_str(), tmp.file("no/such/dir").c_str()));
}

}  // namespace
