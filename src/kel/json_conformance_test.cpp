// The JSON conformance set of tests/kel/json: y_ files must be accepted,
// n_ files rejected with a located syntax error, and i_ files (where JSON
// leaves a choice, or this reader follows kel's wider rules) give the
// results recorded in i_results.tsv. RapidJSON, a strict reader we did not
// write, confirms that every y_ file is JSON and no n_ file is.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if __has_include(<rapidjson/document.h>)
#include <rapidjson/document.h>
#define KEL_HAVE_RAPIDJSON 1
#endif

#include "kel/location.h"
#include "kel/parser.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"
#include "testing/test_util.h"

namespace {

std::string dir() { return orvtest::dataDir() + "/kel/json"; }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir().c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0) names.push_back(name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Outcome {
  bool accepted = false;
  std::string error;  // "line:column: message" when rejected
};

Outcome parse(const std::string& text) {
  Parser parser("JSON", text, nullptr, 1, 1, false);
  std::unique_ptr<Any> value(parser.parseJSON());
  Outcome o;
  o.accepted = value != nullptr;
  if (value) {
    // The value renders (and is destroyed) without trouble.
    char* rendered = value->toString(nullptr);
    EXPECT_NE(rendered, nullptr);
    std::free(rendered);
    EXPECT_FALSE(parser.hasError());
  } else {
    const Error* error = parser.getError();
    EXPECT_NE(error, nullptr);
    if (error != nullptr) {
      EXPECT_EQ(error->type(), Error::SYNTAX_ERROR);
      EXPECT_EQ(error->code(), Parser::kSyntaxErrorCode);
      EXPECT_FALSE(error->traceback().empty());
      if (!error->traceback().empty()) {
        const Location& at = error->traceback().front();
        EXPECT_GE(at.line(), 1);
        EXPECT_GE(at.column(), 1);
        o.error = std::to_string(at.line()) + ":" + std::to_string(at.column()) + ": " + error->message();
      }
    }
  }
  return o;
}

TEST(JsonConformance, Files) {
  std::map<std::string, std::string> recorded;
  {
    std::ifstream in(dir() + "/i_results.tsv");
    ASSERT_TRUE(in.is_open());
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      size_t tab = line.find('\t');
      ASSERT_NE(tab, std::string::npos) << line;
      recorded[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  int counts[3] = {0, 0, 0};
  for (const std::string& name : caseNames()) {
    SCOPED_TRACE(name);
    std::string text = readAll(dir() + "/" + name);
    Outcome o = parse(text);
    switch (name[0]) {
      case 'y':
        EXPECT_TRUE(o.accepted) << o.error;
        counts[0]++;
        break;
      case 'n':
        EXPECT_FALSE(o.accepted);
        counts[1]++;
        break;
      case 'i': {
        std::string stem = name.substr(0, name.size() - 5);
        auto it = recorded.find(stem);
        ASSERT_NE(it, recorded.end()) << "no result recorded for " << stem << " (it is "
                                      << (o.accepted ? "accepted" : "rejected: " + o.error) << ")";
        EXPECT_EQ(o.accepted ? "accepted" : "rejected", it->second.substr(0, it->second.find('\t')))
            << o.error;
        counts[2]++;
        break;
      }
      default:
        ADD_FAILURE() << "a case name starts with y_, n_ or i_";
    }
#ifdef KEL_HAVE_RAPIDJSON
    if (name[0] != 'i') {
      rapidjson::Document doc;
      doc.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag |
                rapidjson::kParseValidateEncodingFlag>(text.data(), text.size());
      EXPECT_EQ(!doc.HasParseError(), name[0] == 'y') << "RapidJSON disagrees with the file's class";
    }
#endif
  }
  EXPECT_GT(counts[0], 40);
  EXPECT_GT(counts[1], 60);
  EXPECT_GT(counts[2], 40);
}

// What the accepted texts read as, where the reader makes a choice.
TEST(JsonConformance, Values) {
  struct Case {
    const char* text;
    const char* rendered;
  };
  const Case cases[] = {
      {"[9223372036854775807, -9223372036854775808]", "[ 9223372036854775807, -9223372036854775808 ]"},
      {"[100000000000000000000]", "[ 100000000000000000000.0 ]"},
      {"[0.1, 1E+2, 1e-2, -0.0]", "[ 0.1, 100.0, 0.01, -0.0 ]"},
      {"[1.5e999, 1.5e-999]", "[ inf, 0.0 ]"},
      {"[\"\\uD801\\udc37\", \"\\uD800\", \"\\/\"]", "[ \"\\U00010437\", \"\\uFFFD\", \"/\" ]"},
      {"{\"b\": 1, \"a\": 2, \"b\": 3}", "{ \"b\" : 3, \"a\" : 2 }"},
      {"['x', 0x1F, .5, 1.]", "[ \"x\", 31, 0.5, 1.0 ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Parser parser("JSON", c.text, nullptr, 1, 1, false);
    std::unique_ptr<Any> value(parser.parseJSON());
    ASSERT_NE(value, nullptr) << parser.getError()->text();
    char* rendered = value->toString(nullptr);
    EXPECT_STREQ(rendered, c.rendered);
    std::free(rendered);
  }
}

// Large objects merge repeated names the way small ones do: the first
// member's place, the last member's value, every other member in order.
TEST(JsonConformance, RepeatedNamesInLargeObjects) {
  for (int members : {5, 17, 40, 300}) {
    SCOPED_TRACE(members);
    std::string text = "{";
    std::vector<std::string> order;
    std::map<std::string, int> last;
    for (int i = 0; i < members; i++) {
      // Every third name is one of a few repeated ones; "" is a name too.
      std::string name = i % 3 == 0 ? std::string("r") + std::to_string(i % 4) : "m" + std::to_string(i);
      if (i == members - 1) name = "";
      if (last.find(name) == last.end()) order.push_back(name);
      last[name] = i;
      text += (i > 0 ? ", \"" : "\"") + name + "\": " + std::to_string(i);
    }
    text += "}";
    Parser parser("JSON", text, nullptr, 1, 1, false);
    std::unique_ptr<Any> value(parser.parseJSON());
    ASSERT_NE(value, nullptr) << parser.getError()->text();
    Attributes* map = nullptr;
    ASSERT_TRUE(value->convertToAttributes(&map));
    ASSERT_EQ(map->size(), static_cast<int>(order.size()));
    size_t k = 0;
    for (const Attributes::AttrList* e = map->first(); e != nullptr; e = e->getNext(), k++) {
      EXPECT_EQ(e->getName(), order[k]);
      EXPECT_EQ(e->getValue()->getInt64(), last[order[k]]) << order[k];
    }
    for (const auto& [name, i] : last) EXPECT_EQ(map->getAttribute(name.c_str())->getInt64(), i) << name;
  }
}

// A text that breaks off anywhere inside nested containers leaves nothing
// behind (the leak checker of the sanitizer build sees to that) and reports
// an error.
TEST(JsonConformance, BrokenOffTextsReleaseWhatWasRead) {
  const std::string whole =
      R"({"a": [1, "two", {"b": [true, null, {"c": "d", "e": [3.5, -4]}]}, [], {}], "f": {"g": "h"}, "i": 9})";
  for (size_t n = 0; n < whole.size(); n++) {
    Parser parser("JSON", whole.substr(0, n), nullptr, 1, 1, false);
    std::unique_ptr<Any> value(parser.parseJSON());
    EXPECT_EQ(value, nullptr) << n;
  }
  Parser parser("JSON", whole, nullptr, 1, 1, false);
  std::unique_ptr<Any> value(parser.parseJSON());
  ASSERT_NE(value, nullptr);
  char* rendered = value->toString(nullptr);
  EXPECT_STREQ(rendered,
               R"({ "a" : [ 1, "two", { "b" : [ true, null, { "c" : "d", "e" : [ 3.5, -4 ] } ] }, [  ], {  } ], )"
               R"("f" : { "g" : "h" }, "i" : 9 })");
  std::free(rendered);
}

// Parts of a document kept after the document is freed stay whole: an
// object shared through a reference (with its location), a copy of an
// array and a text moved out, used and freed on another thread; the
// sanitizer builds check the memory and the hand-over.
TEST(JsonConformance, PartsOutliveTheirDocument) {
  const std::string text = "[{\"id\": 1, \"tags\": [\"a\", \"b\"]},\n  {\"id\": 2, \"name\": \"x\\u00e9\"}]";
  ObjRef second;
  std::unique_ptr<Any> tags;
  std::unique_ptr<Any> name(new Any());
  {
    Parser parser("JSON", text, nullptr, 1, 1, false);
    std::unique_ptr<Any> document(parser.parseJSON());
    ASSERT_NE(document, nullptr);
    auto* list = dynamic_cast<AnyArray*>(document->getRefTarget());
    ASSERT_NE(list, nullptr);
    auto* first = dynamic_cast<Attributes*>(list->get(0)->getRefTarget());
    ASSERT_NE(first, nullptr);
    tags.reset(new Any(*first->getAttribute("tags")));
    second.set(list->get(1)->getRefTarget());
    name->takeFrom(*static_cast<Attributes*>(second.getTarget())->getAttribute("name"));
  }
  std::thread user([&] {
    auto* object = static_cast<Attributes*>(second.getTarget());
    const auto* at = dynamic_cast<const Location*>(object->getLocation());
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(at->line(), 2);
    EXPECT_EQ(at->column(), 3);
    EXPECT_EQ(object->getAttribute("id")->getInt64(), 2);
    char* rendered = tags->toString(nullptr);
    EXPECT_STREQ(rendered, "[ \"a\", \"b\" ]");
    std::free(rendered);
    EXPECT_STREQ(name->getString(), "x\xC3\xA9");
    second.set(nullptr);
    tags.reset();
    name.reset();
  });
  user.join();
}

}  // namespace
