// Conversion of values between Java and the data model. Scalars map to the
// boxed Java classes; Attributes, AnyArray, DirName, DirNameEntry and Acl have
// Java forms of their own; any other native object with a wire encoding is
// encoded with its own translator and its numbered fields copied by
// reflection into the declared fields of the Java class registered for its
// object id (and back: a Java class with a static int objectID is encoded
// field by field; a Serializable one without it travels in Java serialised
// form, object 101).
//
// Every function runs on the thread that owns `env`, deletes the local
// references it makes except the one it returns, and tests for a pending Java
// exception after each Java call (orvTestException), failing when there was
// one. A null input gives a null output and success. Status codes: 0, 17 no
// Java/object mapping, 18 marshall error, 25 unexpected Java exception, 26 no
// default constructor, 28 I/O error.
#pragma once

#include <jni.h>

class Acl;
class Any;
class Attributes;
class DirName;
class DirNameEntry;
class JavaObject;
class Translatable;

// An Any as a Java object (Boolean, Integer, Long, Float, Double, String,
// Attributes, AttributeArray, or the reflective copy); *out written on success.
[[nodiscard]] int toJavaObject(JNIEnv* env, jobject* out, const Any* any);
// A Java object as a new Any (null gives a null pointer); *out written on success.
[[nodiscard]] int toCObject(JNIEnv* env, jobject obj, Any** out);

// An Any as a com.vesk.orvanex.Attribute (null for ANY_NULL and on failure).
[[nodiscard]] jobject makeObjectFromAny(JNIEnv* env, const Any* any);
// An Attribute as a new Any (null on failure).
[[nodiscard]] Any* unmakeObjectFromAny(JNIEnv* env, jobject attribute);

[[nodiscard]] jobject makeAttributes(JNIEnv* env, const Attributes* attrs);
// Null on failure (the partial result is discarded).
[[nodiscard]] Attributes* unmakeAttributes(JNIEnv* env, jobject obj);

[[nodiscard]] jobject makeDirName(JNIEnv* env, const DirName* name);
[[nodiscard]] jobject makeDirNameEntry(JNIEnv* env, const DirNameEntry* entry);
[[nodiscard]] DirNameEntry* unmakeDirNameEntry(JNIEnv* env, jobject obj);
[[nodiscard]] DirName* unmakeDirName(JNIEnv* env, jobject obj);

[[nodiscard]] jobject makeAcl(JNIEnv* env, const Acl* acl);
[[nodiscard]] Acl* unmakeAcl(JNIEnv* env, jobject obj);

// Scalars only: an ANY_INT64 of subtype 13 becomes a java.util.Date, other
// integers and texts an Attribute with the subtype as its type. 18 for a
// value that is not a scalar.
[[nodiscard]] int anyToJavaAttribute(JNIEnv* env, const Any* any, jobject* out);
[[nodiscard]] int javaAttributeToAny(JNIEnv* env, jobject obj, Any** out);

// Opaque Java objects (object 2431): Java serialised bytes held natively.
[[nodiscard]] int cToOpaqueJavaObject(JNIEnv* env, const JavaObject* object, jobject* out);
[[nodiscard]] int opaqueJavaObjectToC(JNIEnv* env, jobject obj, JavaObject** out);

// Java serialisation: the bytes of `obj` as a new byte array, and back.
[[nodiscard]] jbyteArray serializeJavaObject(JNIEnv* env, jobject obj);
[[nodiscard]] jobject deserializeJavaObject(JNIEnv* env, const char* bytes, size_t length);

// A new Java string from a native text (null stays null).
[[nodiscard]] jstring toJavaString(JNIEnv* env, const char* text);

// ---- values handed to and from kel scripts
// A Java object as a new kel value: null as ANY_NULL; Boolean, Integer,
// Long, Float, Double, String as scalars; CAny as a copy of its value;
// CAnyMap, CAnyArray and KelMapCImpl as a reference sharing their native
// container; Attribute through javaAttributeToAny; Attributes as a new map;
// java.util.Date as a kel date; a Java array as a kel array of its elements;
// any other object with a static int objectID (or kelOnlyObjectID) as a
// JavaObjectReference. Null when the object cannot be converted.
[[nodiscard]] Any* javaToAnyForKel(JNIEnv* env, jobject obj);
// A kel value as a Java object: maps and arrays as CAnyMap/CAnyArray handles
// sharing them, dates as java.util.Date, patterns as a VeskPattern, wrapped
// Java objects as themselves, typed scalars as Attributes, other scalars
// boxed. Null for null, undefined and what has no Java form.
[[nodiscard]] jobject anyToJavaForKel(JNIEnv* env, const Any* any);
// As anyToJavaForKel, but a native object without a Java form becomes a
// kel.CObjRef handle sharing it. 18 for a value kel cannot hand over.
[[nodiscard]] int kelToJavaObject(JNIEnv* env, jobject* out, const Any* any);
// The reverse: a CObjRef gives back its native object; anything else goes
// through javaToAnyForKel (17 when that fails).
[[nodiscard]] int kelToCObject(JNIEnv* env, jobject obj, Any** out);
