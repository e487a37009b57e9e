// The interpreter through its C++ interface: variable sets, the registry,
// the evaluate() contract with Assignables, the execution limits, deep
// recursion on a small thread stack, and repeated executions of one tree.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kel/abstract_var_set.h"
#include "kel/ast/expr_nodes.h"
#include "kel/ast/stmt_nodes.h"
#include "kel/error.h"
#include "kel/native_function.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "kel/place.h"
#include "kel/prototype_registry.h"
#include "kel/var_set.h"
#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

AbstractVarSet* setOf(const ObjRef& ref) { return static_cast<AbstractVarSet*>(ref.getTarget()); }

// Runs `script` against `root`; returns the error text, or "" on success.
std::string run(const char* script, const ObjRef& root, Parser** keep = nullptr) {
  Parser parser("t", script, nullptr, 1, 1, false);
  if (!parser.parseScript()) return parser.getError()->text();
  if (parser.executeScript(nullptr, setOf(root)) == 0) {
    return parser.getError() != nullptr ? parser.getError()->text() : "failed without error";
  }
  (void)keep;
  return "";
}

TEST(VarSet, LocalVariablesMostRecentFirst) {
  VarSet set;
  ASSERT_TRUE(set.define("a", new Any(1)));
  ASSERT_TRUE(set.define("b", new Any(2)));
  ASSERT_TRUE(set.define("a", new Any(3)));  // redefinition keeps the entry's place
  char** names = set.getLocalVariables();
  ASSERT_NE(names[0], nullptr);
  EXPECT_STREQ(names[0], "b");
  EXPECT_STREQ(names[1], "a");
  EXPECT_EQ(names[2], nullptr);
  for (char** p = names; *p != nullptr; p++) std::free(*p);
  delete[] names;
  EXPECT_EQ(set.get("a")->getInt32(), 3);
}

TEST(VarSet, ClearEmptiesReferencedArray) {
  ObjRef root(new VarSet());
  auto* array = new AnyArray();
  array->append(new Any(1));
  ObjRef holder(array);
  ASSERT_TRUE(setOf(root)->define("list", new Any(new ObjRef(array))));
  setOf(root)->clear();
  EXPECT_EQ(array->size(), 0);
  EXPECT_EQ(setOf(root)->get("list"), nullptr);
}

TEST(VarSet, SetWalksParentsAndReadOnlyRefuses) {
  ObjRef parent(new VarSet());
  ObjRef child(new VarSet());
  setOf(child)->setParent(setOf(parent));
  ASSERT_TRUE(setOf(parent)->define("x", new Any(1)));
  EXPECT_TRUE(setOf(child)->set("x", new Any(2)));
  EXPECT_EQ(setOf(parent)->get("x")->getInt32(), 2);
  EXPECT_FALSE(setOf(child)->set("nosuch", new Any(2)));
  setOf(parent)->setReadOnly(true);
  EXPECT_FALSE(setOf(parent)->define("y", new Any(1)));
  EXPECT_FALSE(setOf(child)->set("x", new Any(3)));
  // The protocol: a missing variable is 46.
  Any* out = nullptr;
  EXPECT_EQ(setOf(child)->getField(nullptr, &out, "nosuch"), 46);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(setOf(child)->getField(nullptr, &out, "x"), 0);
  EXPECT_EQ(out->getInt32(), 2);
  delete out;
}

TEST(VarSet, ThisMapComesFirstAndClearByName) {
  ObjRef root = Parser::buildRootVarSet();
  auto* map = new Attributes();
  ObjRef keepMap(map);
  map->setAttribute("host", "from-map");
  ASSERT_TRUE(setOf(root)->define("host", new Any("from-var")));
  setOf(root)->setThis(map);
  Parser parser("t", "host", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parse());
  Any* result = nullptr;
  ASSERT_TRUE(parser.executeExpression(nullptr, setOf(root), &result));
  EXPECT_STREQ(result->getString(), "from-map");
  delete result;
  setOf(root)->clearThis();
  ASSERT_TRUE(parser.executeExpression(nullptr, setOf(root), &result));
  EXPECT_STREQ(result->getString(), "from-var");
  delete result;
  setOf(root)->clear("host");
  EXPECT_FALSE(parser.executeExpression(nullptr, setOf(root), &result));
  EXPECT_EQ(parser.getError()->code(), 46);
}

