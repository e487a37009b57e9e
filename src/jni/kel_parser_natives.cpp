// The natives of com.vesk.orvanex.kel.Parser and kel.Strings: compiling and
// running kel texts from Java. Every execution, evaluation and expansion
// holds the process-wide kel turn (KelTurn); a Parser handle is used by one
// Java thread at a time.
#include "jni/kel_parser_natives.h"

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/convert.h"
#include "jni/java_env.h"
#include "jni/java_exceptions.h"
#include "jni/java_prototype.h"
#include "jni/java_string.h"
#include "jni/kel_bridge.h"
#include "kel/abstract_var_set.h"
#include "kel/error.h"
#include "kel/output.h"
#include "kel/parser.h"
#include "kel/prototype_registry.h"
#include "kel/string_expand.h"
#include "model/any.h"

namespace {

constexpr const char* kNoneSupplied = "none-supplied";

Parser* parserOf(JNIEnv* env, jobject self) { return nativePtr<Parser>(env, self, _parserNativePtr); }
MemoryFile* stdoutOf(JNIEnv* env, jobject self) {
  return nativePtr<MemoryFile>(env, self, _parserNativePtrStdout);
}
MemoryFile* traceOf(JNIEnv* env, jobject self) {
  return nativePtr<MemoryFile>(env, self, _parserNativePtrTraceout);
}

std::string textField(JNIEnv* env, jobject self, jfieldID field) {
  auto s = static_cast<jstring>(env->GetObjectField(self, field));
  std::string out;
  if (s == nullptr || !javaStringToUtf8(env, s, &out)) out = kNoneSupplied;
  if (s != nullptr) env->DeleteLocalRef(s);
  return out;
}

// 44 ("handle closed") for a call on a closed parser.
bool requireParser(JNIEnv* env, Parser* p) {
  if (p != nullptr) return true;
  throwDirectoryException(env, 44);
  return false;
}

// ---- Parser

void p_open(JNIEnv* env, jobject self, jboolean scriptlet) {
  const std::string code = textField(env, self, _parserCode);
  const std::string source = textField(env, self, _parserSource);
  jobject vs = env->GetObjectField(self, _parserVs);
  ObjRef set;
  const bool hasSet = nativeVarSetOf(env, vs, &set);
  if (vs != nullptr) env->DeleteLocalRef(vs);
  auto parser = std::make_unique<Parser>(source.c_str(), code,
                                         hasSet ? static_cast<AbstractVarSet*>(set.getTarget()) : nullptr, 1,
                                         1, scriptlet == JNI_TRUE);
  auto out = std::make_unique<MemoryFile>();
  parser->setStandardOutput(out.get());
  setNativePtr(env, self, _parserNativePtrStdout, out.release());
  setNativePtr(env, self, _parserNativePtr, parser.release());
}

// The Java close clears _nativePtr and hands its value here; the two memory
// files are read (and cleared) from the object.
void p_close(JNIEnv* env, jobject self, jlong p) {
  std::unique_ptr<Parser> parser(reinterpret_cast<Parser*>(static_cast<intptr_t>(p)));
  if (parser == nullptr) return;
  std::unique_ptr<MemoryFile> out(stdoutOf(env, self));
  std::unique_ptr<MemoryFile> trace(traceOf(env, self));
  setNativePtr(env, self, _parserNativePtrStdout, nullptr);
  setNativePtr(env, self, _parserNativePtrTraceout, nullptr);
  parser.reset();  // before the files it writes to
}

template <class Op>
jobject parseWith(JNIEnv* env, jobject self, Op op) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return nullptr;
  JavaThreadScope scope(env);
  Any* value = op(p);
  return makeKelResult(env, *p, value, false, stdoutOf(env, self), traceOf(env, self));
}

jobject p_parse(JNIEnv* env, jobject self) {
  return parseWith(env, self, [](Parser* p) -> Any* {
    (void)p->parse();
    return nullptr;
  });
}
jobject p_parseScript(JNIEnv* env, jobject self) {
  return parseWith(env, self, [](Parser* p) -> Any* {
    (void)p->parseScript();
    return nullptr;
  });
}
jobject p_parseJSON(JNIEnv* env, jobject self) {
  return parseWith(env, self, [](Parser* p) { return p->parseJSON(); });
}

