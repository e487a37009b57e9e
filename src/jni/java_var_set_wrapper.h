// JavaAbstractVariableSetWrapper: a kel variable set over a Java
// AbstractVariableSet that is not a CVariableSet, so that a script can run
// against variables a Java class keeps. Reads ask Java (isDefined,
// getVariable) and keep the converted value until the next read of that
// name; writes convert the value and call setVariable/defineVariable. Names
// Java does not know fall to the parent (the built-ins of a root set). It
// holds a global reference to the Java set, released on a Java worker.
// Used by one kel execution at a time (kel from Java is serialised).
#pragma once

#include <jni.h>

#include <map>
#include <memory>
#include <string>

#include "kel/abstract_var_set.h"
#include "model/obj_ref.h"

class JavaAbstractVariableSetWrapper : public AbstractVarSet {
 public:
  // `parent` may be null.
  JavaAbstractVariableSetWrapper(JNIEnv* env, jobject javaSet, AbstractVarSet* parent);
  ~JavaAbstractVariableSetWrapper() override;
  JavaAbstractVariableSetWrapper(const JavaAbstractVariableSetWrapper&) = delete;
  JavaAbstractVariableSetWrapper& operator=(const JavaAbstractVariableSetWrapper&) = delete;

  void setReadOnly(bool readOnly) override { readOnly_ = readOnly; }
  AbstractVarSet* getSubSet(const char* name) override;
  // Sub-sets cannot be stored into a Java set: false.
  bool set(const char* name, AbstractVarSet* subSet) override;
  bool define(const char* name, AbstractVarSet* subSet) override;
  Any* get(const char* name) override;
  bool set(const char* name, Any* value) override;
  bool define(const char* name, Any* value) override;
  // Java sets have no removal: the variable is set to null.
  void clear(const char* name) override;
  void clear() override {}
  void setThis(Attributes* map) override;
  void clearThis() override { this_.set(nullptr); }
  Attributes* getThis() override;
  // Java sets do not list their names: an empty list.
  char** getLocalVariables() override;
  char* toString(Parser* parser) override;

 private:
  jobject javaSet_;
  bool readOnly_ = false;
  ObjRef this_;
  // The last value read per name (get hands out a pointer it keeps).
  std::map<std::string, std::unique_ptr<Any>> values_;
  std::map<std::string, ObjRef> subSets_;
};
