#include "kel/parser.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/output.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/dir_error.h"
#include "model/obj_ref.h"
#include "testing/test_util.h"

namespace {

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 't' || s[i + 1] == '\\')) {
      char n = s[++i];
      out += n == 'n' ? '\n' : n == 't' ? '\t' : '\\';
    } else {
      out += s[i];
    }
  }
  return out;
}

// Parses `source` in `mode`; true when it parsed.
bool parseIn(Parser& parser, const std::string& mode) {
  if (mode == "expr") return parser.parse();
  if (mode == "script") return parser.parseScript();
  if (mode == "scriptlet") return parser.parseScriptlet();
  std::unique_ptr<Any> json(parser.parseJSON());
  return json != nullptr;
}

std::string where(const Error& error) {
  if (error.traceback().empty()) return "?";
  const Location& at = error.traceback().front();
  return std::to_string(at.line()) + ":" + std::to_string(at.column());
}

TEST(Parser, SyntaxErrors) {
  std::ifstream in(orvtest::dataDir() + "/kel/syntax_errors.tsv");
  ASSERT_TRUE(in.good());
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '\t')) f.push_back(field);
    ASSERT_EQ(f.size(), 4u) << line;
    SCOPED_TRACE(f[0] + ": " + f[1]);
    std::string source = unescape(f[1]);
    Parser parser("test.js", source, nullptr, 1, 1, f[0] == "scriptlet");
    EXPECT_FALSE(parseIn(parser, f[0]));
    EXPECT_TRUE(parser.hasError());
    const Error* error = parser.getError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message(), f[3]);
    EXPECT_EQ(where(*error), f[2]);
    EXPECT_EQ(error->type(), Error::SYNTAX_ERROR);
    EXPECT_EQ(error->code(), 105);
    EXPECT_EQ(parser.dumpTree(), "");  // the partial tree is discarded
    ++count;
  }
  EXPECT_GT(count, 100);
}

// tests/kel/parse_trees.txt: blocks of "=== <mode> <name>", the source, a
// line "---" and the expected dump of the tree.
TEST(Parser, Trees) {
  std::ifstream in(orvtest::dataDir() + "/kel/parse_trees.txt");
  ASSERT_TRUE(in.good());
  struct Block {
    std::string mode, name, source, want;
  };
  std::vector<Block> blocks;
  std::string line;
  bool inWant = false;
  while (std::getline(in, line)) {
    if (line.rfind("=== ", 0) == 0) {
      std::istringstream header(line.substr(4));
      Block b;
      header >> b.mode;
      std::getline(header >> std::ws, b.name);
      blocks.push_back(b);
      inWant = false;
      continue;
    }
    if (blocks.empty()) continue;
    if (line == "---" && !inWant) {
      inWant = true;
      continue;
    }
    std::string& target = inWant ? blocks.back().want : blocks.back().source;
    if (!target.empty() || (inWant ? false : !blocks.back().source.empty())) target += '\n';
    target += line;
  }
  ASSERT_GT(blocks.size(), 20u);
  std::string updated =
      "# Parse trees of kel sources in the debug form of Parser::dumpTree.\n"
      "# Blocks: \"=== <mode> <name>\", the source, \"---\", the expected tree.\n"
      "# ORV_UPDATE_GOLDEN=1 makes the test rewrite the expected trees.\n";
  for (const Block& b : blocks) {
    SCOPED_TRACE(b.name);
    Parser parser("test.js", b.source, nullptr, 1, 1, b.mode == "scriptlet");
    bool ok = parseIn(parser, b.mode);
    EXPECT_TRUE(ok) << (parser.getError() ? parser.getError()->text() : "");
    EXPECT_EQ(parser.dumpTree(), b.want);
    updated += "=== " + b.mode + " " + b.name + "\n" + b.source + "\n---\n" + parser.dumpTree() + "\n";
  }
  if (const char* update = std::getenv("ORV_UPDATE_GOLDEN"); update != nullptr && *update == '1') {
    orvtest::writeFile(orvtest::dataDir() + "/kel/parse_trees.txt", updated);
  }
}