// The set a run uses: the given one, else the parser's root, else a fresh
// root set with the built-ins.
ObjRef runSet(JNIEnv* env, Parser* p, jobject vars) {
  ObjRef set;
  if (nativeVarSetOf(env, vars, &set)) return set;
  if (p->rootScope() != nullptr) {
    set.set(p->rootScope());
    return set;
  }
  return Parser::buildRootVarSet();
}

jobject p_executeScript(JNIEnv* env, jobject self, jobject principal, jobject vars) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return nullptr;
  JavaThreadScope scope(env);
  MemoryFile* out = stdoutOf(env, self);
  std::unique_ptr<Any> value;
  {
    KelTurn turn;
    ObjRef set = runSet(env, p, vars);
    // A text given to run that was never parsed is parsed first.
    if (p->scriptTree() == nullptr && !p->hasError()) (void)p->parseScript();
    if (!p->hasError())
      (void)p->executeScript(nativePrincipalOf(env, principal),
                             static_cast<AbstractVarSet*>(set.getTarget()));
    // The script's value is its own copy of what it printed.
    value = std::make_unique<Any>(out != nullptr ? out->text().c_str() : "");
  }
  return makeKelResult(env, *p, value.release(), true, out, traceOf(env, self));
}

jobject p_executeExpression(JNIEnv* env, jobject self, jobject principal, jobject vars) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return nullptr;
  JavaThreadScope scope(env);
  Any* result = nullptr;
  {
    KelTurn turn;
    ObjRef set = runSet(env, p, vars);
    if (p->expressionTree() == nullptr && !p->hasError()) (void)p->parse();
    if (!p->hasError() && !p->executeExpression(nativePrincipalOf(env, principal),
                                                static_cast<AbstractVarSet*>(set.getTarget()), &result)) {
      delete result;
      result = nullptr;
    }
  }
  return makeKelResult(env, *p, result, false, stdoutOf(env, self), traceOf(env, self));
}

jobject p_buildRootVarSet(JNIEnv* env, jobject self) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return nullptr;
  auto* ref = p->rootScope() != nullptr ? new ObjRef(p->rootScope()) : new ObjRef(Parser::buildRootVarSet());
  jobject o = env->NewObject(_CVariableSetClass, _cVariableSetCreate, reinterpret_cast<jlong>(ref));
  if (o == nullptr) delete ref;
  return o;
}

// The registered name of a Java class: the text after its first '.', or
// after the '$' of a nested class (the registry drops the prefix of the
// workflow API package, leaving its simple names).
std::string prototypeName(const std::string& className) {
  const size_t dollar = className.find('$');
  if (dollar != std::string::npos) return className.substr(dollar + 1);
  const size_t dot = className.find('.');
  return dot == std::string::npos ? className : className.substr(dot + 1);
}

void p_registerPrototype(JNIEnv* env, jobject, jclass cls) {
  if (cls == nullptr) return;
  jfieldID f = env->GetStaticFieldID(cls, "objectID", "I");
  if (f == nullptr || env->ExceptionCheck()) {
    env->ExceptionClear();
    log(0, "Java: javaToAnyForKel: no objectID field. cannot register");
    return;
  }
  const int id = env->GetStaticIntField(cls, f);
  auto name = static_cast<jstring>(env->CallObjectMethod(cls, _classGetName));
  std::string className;
  if (ORV_TEST_EXCEPTION(env) != 0 || !javaStringToUtf8(env, name, &className)) return;
  env->DeleteLocalRef(name);
  const std::string registered = prototypeName(className);
  // The registry must not change while a script runs.
  KelTurn turn;
  auto* prototype = new JavaPrototype(env, cls, id);
  PrototypeRegistry::registerObject(id, registered.c_str(), prototype, false);
  if (prototype->refCount == 0) delete prototype;  // an entry of that id and name was there already
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: registered the prototype %s (%d)", registered.c_str(), id);
}