TEST(Interp, RootSetKeepsTopLevelVarsAndGlobals) {
  ObjRef root = Parser::buildRootVarSet();
  EXPECT_EQ(run("var kept = 7; { let gone = 1; }", root), "");
  ASSERT_NE(setOf(root)->get("kept"), nullptr);
  EXPECT_EQ(setOf(root)->get("kept")->getInt32(), 7);
  EXPECT_EQ(setOf(root)->get("gone"), nullptr);
  EXPECT_NE(setOf(root)->get("Infinity"), nullptr);
  EXPECT_NE(setOf(root)->get("undefined"), nullptr);
}

TEST(Interp, DefineWithoutFunctionScopeIs113) {
  ObjRef root(new VarSet());
  setOf(root)->setScopeKind(AbstractVarSet::kBlockScope);
  ObjRef registered = Parser::buildRootVarSet();  // registers the prototypes
  std::string err = run("var a = 1;", root);
  EXPECT_NE(err.find("No proper stack frame"), std::string::npos) << err;
  EXPECT_EQ(run("let b = 1;", root), "");
}

TEST(Interp, EvaluateGivesAssignableForPlaces) {
  ObjRef root = Parser::buildRootVarSet();
  ASSERT_TRUE(setOf(root)->define("v", new Any(5)));
  Parser parser("t", "v", setOf(root), 1, 1, false);
  ASSERT_TRUE(parser.parse());
  parser.setScopes(setOf(root));
  Any* result = nullptr;
  ASSERT_TRUE(parser.expressionTree()->evaluate(&parser, &result));
  std::unique_ptr<Any> holder(result);
  ASSERT_EQ(result->getType(), ANY_REF);
  auto* assignable = dynamic_cast<Assignable*>(result->getRefTarget());
  ASSERT_NE(assignable, nullptr);
  Any* read = nullptr;
  ASSERT_EQ(assignable->get(&parser, &read), 0);
  EXPECT_EQ(read->getInt32(), 5);
  delete read;
  ASSERT_EQ(assignable->set(&parser, new Any(9)), 0);
  EXPECT_EQ(setOf(root)->get("v")->getInt32(), 9);
  // The data model reads the slot through the hook.
  int value = 0;
  ASSERT_TRUE(result->convertToInt32(&parser, value));
  EXPECT_EQ(value, 9);
  std::unique_ptr<Any> plain(parser.purifyAssignable(result));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->getType(), ANY_INT32);
  EXPECT_EQ(plain->getInt32(), 9);
  parser.setScopes(nullptr);
}

TEST(Interp, ObjectAssignableCannotBeWritten) {
  ObjRef root = Parser::buildRootVarSet();
  Parser parser("t", "[1, 2]", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parse());
  parser.setScopes(setOf(root));
  Any* result = nullptr;
  ASSERT_TRUE(parser.expressionTree()->evaluate(&parser, &result));
  std::unique_ptr<Any> holder(result);
  auto* assignable = dynamic_cast<Assignable*>(result->getRefTarget());
  ASSERT_NE(assignable, nullptr);
  EXPECT_EQ(assignable->set(&parser, new Any(1)), 100);
  parser.setScopes(nullptr);
}

TEST(Registry, LookupsByIdAndName) {
  ObjRef registered = Parser::buildRootVarSet();
  Translatable* arrays = Parser::findPrototype(OBJ_ANYARRAY_ID);
  ASSERT_NE(arrays, nullptr);
  EXPECT_TRUE(arrays->isPrototype());
  std::unique_ptr<Any> byName(Parser::findPrototypeByName("Array"));
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(byName->getRefTarget(), arrays);
  AnyArray sample;
  EXPECT_TRUE(Parser::isFunctionOf(&sample, "concat"));
  EXPECT_FALSE(Parser::isFunctionOf(&sample, "join"));
  // The alias does not answer for the id: "String" is an alias of Any.
  EXPECT_STREQ(Parser::findObjectName(OBJ_ANY_ID), "String");
  EXPECT_NE(Parser::findPrototype(OBJ_ANY_ID), nullptr);
  EXPECT_EQ(Parser::findPrototype(424242), nullptr);
  // The prefix of Java class names is dropped.
  auto* proto = new VarSet();
  ObjRef keep(proto);
  Parser::registerObject(424242, "vesk.wf.var.api.Thing", proto, false);
  EXPECT_EQ(Parser::findPrototype(424242), proto);
  std::unique_ptr<Any> thing(Parser::findPrototypeByName("Thing"));
  EXPECT_NE(thing, nullptr);
}

