// JavaPrototype: the kel prototype of one Java class registered from Java
// (Parser.registerPrototype). kel calls to members of that class's objects
// (JavaObjectReferences) go to the static Java method Parser.callHelper with
// the target, the principal, the member name and the converted arguments;
// the returned object comes back as a kel value. A Java exception fails the
// call with its directory error code (25 for other exceptions).
// It holds a global reference to the class, released on a Java worker.
// Stateless after construction: usable from any attached thread.
#pragma once

#include <jni.h>

#include "model/translatable.h"

class JavaPrototype : public Translatable {
 public:
  JavaPrototype(JNIEnv* env, jclass cls, int objectId);
  ~JavaPrototype() override;
  JavaPrototype(const JavaPrototype&) = delete;
  JavaPrototype& operator=(const JavaPrototype&) = delete;

  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  [[nodiscard]] bool isPrototype() const override { return true; }
  [[nodiscard]] int getObjectID() const override { return objectId_; }
  char* toString(Parser* parser) override;

 private:
  jclass class_;
  int objectId_;
};

// The directory error code of a Java exception thrown into kel: its own
// getErrorCode() for a DirectoryException, or that of the cause of an
// InvocationTargetException; otherwise `what` and a warning are logged and
// the code is 25. The exception is logged with `what` and cleared.
[[nodiscard]] int javaCallFailure(JNIEnv* env, jthrowable t, const char* what);