void p_defineMtsString(JNIEnv* env, jobject, jobject vars, jstring name, jobject mts) {
  ObjRef set;
  std::string n;
  if (!nativeVarSetOf(env, vars, &set) || !javaStringToUtf8(env, name, &n) || mts == nullptr) {
    throwDirectoryException(env, 24);
    return;
  }
  const jint type = env->CallIntMethod(mts, _mtsGetType);
  if (env->ExceptionCheck()) return;  // the caller's exception
  auto value = static_cast<jstring>(env->CallObjectMethod(mts, _mtsGetValue));
  if (env->ExceptionCheck()) return;
  // A subtype must fit the value's type word: a larger one is the caller's error.
  if (type < 0 || type >= 0xFFFF) {
    throwDirectoryException(env, 24, "MultiTypeString type out of range");
    return;
  }
  std::string text;
  const bool present = javaStringToUtf8(env, value, &text);
  if (value != nullptr) env->DeleteLocalRef(value);
  auto* any = new Any(present ? text.c_str() : nullptr);
  any->setSubtype(type);
  KelTurn turn;
  (void)static_cast<AbstractVarSet*>(set.getTarget())->define(n.c_str(), any);
}

void p_setLogLevel(JNIEnv* env, jobject self, jint level) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return;
  if (level < _debug_kel) p->setDebugLevel(level);
  std::unique_ptr<MemoryFile> old(traceOf(env, self));
  auto trace = std::make_unique<MemoryFile>();
  p->setTraceStream(trace.get());
  setNativePtr(env, self, _parserNativePtrTraceout, trace.release());
}

void p_setFlags(JNIEnv* env, jobject self, jint bits) {
  Parser* p = parserOf(env, self);
  if (!requireParser(env, p)) return;
  p->setFlags(p->flags() | bits);
}

#define M(name, sig, fn) \
  { const_cast<char*>(name), const_cast<char*>(sig), reinterpret_cast<void*>(fn) }

const JNINativeMethod kParser[] = {
    M("open", "(Z)V", p_open),
    M("close", "(J)V", p_close),
    M("parse", "()Lcom/vesk/orvanex/kel/Result;", p_parse),
    M("parseScript", "()Lcom/vesk/orvanex/kel/Result;", p_parseScript),
    M("parseJSON", "()Lcom/vesk/orvanex/kel/Result;", p_parseJSON),
    M("executeScript",
      "(Lcom/vesk/orvanex/Principal;Lcom/vesk/orvanex/kel/AbstractVariableSet;)Lcom/vesk/orvanex/kel/Result;",
      p_executeScript),
    M("executeExpression",
      "(Lcom/vesk/orvanex/Principal;Lcom/vesk/orvanex/kel/AbstractVariableSet;)Lcom/vesk/orvanex/kel/Result;",
      p_executeExpression),
    M("buildRootVarSet", "()Lcom/vesk/orvanex/kel/CVariableSet;", p_buildRootVarSet),
    M("registerPrototype", "(Ljava/lang/Class;)V", p_registerPrototype),
    M("defineMtsString",
      "(Lcom/vesk/orvanex/kel/AbstractVariableSet;Ljava/lang/String;Lcom/vesk/orvanex/MultiTypeString;)V",
      p_defineMtsString),
    M("setLogLevel", "(I)V", p_setLogLevel),
    M("setFlags", "(I)V", p_setFlags),
};

// ---- Strings

jobject stringsResult(JNIEnv* env, bool ok, const Error* error, Any* value, MemoryFile& out,
                      MemoryFile* trace) {
  std::unique_ptr<Any> owned(value);
  jobject v = newCAny(env, owned.release());
  jobject e = error != nullptr ? makeError(env, *error) : nullptr;
  jstring o = newJavaString(env, out.take().c_str());
  jstring t = newJavaString(env, trace != nullptr ? trace->take().c_str() : "");
  jobject r = env->NewObject(_ResultClass, _resultCreate, ok ? JNI_TRUE : JNI_FALSE, v, e, o, t);
  if (r == nullptr && v != nullptr) {
    env->ExceptionClear();
    delete nativePtr<Any>(env, v, _cAnyNativePtr);
    env->SetLongField(v, _cAnyNativePtr, 0);
  }
  for (jobject x : {v, e, static_cast<jobject>(o), static_cast<jobject>(t)}) {
    if (x != nullptr) env->DeleteLocalRef(x);
  }
  return r;
}