TEST(Limits, OffByDefaultAndStepBudget) {
  ObjRef root = Parser::buildRootVarSet();
  const char* loop = "var n = 0; while (n < 100000) { n++; }";
  {
    Parser parser("t", loop, nullptr, 1, 1, false);
    ASSERT_TRUE(parser.parseScript());
    EXPECT_NE(parser.executeScript(nullptr, setOf(root)), 0);
  }
  Parser parser("t", loop, nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parseScript());
  parser.setStepBudget(500);
  EXPECT_EQ(parser.executeScript(nullptr, setOf(root)), 0);
  ASSERT_NE(parser.getError(), nullptr);
  EXPECT_EQ(parser.getError()->type(), Error::RANGE_ERROR);
  EXPECT_EQ(parser.getError()->code(), 13);
  EXPECT_GE(parser.stepsUsed(), 500);
}

TEST(Limits, DeadlineEndsEndlessLoop) {
  ObjRef root = Parser::buildRootVarSet();
  Parser parser("t", "var f = function () { return 1; }; while (true) { f(); }", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parseScript());
  auto start = std::chrono::steady_clock::now();
  parser.setDeadline(start + std::chrono::milliseconds(50));
  EXPECT_EQ(parser.executeScript(nullptr, setOf(root)), 0);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(5));
  ASSERT_NE(parser.getError(), nullptr);
  EXPECT_EQ(parser.getError()->code(), 13);
}

TEST(Limits, EmbeddingFlagStopsLoops) {
  // A flag bit of the embedding ends loops as well as statement lists.
  ObjRef root = Parser::buildRootVarSet();
  Parser parser("t", "var n = 0; while (true) { n++; }", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parseScript());
  parser.setFlags(8);
  EXPECT_NE(parser.executeScript(nullptr, setOf(root)), 0);
  EXPECT_EQ(parser.flags(), 8);
  // A loop entered with the flag pending runs the first statement of its
  // body once, as a statement list does, whatever form its statements take.
  for (const char* script : {"for (var k = 0; true; k++) { a = a + 1; b = b + 1; }", "while (true) { a++; b++; }"}) {
    ObjRef set = Parser::buildRootVarSet();
    auto* vars = static_cast<VarSet*>(set.getTarget());
    Any a(0);
    Any b(0);
    ASSERT_TRUE(vars->defineValue("a", a));
    ASSERT_TRUE(vars->defineValue("b", b));
    Parser loop("t", script, nullptr, 1, 1, false);
    ASSERT_TRUE(loop.parseScript());
    loop.setFlags(8);
    EXPECT_NE(loop.executeScript(nullptr, setOf(set)), 0) << script;
    EXPECT_EQ(vars->VarSet::get("a")->getInt32(), 1) << script;
    EXPECT_EQ(vars->VarSet::get("b")->getInt32(), 0) << script;
  }
}

