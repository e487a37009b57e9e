// JavaObjectReference: a native value that stands for a Java object handed to
// kel or kept in an attribute (a Java object reference, object ids 20000 and
// above, and 30000 for a reference made from an Attribute). It holds a global
// reference, released on a Java worker when the wrapper is destroyed (on
// whatever thread). Kel scripts reach the object's fields and methods
// through the Java helpers of com.vesk.orvanex.kel.Parser.
// Not synchronised: one thread at a time, as every value.
#pragma once

#include <jni.h>

#include "model/translatable.h"

class JavaObjectReference : public Translatable {
 public:
  static constexpr int kAttributeObjectId = 30000;
  static constexpr int kFirstJavaObjectId = 20000;

  // Takes a new global reference to `obj`.
  JavaObjectReference(JNIEnv* env, jobject obj, int objectId);
  ~JavaObjectReference() override;
  JavaObjectReference(const JavaObjectReference&) = delete;
  JavaObjectReference& operator=(const JavaObjectReference&) = delete;

  // The global reference (owned by this object).
  [[nodiscard]] jobject object() const { return object_; }

  int getObjectID() const override { return objectId_; }
  [[nodiscard]] bool copyToJavaAsRef() const override { return true; }
  // Another reference to the same Java object.
  int clone(const Principal* principal, Translatable** out) const override;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  // The toJSON member of the object's registered prototype (the Java
  // object's toString() when that gives no text); "<ERROR>" when the class
  // has no registered prototype.
  char* toString(Parser* parser) override;
  // Member fields through Parser.fieldHelper; a Java NotImplementedException
  // falls back to the base lookup.
  int getField(Parser* parser, Any** result, const char* name) const override;

 private:
  jobject object_;
  int objectId_;
};
