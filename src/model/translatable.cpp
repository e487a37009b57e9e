#include "model/translatable.h"

#include <cstdlib>
#include <cstring>

#include "foundation/log.h"
#include "model/any.h"
#include "model/obj_ref.h"
#include "model/script_hooks.h"


int Translatable::callMemberFn(Parser*, Any** result, Translatable*, const char*, Any**) {
  if (result) *result = nullptr;
  return 111;
}

int Translatable::call(Parser*, const Location*, Any**, Any** result) {
  if (result) *result = nullptr;
  return 108;
}

int Translatable::getField(Parser* parser, Any** result, const char* name) const {
  *result = nullptr;
  if (name && strcmp(name, "prototype") == 0 && getObjectID() != -1) {
    const ScriptHooks& hooks = scriptHooks();
    Translatable* prototype = (parser && hooks.prototypeFor) ? hooks.prototypeFor(parser, getObjectID()) : nullptr;
    *result = prototype ? new Any(new ObjRef(prototype)) : Any::createUndefined();
    return 0;
  }
  return 50;
}

int Translatable::setField(Parser*, const char*, Any* value) {
  delete value;
  return 21;
}

int Translatable::getArrayElement(Parser*, Any** result, const Any*) const {
  *result = nullptr;
  return 21;
}

int Translatable::setArrayElement(Parser*, const Any*, Any* value) {
  delete value;
  return 21;
}

int Translatable::findNext(Parser*, Any** result, const Any*) {
  *result = nullptr;
  return 21;
}

char* Translatable::toString(Parser*) {
  log(0, "VIRTUAL tostring called");
  exit(1);
}

char* Translatable::toJSON(Parser* parser) { return toString(parser); }

char* Translatable::toItemText(Parser* parser) { return toString(parser); }

bool Translatable::copyToJavaAsRef() const { return false; }

int Translatable::getObjectID() const { return -1; }

bool Translatable::isAssignable() const { return false; }

bool Translatable::isPrototype() const { return false; }

int Translatable::clone(const Principal*, Translatable**) const { return 21; }

int Translatable::isEqual(const Principal*, bool*, const Translatable*) const { return 21; }

int Translatable::compareTo(const Principal*, int*, const Translatable*) const { return 21; }

int Translatable::construct(Parser*, Any** result, Translatable**) const {
  if (result) *result = nullptr;
  return 21;
}

const char* Translatable::getTypeOf(Parser*) const { return isPrototype() ? "undefined" : "object"; }

const char* Translatable::getClassOf(Parser* parser) const {
  if (isPrototype()) return "prototype";
  const ScriptHooks& hooks = scriptHooks();
  if (parser && hooks.classNameFor) {
    if (const char* name = hooks.classNameFor(parser, getObjectID())) return name;
  }
  return "object";
}