TEST(Limits, SizeBoundsAndWorkCharges) {
  ObjRef root = Parser::buildRootVarSet();
  struct Case {
    const char* script;
    int code;
  } cases[] = {
      {"var s = \"x\"; var i; for (i = 0; i < 40; i++) { s = s + s; }", 39},
      {"var a = [1]; var i; for (i = 0; i < 40; i++) { a = a.concat(a); }", 39},
      {"var a = Array.of(100000000);", 39},
      {"var s = \"ab\"; var i; for (i = 0; i < 40; i++) { s = s.replace(\"\", \"xy\"); }", 39},
      // Work inside one loop turn is charged too: the budget ends it.
      {"var s = \"x\"; var i; for (i = 0; i < 16; i++) { s = s + s; }"
       "while (true) { var t = s + s + s + s + s + s + s + s; }", 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Parser parser("t", c.script, nullptr, 1, 1, false);
    ASSERT_TRUE(parser.parseScript());
    parser.setMaxTextLength(1 << 20);
    parser.setMaxArrayLength(1 << 16);
    parser.setStepBudget(2000);
    EXPECT_EQ(parser.executeScript(nullptr, setOf(root)), 0);
    ASSERT_NE(parser.getError(), nullptr);
    EXPECT_EQ(parser.getError()->code(), c.code) << parser.getError()->text();
  }
}

TEST(Limits, CallDepthSettable) {
  ObjRef root = Parser::buildRootVarSet();
  Parser parser("t", "function f(n) { return n == 0 ? 0 : f(n - 1); }; var r = f(50);", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parseScript());
  parser.setMaxCallDepth(20);
  EXPECT_EQ(parser.executeScript(nullptr, setOf(root)), 0);
  EXPECT_EQ(parser.getError()->code(), 39);
}

// Deep recursion and the deepest accepted expression, evaluated on a thread
// with the 1 MB stack of a Java thread, end in errors or results, never in a
// stack overflow.
void* deepWork(void* arg) {
  auto* failures = static_cast<std::string*>(arg);
  ObjRef root = Parser::buildRootVarSet();
  {
    Parser parser("t", "function f(n) { var a = [n, {\"k\": n}]; return f(n + 1) + 1; }; f(0);", nullptr, 1, 1,
                  false);
    if (!parser.parseScript()) *failures += "parse; ";
    if (parser.executeScript(nullptr, setOf(root)) != 0) *failures += "runaway recursion succeeded; ";
    if (parser.getError() == nullptr || parser.getError()->code() != 39) *failures += "wrong recursion error; ";
  }
  {
    std::string deep = "1";
    for (int i = 0; i < Parser::kMaxTreeHeight - 2; i++) deep = "(" + deep + "+1)";
    Parser parser("t", deep, nullptr, 1, 1, false);
    if (parser.parse()) {
      Any* result = nullptr;
      if (!parser.executeExpression(nullptr, setOf(root), &result)) {
        if (parser.getError() == nullptr || parser.getError()->code() != 39) *failures += "deep expression; ";
      }
      delete result;
    }
  }
  return nullptr;
}

TEST(Limits, DeepRecursionOnSmallStack) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1024 * 1024);
  pthread_t thread;
  std::string failures;
  ASSERT_EQ(pthread_create(&thread, &attr, deepWork, &failures), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
  EXPECT_EQ(failures, "");
}

TEST(Interp, OneTreeRunsManyTimes) {
  // Thousands of executions of one parsed tree: the sanitizer build checks
  // that nothing leaks between them.
  ObjRef root = Parser::buildRootVarSet();
  MemoryFile out;
  Parser parser("t",
                "var list = [1, \"two\", {\"k\": [3]}]; function f(x) { return x + \"!\"; };"
                "var s = f(list.join(\"-\")); var parts = s.split(\"-\"); var o = {\"a\": parts};"
                "o.a[0] = s.slice(1); var t = typeof nosuch; var i; for (i = 0; i < 3; i++) { s += i; }"
                "switch (s.length) { case 1: s = 1; break; default: s = s.toUpperCase(); } return [o, s];",
                nullptr, 1, 1, false);
  parser.setStandardOutput(&out);
  ASSERT_TRUE(parser.parseScript());
  for (int k = 0; k < 2000; k++) {
    ASSERT_NE(parser.executeScript(nullptr, setOf(root)), 0) << parser.getError()->text();
    std::unique_ptr<Any> value = parser.getReturnValue();
    ASSERT_NE(value, nullptr);
  }
  Parser failing("t", "var q = [1]; q[5] = 2;", nullptr, 1, 1, false);
  ASSERT_TRUE(failing.parseScript());
  for (int k = 0; k < 500; k++) {
    EXPECT_EQ(failing.executeScript(nullptr, setOf(root)), 0);
    failing.recover();
  }
}

// Runs `parser`'s script in `scope` and gives its return value's text.
std::string returned(Parser& parser, AbstractVarSet* scope) {
  if (parser.executeScript(nullptr, scope) == 0) {
    std::string error = "error " + parser.getError()->text();
    parser.recover();
    return error.substr(0, error.find('\n'));
  }
  std::unique_ptr<Any> value = parser.getReturnValue();
  if (!value) return "none";
  char* text = value->toString(&parser);
  std::string result = text != nullptr ? text : "null";
  std::free(text);
  return result;
}

