// Conversion of an attribute set whose values are texts (the configuration,
// for one) into a Java com.vesk.orvanex.Attributes. Values of other kinds are
// left out; the general converter of the Java bridge covers every kind.
// Runs on the calling thread's JNIEnv.
#pragma once

#include <jni.h>

class Attributes;

// A new Java Attributes holding, in list order, one com.vesk.orvanex.Attribute
// text value per text attribute, with the attribute's display hint as its
// flags. Null with a Java exception pending on failure.
[[nodiscard]] jobject textAttributesToJava(JNIEnv* env, const Attributes& attrs);