TEST(Parser, NestingIsBoundedNotFatal) {
  struct Case {
    const char* name;
    std::string source;
    const char* mode;
  };
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const int deep = 100000;
  const Case cases[] = {
      {"parentheses", repeat("(", deep) + "1" + repeat(")", deep), "expr"},
      {"arrays", repeat("[", deep) + repeat("]", deep), "expr"},
      {"objects", repeat("{\"a\":", deep) + "1" + repeat("}", deep), "expr"},
      {"typeof", repeat("typeof ", deep) + "x", "expr"},
      {"assignments", repeat("a=", deep) + "1", "expr"},
      {"conditionals", repeat("a?b:", deep) + "c", "expr"},
      {"left chain", "1" + repeat("+1", deep), "expr"},
      {"members", "a" + repeat(".b", deep), "expr"},
      {"calls", "f" + repeat("(1)", deep), "expr"},
      {"blocks", repeat("{", deep) + repeat("}", deep), "script"},
      {"ifs", repeat("if (x) ", deep) + "y;", "script"},
      {"functions", repeat("x = function () {", deep) + repeat("};", deep), "script"},
      {"json", repeat("[", deep) + repeat("]", deep), "json"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parser parser("deep.js", c.source, nullptr, 1, 1, false);
    EXPECT_FALSE(parseIn(parser, c.mode));
    ASSERT_NE(parser.getError(), nullptr);
    EXPECT_EQ(parser.getError()->message(), Parser::kNestingMessage);
  }
  // Within the bounds nesting is fine.
  Parser ok("ok.js", repeat("(", 50) + "1" + repeat(")", 50) + repeat("+1", 500), nullptr, 1, 1, false);
  EXPECT_TRUE(ok.parse());
}

// The deepest trees the bounds accept are parsed, dumped and destroyed on a
// thread with a 1 MB stack, the size Java gives its threads.
TEST(Parser, AcceptedNestingFitsASmallStack) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  struct Work {
    std::string source;
    bool ok = false;
    size_t dumped = 0;
    std::string error;
  } work;
  const int levels = Parser::kMaxNesting / 2 - 2;  // each ( ) costs two counted levels
  work.source = "x = " + repeat("(", levels) + "1" + repeat(")", levels) + ";\n" +
                "y = 1" + repeat("+1", Parser::kMaxTreeHeight - 5) + ";\n" +
                repeat("{", Parser::kMaxNesting - 2) + repeat("}", Parser::kMaxNesting - 2);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1 << 20);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    auto* w = static_cast<Work*>(arg);
    auto parser = std::make_unique<Parser>("deep.js", w->source, nullptr, 1, 1, false);
    w->ok = parser->parseScript();
    if (!w->ok) w->error = parser->getError()->text();
    w->dumped = parser->dumpTree().size();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_TRUE(work.ok) << work.error;
  EXPECT_GT(work.dumped, 0u);
}

TEST(Parser, FirstErrorIsKept) {
  Parser parser("test.js", "x = ;", nullptr, 1, 0, false);
  EXPECT_FALSE(parser.parseScript());
  parser.pError("a later error");
  ASSERT_NE(parser.getError(), nullptr);
  EXPECT_EQ(parser.getError()->message(), "Primary expression expected");
  // Column 0 is reported as 1; the text form lists the traceback.
  EXPECT_EQ(parser.getError()->text(), "SyntaxError: Primary expression expected\n    at: test.js:1:4");
  parser.recover();
  EXPECT_EQ(parser.getError(), nullptr);
  EXPECT_TRUE(parser.hasError());  // the flag stays
}

TEST(Parser, RunTimeErrorsTakeTheDirectoryText) {
  Parser parser("run.js", "a + b", nullptr, 2, 1, false);
  ASSERT_TRUE(parser.parse());
  const auto* add = dynamic_cast<const BinaryExprAstNode*>(parser.expressionTree());
  ASSERT_NE(add, nullptr);
  parser.throwErrorCode(add->right(), Error::REFERENCE_ERROR, 46);
  ASSERT_NE(parser.getError(), nullptr);
  EXPECT_EQ(parser.getError()->text(), "ReferenceError: Variable not defined\n    at: run.js:2:5");
  EXPECT_EQ(parser.getError()->code(), 46);
}

TEST(Parser, ErrorText) {
  Error e(Error::REFERENCE_ERROR, 46, "Variable not defined");
  e.addTraceback(Location("f", "a.js", 3, 4));
  e.addTraceback(Location("b.js", 1, 2));
  EXPECT_EQ(e.text(), "ReferenceError: Variable not defined\n    at: f (a.js:3:4)\n    at: b.js:1:2");
  EXPECT_STREQ(Error::typeName(0), "");
  EXPECT_STREQ(Error::typeName(6), "URIError");
  EXPECT_EQ(Location("a.js", 1, 2).text(), "(a.js:1:2)");
}