TEST(Interp, LoopNamesFollowChangesMadeFromOutside) {
  // One tree run again and again while the embedding changes the set its
  // names lead to: a this-map, its attributes, a read-only set, a name
  // turned into a sub-set and back, a removed variable. Nothing in the
  // script itself makes or drops a scope.
  ObjRef root = Parser::buildRootVarSet();
  ObjRef scope(new VarSet());
  auto* set = static_cast<VarSet*>(scope.getTarget());
  set->setParent(setOf(root));
  ASSERT_TRUE(set->define("x", new Any(1)));
  ASSERT_TRUE(setOf(root)->define("r", new Any(0)));
  ASSERT_TRUE(setOf(root)->define("i", new Any(0)));
  Parser parser("t", "r = 0; for (i = 0; i < 3; i++) { r = r + x; } return r;", nullptr, 1, 1, false);
  ASSERT_TRUE(parser.parseScript());
  EXPECT_EQ(returned(parser, set), "3");

  auto* map = new Attributes();
  map->addAttribute("x", new Any(10));
  set->setThis(map);
  EXPECT_EQ(returned(parser, set), "30");
  map->addOrSetAttribute("x", new Any(20));
  EXPECT_EQ(returned(parser, set), "60");
  set->clearThis();
  EXPECT_EQ(returned(parser, set), "3");

  // Read-only: reads still reach its variables.
  set->setReadOnly(true);
  EXPECT_EQ(returned(parser, set), "3");
  set->setReadOnly(false);

  ObjRef sub(new VarSet());
  ASSERT_TRUE(set->define("x", static_cast<AbstractVarSet*>(sub.getTarget())));
  EXPECT_EQ(returned(parser, set), "error TypeError: Operand illegal for math operation");  // a set plus a number
  ASSERT_TRUE(set->define("x", new Any(2)));
  EXPECT_EQ(returned(parser, set), "6");
  set->clear("x");
  ASSERT_TRUE(setOf(root)->define("x", new Any(4)));
  EXPECT_EQ(returned(parser, set), "12");
  set->clear("x");  // no longer here: the root's stays
  EXPECT_EQ(returned(parser, set), "12");
  setOf(root)->clear("x");
  EXPECT_EQ(returned(parser, set), "error ReferenceError: Variable not defined");
}

TEST(Interp, ExecutionsOnSeveralThreadsAtOnce) {
  // Each thread runs its own parser and root set at the same time as the
  // others (remembered names, call scopes and their cached blocks are per
  // tree or per thread; the shape epoch is shared); then the sets made on
  // the threads that ended are used and released here.
  constexpr int kThreads = 4;
  const char* script =
      "function add(a, b) { let c = a + b; return c % 1000; };"
      "var s = 0; for (var i = 0; i < 300; i++) { s = add(s, i); { let t = s; s = t + 1; } }"
      "var o = {\"n\": 0}; var a = [0, 0]; for (var j = 0; j < 50; j++) { o.n = o.n + j; a[j % 2] = a[j % 2] + j; }"
      "return [s, o.n, a[0], a[1]];";
  std::vector<ObjRef> roots(kThreads);
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&, t] {
      roots[t] = Parser::buildRootVarSet();
      Parser parser("t", script, nullptr, 1, 1, false);
      if (!parser.parseScript()) return;
      for (int k = 0; k < 20; k++) results[t] = returned(parser, setOf(roots[t]));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; t++) EXPECT_EQ(results[t], "[ 150, 1225, 600, 625 ]") << t;
  // The top-level variables of a set made on another thread, read here
  // (the results agree with node).
  Parser reader("t", "return add(s, 1);", nullptr, 1, 1, false);
  ASSERT_TRUE(reader.parseScript());
  EXPECT_EQ(returned(reader, setOf(roots[0])), "151");
  roots.clear();
}

TEST(Interp, NativeAndShadowFunctions) {
  NativeFunction native;
  Any* out = nullptr;
  EXPECT_EQ(native.call(nullptr, nullptr, nullptr, &out), 86);
  ASSERT_EQ(native.getField(nullptr, &out, "prototype"), 0);
  EXPECT_TRUE(out->isUndefined());
  delete out;
}

}  // namespace
