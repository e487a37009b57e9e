// The built-ins that the data files cannot reach: the fields of Error
// objects (scripts have no catch) and X.getLogin/getPassword through the
// host's credential checkout hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "kel/error.h"
#include "kel/kel_runner.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "kel/string_expand.h"
#include "kel/x_prototype.h"
#include "kel/abstract_var_set.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

std::string field(const Error& error, const char* name) {
  Any* value = nullptr;
  EXPECT_EQ(error.getField(nullptr, &value, name), 0) << name;
  std::unique_ptr<Any> held(value);
  if (!held) return "<none>";
  char* text = held->toString(nullptr);
  std::string out = text != nullptr ? text : "<null>";
  std::free(text);
  return out;
}

TEST(ErrorFields, Table) {
  Error e(Error::SYNTAX_ERROR, 105, "Syntax Error");
  e.addTraceback(Location("f", "a.js", 3, 4));
  e.addTraceback(Location("b.js", 1, 2));
  struct Case {
    const char* name;
    const char* want;
  };
  const Case cases[] = {
      {"name", "\"SyntaxError\""},
      {"message", "\"Syntax Error\""},
      {"fileName", "\"a.js\""},
      {"lineNumber", "3"},
      {"columnNumber", "4"},
      {"stack", "\"SyntaxError: Syntax Error\\n    at: f (a.js:3:4)\\n    at: b.js:1:2\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(field(e, c.name), c.want);
  }
  Error bare(Error::RANGE_ERROR, 13, "Timeout");
  EXPECT_EQ(field(bare, "lineNumber"), "0");
  EXPECT_EQ(field(bare, "columnNumber"), "0");
  EXPECT_EQ(field(bare, "fileName"), "\"\"");
  Any* value = nullptr;
  EXPECT_NE(bare.getField(nullptr, &value, "nosuch"), 0);
  delete value;
}

// A checkout that knows one name; it fills the whole login buffer for
// "long" (without a terminator) to show that kel stays within it.
int checkout(const Principal*, const char* name, char* login, int loginSize, char* password, int passwordSize) {
  if (std::strcmp(name, "long") == 0) {
    std::memset(login, 'x', static_cast<size_t>(loginSize));
    return 0;
  }
  if (std::strcmp(name, "db") != 0) return 4;
  std::snprintf(login, static_cast<size_t>(loginSize), "dbuser");
  if (password != nullptr) std::snprintf(password, static_cast<size_t>(passwordSize), "s3cret");
  return 0;
}

TEST(XCredentials, ThroughTheHook) {
  struct Case {
    const char* expression;
    int status;
    const char* out;
  };
  const Case withHook[] = {
      {"X.getLogin(\"db\")", 0, "\"dbuser\"\n"},
      {"X.getPassword(\"db\")", 0, "\"s3cret\"\n"},
      {"X.getLogin(\"other\")", 1, ""},
      {"X.getLogin(\"long\").length", 0, "8191\n"},
      {"X.getLogin()", 1, ""},
  };
  setKelCredentialCheckout(checkout);
  for (const Case& c : withHook) {
    SCOPED_TRACE(c.expression);
    KelRunner runner;
    MemoryFile out;
    std::string err;
    EXPECT_EQ(runner.runExpression(c.expression, "expression", out, err), c.status) << err;
    EXPECT_EQ(out.text(), c.out);
  }
  setKelCredentialCheckout(nullptr);
  KelRunner runner;
  MemoryFile out;
  std::string err;
  EXPECT_EQ(runner.runExpression("X.getLogin(\"db\")", "expression", out, err), 1);
  EXPECT_EQ(err.substr(0, err.find('\n')), "EvalError 21: Not Implemented");
}

// The API the Java bridge uses: no result before expand, the error kept
// after a failure with the result so far, the builder taken by getResult.
TEST(StringExpandApi, ResultAndError) {
  ObjRef root = Parser::buildRootVarSet();
  auto* scope = static_cast<AbstractVarSet*>(root.getTarget());
  StringExpand never("t", "x");
  std::unique_ptr<Any> none(never.getResult());
  EXPECT_TRUE(none->isNull());

  StringExpand ok("t", "a<? 1 + 1 ?>b");
  ASSERT_TRUE(ok.expand(nullptr, scope, 0));
  std::unique_ptr<Any> text(ok.getResult());
  EXPECT_STREQ(text->getString(), "a2b");
  std::unique_ptr<Any> taken(ok.getResult());
  EXPECT_STREQ(taken->getString(), "");

  StringExpand bad("cfg", "ab\ncd <? 1 + ?> ef");
  EXPECT_FALSE(bad.expand(nullptr, scope, 0));
  ASSERT_NE(bad.getError(), nullptr);
  EXPECT_EQ(bad.getError()->code(), 105);
  ASSERT_FALSE(bad.getError()->traceback().empty());
  EXPECT_EQ(bad.getError()->traceback().front().fileName(), "cfg");
  EXPECT_EQ(bad.getError()->traceback().front().line(), 1);  // lines count from 0
  std::unique_ptr<Any> partial(bad.getResult());
  EXPECT_STREQ(partial->getString(), "ab\ncd ");

  MemoryFile trace;
  StringExpand traced("t", "<? 2 ?>");
  traced.setDebugLevel(2);
  traced.setTraceStream(&trace);
  ASSERT_TRUE(traced.expand(nullptr, scope, 0));
  EXPECT_NE(trace.text().find("StringExpand, will run script, ' 2 '"), std::string::npos) << trace.text();
  EXPECT_NE(trace.text().find("StringExpand, result is '2'"), std::string::npos) << trace.text();

  // What a section prints is the caller's, not lost (the Java bridge hands
  // it back beside the expanded text).
  MemoryFile printed;
  StringExpand chatty("t", "x<? console.print('side') ?>y");
  chatty.setStandardOutput(&printed);
  ASSERT_TRUE(chatty.expand(nullptr, scope, 0));
  EXPECT_NE(printed.text().find("side"), std::string::npos) << printed.text();
}

}  // namespace