TEST(Parser, Json) {
  Parser parser("JSON", "{\"a\": -1, \"b\": [true, null, 'x\\u00e9', 2.5, -3], \"a\": 2}", nullptr, 1, 0, false);
  std::unique_ptr<Any> result(parser.parseJSON());
  ASSERT_NE(result, nullptr) << parser.getError()->text();
  auto* map = dynamic_cast<Attributes*>(result->getRefTarget());
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->size(), 2);
  const Any* a = map->getAttribute("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->getType(), ANY_INT64);
  EXPECT_EQ(a->getInt64(), 2);
  const Any* b = map->getAttribute("b");
  ASSERT_NE(b, nullptr);
  auto* array = dynamic_cast<AnyArray*>(b->getRefTarget());
  ASSERT_NE(array, nullptr);
  char* text = array->toString(nullptr);
  EXPECT_STREQ(text, "[ true, null, \"x\\u00E9\", 2.5, -3 ]");
  free(text);
  EXPECT_NE(map->getLocation(), nullptr);

  // Integers read ahead before JSON mode was set are 64-bit too.
  Parser ahead("JSON", "[1, 2, 3]", nullptr, 1, 0, false);
  std::unique_ptr<Any> list(ahead.parseJSON());
  ASSERT_NE(list, nullptr);
  auto* numbers = dynamic_cast<AnyArray*>(list->getRefTarget());
  ASSERT_NE(numbers, nullptr);
  for (int i = 0; i < numbers->size(); ++i) EXPECT_EQ(numbers->get(i)->getType(), ANY_INT64);
}

TEST(Parser, TokenTraceAndDump) {
  MemoryFile trace;
  Parser parser("t.js", "a + 1", nullptr, 1, 0, false);
  parser.setTraceStream(&trace);
  parser.setDebugLevel(2);
  ASSERT_TRUE(parser.parse());
  parser.dump();
  EXPECT_NE(trace.text().find("State: t1: PUNCT('+'), t2: INTEGER(1), t3: END\n"), std::string::npos)
      << trace.text();
  EXPECT_NE(trace.text().find("(Add + (Ident a) (Literal 1))\n"), std::string::npos) << trace.text();

  // Above the level nothing is written.
  MemoryFile quiet;
  Parser silent("t.js", "a + 1", nullptr, 1, 0, false);
  silent.setTraceStream(&quiet);
  silent.setDebugLevel(3);
  ASSERT_TRUE(silent.parse());
  silent.dump();
  silent.printf(2, "hidden\n");
  silent.printf(3, "shown %d\n", 3);
  EXPECT_EQ(quiet.text(), "shown 3\n");
}

TEST(Parser, TokenLocation) {
  Parser parser("loc.js", "x", nullptr, 4, 0, false);
  Token token;
  token.line = 4;
  token.column = 0;
  auto at = token.getLocation(parser);
  EXPECT_EQ(at->fileName(), "loc.js");
  EXPECT_EQ(at->line(), 4);
  EXPECT_EQ(at->column(), 1);
}

TEST(Parser, RegexAllowedOnlyWhereAnOperandStarts) {
  struct Case {
    const char* source;
    const char* want;
  };
  const Case cases[] = {
      {"a / b / c", "(Mul / (Mul / (Ident a) (Ident b)) (Ident c))"},
      {"(a) / b / c", "(Mul / (Mul / (Ident a) (Ident b)) (Ident c))"},
      {"a[1] / b / c", "(Mul / (Mul / (Index (Ident a) (Literal 1)) (Ident b)) (Ident c))"},
      {"x = /b+/g", "(Assign (Ident x) (Literal /b+/g))"},
      {"f(/a/, /b/i)", "(Call (Ident f) (Literal /a/) (Literal /b/i))"},
      {"typeof /a/", "(Typeof (Literal /a/))"},
      {"a /= 2", "(Assign (Ident a) (Mul / (Ident a) (Literal 2)))"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    Parser parser("t.js", c.source, nullptr, 1, 0, false);
    ASSERT_TRUE(parser.parse()) << parser.getError()->text();
    EXPECT_EQ(parser.dumpTree(), c.want);
  }
}

TEST(Parser, SourceRunsScriptFiles) {
  orvtest::TempDir dir;
  EXPECT_EQ(Parser::source(nullptr, nullptr, dir.file("missing").c_str()), DirError::fromPosix(ENOENT));
  orvtest::writeFile(dir.file("a.js"), "var x = 1;");
  orvtest::writeFile(dir.file("bad.js"), "var x = ;");
  orvtest::writeFile(dir.file("skip.txt"), "not a script");
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
  orvtest::writeFile(dir.file("sub/b.js"), "y = 2;");
  // A link back up the tree must not make the walk endless.
  ASSERT_EQ(symlink(dir.path().c_str(), dir.file("sub/loop").c_str()), 0);
  EXPECT_EQ(Parser::source(nullptr, nullptr, dir.path().c_str()), 0);
  EXPECT_EQ(Parser::source(nullptr, nullptr, dir.file("a.js").c_str(), "a.js"), 0);
}

}  // namespace
