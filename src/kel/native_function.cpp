#include "kel/native_function.h"

#include <cstdlib>
#include <cstring>

#include "model/any.h"

int NativeFunction::call(Parser*, const Location*, Any**, Any** result) {
  if (result != nullptr) *result = nullptr;
  return 86;
}

int NativeFunction::getField(Parser* parser, Any** result, const char* name) const {
  if (name != nullptr && std::strcmp(name, "prototype") == 0) {
    *result = Any::createUndefined();
    return 0;
  }
  return Translatable::getField(parser, result, name);
}

char* NativeFunction::toString(Parser*) { return strdup("function (native)"); }

ShadowFunction::ShadowFunction(Translatable* prototype, Translatable* target, const char* name)
    : prototype_(prototype), target_(target), name_(name != nullptr ? name : "") {}

int ShadowFunction::call(Parser* parser, const Location*, Any** args, Any** result) {
  if (prototype_ == nullptr) {
    *result = nullptr;
    return 111;
  }
  return prototype_->callMemberFn(parser, result, target_.getTarget(), name_.c_str(), args);
}

int ShadowFunction::getField(Parser* parser, Any** result, const char* name) const {
  if (name != nullptr && std::strcmp(name, "name") == 0) {
    *result = new Any(name_.c_str());
    return 0;
  }
  return Translatable::getField(parser, result, name);
}

char* ShadowFunction::toString(Parser*) { return strdup((name_ + " (native)").c_str()); }