jobject s_expand(JNIEnv* env, jclass, jobject principal, jstring name, jstring text, jobject vars, jint flags,
                 jint level) {
  std::string source, input;
  if (!javaStringToUtf8(env, name, &source) || !javaStringToUtf8(env, text, &input)) return nullptr;
  JavaThreadScope scope(env);
  MemoryFile out;
  std::unique_ptr<MemoryFile> trace(level < _debug_kel ? new MemoryFile() : nullptr);
  StringExpand expander(source.c_str(), input.c_str());
  expander.setStandardOutput(&out);
  if (trace != nullptr) {
    expander.setDebugLevel(level);
    expander.setTraceStream(trace.get());
  }
  bool ok = false;
  {
    KelTurn turn;
    ObjRef set;
    if (!nativeVarSetOf(env, vars, &set)) set = Parser::buildRootVarSet();
    ok = expander.expand(nativePrincipalOf(env, principal), static_cast<AbstractVarSet*>(set.getTarget()),
                         flags);
  }
  return stringsResult(env, ok, expander.getError(), ok ? expander.getResult() : nullptr, out, trace.get());
}

// A scriptlet text run as a script; its value is what it printed. The two
// options of the Java signature change nothing here.
jobject s_expandScriptlet(JNIEnv* env, jclass, jobject principal, jstring name, jstring text, jobject vars,
                          jboolean, jboolean, jint level) {
  std::string source, input;
  if (!javaStringToUtf8(env, name, &source) || !javaStringToUtf8(env, text, &input)) return nullptr;
  JavaThreadScope scope(env);
  MemoryFile out;
  std::unique_ptr<MemoryFile> trace(level < _debug_kel ? new MemoryFile() : nullptr);
  std::unique_ptr<Parser> parser;
  bool ok = false;
  {
    KelTurn turn;
    ObjRef set;
    if (!nativeVarSetOf(env, vars, &set)) set = Parser::buildRootVarSet();
    auto* root = static_cast<AbstractVarSet*>(set.getTarget());
    parser = std::make_unique<Parser>(source.c_str(), input, root, 1, 1, true);
    parser->setStandardOutput(&out);
    if (trace != nullptr) parser->setTraceStream(trace.get());
    if (level < _debug_kel) parser->setDebugLevel(level);
    ok = parser->parseScriptlet() && (parser->scriptTree() == nullptr ||
                                      parser->executeScript(nativePrincipalOf(env, principal), root) != 0);
    ok = ok && !parser->hasError();
  }
  Any* value = ok ? new Any(out.text().c_str()) : nullptr;
  return stringsResult(env, ok, parser->getError(), value, out, trace.get());
}

const JNINativeMethod kStrings[] = {
    M("expand",
      "(Lcom/vesk/orvanex/Principal;Ljava/lang/String;Ljava/lang/String;Lcom/vesk/orvanex/kel/"
      "AbstractVariableSet;II)"
      "Lcom/vesk/orvanex/kel/Result;",
      s_expand),
    M("expandScriptlet",
      "(Lcom/vesk/orvanex/Principal;Ljava/lang/String;Ljava/lang/String;Lcom/vesk/orvanex/kel/"
      "AbstractVariableSet;ZZI)"
      "Lcom/vesk/orvanex/kel/Result;",
      s_expandScriptlet),
};

#undef M

}  // namespace

KelNativeTable kelParserNatives() { return {"com/vesk/orvanex/kel/Parser", kParser, 12}; }
KelNativeTable kelStringsNatives() { return {"com/vesk/orvanex/kel/Strings", kStrings, 2}; }
