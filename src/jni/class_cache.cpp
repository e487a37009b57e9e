#include "jni/class_cache.h"

#include <unistd.h>

#include <cstdio>

#include "foundation/log.h"
#include "jni/decode_list.h"
#include "jni/java_workers.h"

jclass _FrameworkHelperClass = nullptr;
jclass _AclClass = nullptr;
jclass _DirectoryInvocationHelper = nullptr;
jclass _AttributeClass = nullptr;
jclass _KelMapCImplClass = nullptr;
jclass _JavaAttributesClass = nullptr;
jclass _DirNameClass = nullptr;
jclass _DirNameEntryClass = nullptr;
jclass _DirectoryClass = nullptr;
jclass _DirectoryEnumerationClass = nullptr;
jclass _ClassEnumerationClass = nullptr;
jclass _DirectoryExceptionClass = nullptr;
jclass _FutureResultClass = nullptr;
jclass _FutureResultListenerClass = nullptr;
jclass _OrvanexClass = nullptr;
jclass _SearchHelperClass = nullptr;
jclass _PrincipalClass = nullptr;
jfieldID _principalNativePtr = nullptr;
jclass _DirectorySPIClass = nullptr;
jclass _DirectoryObjectClass = nullptr;
jclass _AlertClass = nullptr;
jclass _AlertListenerClass = nullptr;
jclass _DateClass = nullptr;

jclass _timeHelper = nullptr;
jmethodID _timeHelperCreate = nullptr;
jfieldID _tmHour, _tmMin, _tmSec, _tmYear, _tmMon, _tmDay, _tmDow, _tmOfs, _tmWall;
jmethodID _buildTm = nullptr;
jmethodID _buildTime = nullptr;
jmethodID _directoryInvoke = nullptr;
jobject _AclEncodedAclField = nullptr;
jfieldID _aclEncodedAclFieldId = nullptr;
jmethodID _attributesGetFlags = nullptr;
jmethodID _aclCreate = nullptr;
jmethodID _dateGetTime = nullptr;
jmethodID _dateCreate = nullptr;
jobject _LogInstance = nullptr;
jclass _LogClass = nullptr;
jmethodID _logError = nullptr;

jclass _FieldClass = nullptr;
jclass _ModifierClass = nullptr;
jint _modifierTransient = 0, _modifierFinal = 0, _modifierStatic = 0;
jclass _ObjectClass = nullptr;
jclass _ListClass = nullptr;
jclass _ClassClass = nullptr;
jmethodID _classGetName, _classIsPrimitive, _classGetDeclaredFields, _classGetDeclaredField;
jmethodID _fieldSetAccessible, _fieldGetType, _fieldGetModifiers, _fieldGetName;
jmethodID _fieldGetInt, _fieldGetBoolean, _fieldGetLong, _fieldGetFloat, _fieldGetDouble;
jmethodID _fieldSetInt, _fieldSetLong, _fieldSetFloat, _fieldSetDouble, _fieldSetBoolean;
jmethodID _fieldGet, _fieldSet;
jclass _intClass = nullptr, _longClass = nullptr, _floatClass = nullptr, _doubleClass = nullptr;

jclass _IntegerClass, _LongClass, _FloatClass, _DoubleClass, _StringClass, _BooleanClass;
jmethodID _intValue, _longValue, _doubleValue, _floatValue, _booleanValue;
jmethodID _integerCreate, _longCreate, _floatCreate, _doubleCreate, _booleanCreate;

jclass _AbstractVariableSetClass = nullptr;
jfieldID _abstractVariableSetNativePtr = nullptr;
jmethodID _abstractVariableSetCreate = nullptr;
jclass _CAnyClass = nullptr;
jfieldID _cAnyNativePtr = nullptr;
jmethodID _cAnyCreate = nullptr;
jclass _CAnyMapClass = nullptr;
jfieldID _cAnyMapNativePtr = nullptr;
jmethodID _cAnyMapCreate = nullptr;
jclass _CAnyArrayClass = nullptr;
jfieldID _cAnyArrayNativePtr = nullptr;
jmethodID _cAnyArrayCreate = nullptr;
jclass _CObjRefClass = nullptr;
jfieldID _cObjRefNativePtr = nullptr;
jmethodID _cObjRefCreate = nullptr;
jclass _TypeExceptionClass = nullptr;
jmethodID _typeExceptionCreate = nullptr;
jclass _InvocationHelperClass = nullptr;
jmethodID _invocationHelperInvoke = nullptr, _invocationHelperConstruct = nullptr;
jclass _ResultClass = nullptr;
jmethodID _resultCreate = nullptr;
jclass _KelErrorClass = nullptr;
jmethodID _kelErrorCreate = nullptr;
jclass _ParserClass = nullptr;
jfieldID _parserNativePtr, _parserNativePtrTraceout, _parserNativePtrStdout;
jfieldID _parserCode, _parserSource, _parserVs;
jmethodID _parserCallHelper, _parserFieldHelper;
jclass _LocationClass = nullptr;
jmethodID _locationCreate = nullptr;
jclass _CVariableSetClass = nullptr;
jmethodID _cVariableSetCreate = nullptr;
jclass _StringsClass = nullptr;
jclass _MultiTypeStringClass = nullptr;
jmethodID _mtsGetType = nullptr, _mtsGetValue = nullptr;
jclass _KelMapCImplClassRef = nullptr;
jfieldID _kelMapNativePtr = nullptr;
jmethodID _kelMapCreate = nullptr;
jclass _VeskPatternClass = nullptr;
jfieldID _veskPatternNativePtr = nullptr;
jmethodID _veskPatternCreate = nullptr;
jclass _KelBigDecimalClass = nullptr;
jmethodID _kelBigDecimalCreate = nullptr;
jmethodID _futureResultFireListener = nullptr;

jmethodID _attrGetBigDecimalString, _attrGetType, _attrGetMtsType, _attrSetMtsType;
jmethodID _attrGetInt32, _attrGetInt64, _attrGetFloat, _attrGetDouble, _attrGetString, _attrGetBoolean, _attrGetObject;
jmethodID _attrCreateInt, _attrCreateLong, _attrCreateFloat, _attrCreateDouble, _attrCreateBoolean, _attrCreateString,
    _attrCreateObject;

jmethodID _attributesCreate, _attributesSetAttribute, _attributesGetAttributeNames, _attributesGetAttribute;
jclass _AttributeArrayClass = nullptr;
jmethodID _attributeArrayCreate = nullptr, _attributeArrayAdd = nullptr;
jmethodID _dirNameCreate, _dirNameAppend, _dirNameSetLeadingSlash, _dirNameSetDomainLeadingSlash, _dirNameSize,
    _dirNameGet, _dirNameHasLeadingSlash, _dirNameHasDomainLeadingSlash;
jmethodID _dneCreate, _dneSetClassname, _dneSetClassnameExpression, _dneSetAttribute, _dneSetAttributeExpression,
    _dneGetClassname, _dneIsClassnameExpression, _dneGetAttributeCount, _dneGetAttributeName,
    _dneIsAttributeExpression, _dneGetAttributeValue;
jmethodID _directoryObjectCreate = nullptr;
jmethodID _directoryExceptionGetErrorCode = nullptr;

jclass _SerializableClass = nullptr;
jclass _ArrayListClass = nullptr;
jmethodID _arrayListCreate = nullptr, _arrayListAdd = nullptr, _listIterator = nullptr;
jclass _IteratorClass = nullptr;
jmethodID _iteratorHasNext = nullptr, _iteratorNext = nullptr;
jclass _SpecialObjectInputStreamClass = nullptr;
jmethodID _specialObjectInputStreamCreate = nullptr, _objectInputStreamReadObject = nullptr;
jclass _ByteArrayInputStreamClass = nullptr, _ByteArrayOutputStreamClass = nullptr, _ObjectOutputStreamClass = nullptr;
jmethodID _byteArrayInputStreamCreate, _byteArrayOutputStreamCreate, _byteArrayOutputStreamToByteArray,
    _objectOutputStreamCreate, _objectOutputStreamWriteObject, _objectOutputStreamFlush;

jclass _AlertFactoryClass = nullptr;
jclass _MonitorAlertClass = nullptr;
jfieldID _monitorAlertNativePtr = nullptr;
jmethodID _alertCreate = nullptr;
jfieldID _alertNativePtr = nullptr;

namespace {

bool filled = false;

enum class Describe { kNo, kBefore, kAfter };

[[noreturn]] void endProcess() {
  fflush(nullptr);
  _exit(1);
}

// A class of the first table: a missing one ends the process with its message.
jclass requiredClass(JNIEnv* env, const char* name, const char* message, Describe describe) {
  jclass local = env->FindClass(name);
  if (local == nullptr) {
    if (describe == Describe::kBefore) env->ExceptionDescribe();
    log(0, "%s", message);
    if (describe == Describe::kAfter) env->ExceptionDescribe();
    env->ExceptionClear();
    endProcess();
  }
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

// The entries of the second list are not checked: a missing one stays null
// (logged once here) and using it is the caller's failure. The pending
// exception is cleared so that the next lookup is a legal JNI call.
void clearMissing(JNIEnv* env, const void* what, const char* kind, const char* name) {
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (what == nullptr) log(_debug_java, LOG_WARNING, 0, 0, "Java: class cache: no %s %s", kind, name);
}

jclass optionalClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  clearMissing(env, local, "class", name);
  if (local == nullptr) return nullptr;
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

jmethodID method(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  if (cls == nullptr) return nullptr;
  jmethodID m = env->GetMethodID(cls, name, sig);
  clearMissing(env, m, "method", name);
  return m;
}

jmethodID staticMethod(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  if (cls == nullptr) return nullptr;
  jmethodID m = env->GetStaticMethodID(cls, name, sig);
  clearMissing(env, m, "static method", name);
  return m;
}

jfieldID field(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  if (cls == nullptr) return nullptr;
  jfieldID f = env->GetFieldID(cls, name, sig);
  clearMissing(env, f, "field", name);
  return f;
}

jint staticInt(JNIEnv* env, jclass cls, const char* name) {
  if (cls == nullptr) return 0;
  jfieldID f = env->GetStaticFieldID(cls, name, "I");
  clearMissing(env, f, "static field", name);
  return f != nullptr ? env->GetStaticIntField(cls, f) : 0;
}

void fillRequired(JNIEnv* env) {
  _FrameworkHelperClass = requiredClass(env, "com/vesk/orvanex/FrameworkHelper",
                                        "Unable to find FrameworkHelper class.  Bad orvanex.jar.", Describe::kBefore);
  _AclClass = requiredClass(env, "com/vesk/orvanex/Acl", "Unable to find Acl class.  Bad orvanex.jar.", Describe::kNo);
  _DirectoryInvocationHelper =
      requiredClass(env, "com/vesk/orvanex/DirectoryInvocationHelper",
                    "Unable to find DirectoryInvocationHelper class.  Bad orvanex.jar.", Describe::kBefore);
  _AttributeClass = requiredClass(env, "com/vesk/orvanex/Attribute",
                                  "Unable to find CAttribute class.  Bad orvanex.jar.", Describe::kNo);
  _KelMapCImplClass = requiredClass(env, "com/vesk/orvanex/kel/impl/KelMapCImpl",
                                    "Unable to find CAttributes class.  Bad orvanex.jar.", Describe::kNo);
  _JavaAttributesClass = requiredClass(env, "com/vesk/orvanex/Attributes",
                                       "Unable to find JavaAttributes class.  Bad orvanex.jar.", Describe::kNo);
  _DirNameClass = requiredClass(env, "com/vesk/orvanex/DirName", "Unable to find DirName class.  Bad orvanex.jar.",
                                Describe::kNo);
  _DirNameEntryClass = requiredClass(env, "com/vesk/orvanex/DirNameEntry",
                                     "Unable to find DirNameEntry class.  Bad orvanex.jar.", Describe::kNo);
  _DirectoryClass = requiredClass(env, "com/vesk/orvanex/DirectoryImpl",
                                  "Unable to find Directory class.  Bad orvanex.jar.", Describe::kNo);
  _DirectoryEnumerationClass =
      requiredClass(env, "com/vesk/orvanex/DirectoryEnumeration",
                    "Unable to find DirectoryEnumeration class.  Bad orvanex.jar.", Describe::kNo);
  _ClassEnumerationClass = requiredClass(env, "com/vesk/orvanex/ClassEnumeration",
                                         "Unable to find ClassEnumeration class.  Bad orvanex.jar.", Describe::kNo);
  _DirectoryExceptionClass =
      requiredClass(env, "com/vesk/orvanex/DirectoryException",
                    "Unable to find DirectoryException class.  Bad orvanex.jar.", Describe::kNo);
  _FutureResultClass = requiredClass(env, "com/vesk/orvanex/FutureResult",
                                     "Unable to find FutureResult class.  Bad orvanex.jar.", Describe::kNo);
  _FutureResultListenerClass =
      requiredClass(env, "com/vesk/orvanex/FutureResultListener",
                    "Unable to find FutureResultListener class.  Bad orvanex.jar.", Describe::kNo);
  _OrvanexClass = requiredClass(env, "com/vesk/orvanex/OrvanexImpl",
                                "Unable to find Orvanex class.  Bad orvanex.jar.", Describe::kAfter);
  _SearchHelperClass = requiredClass(env, "com/vesk/orvanex/SearchHelper",
                                     "Unable to find SearchHelper class.  Bad orvanex.jar.", Describe::kNo);
  _PrincipalClass = requiredClass(env, "com/vesk/orvanex/Principal",
                                  "Unable to find Principal class.  Bad orvanex.jar.", Describe::kNo);
  _DirectorySPIClass = requiredClass(env, "com/vesk/orvanex/DirectorySPI",
                                     "Unable to find DirectorySPI class.  Bad orvanex.jar.", Describe::kNo);
  _DirectoryObjectClass = requiredClass(env, "com/vesk/orvanex/DirectoryObject",
                                        "Unable to find DirectoryObject class.  Bad orvanex.jar.", Describe::kNo);
  _AlertClass = requiredClass(env, "com/vesk/orvanex/alert/Alert", "Unable to find Alert class.  Bad orvanex.jar.",
                              Describe::kNo);
  _AlertListenerClass = requiredClass(env, "com/vesk/orvanex/alert/AlertListener",
                                      "Unable to find Alert class.  Bad orvanex.jar.", Describe::kNo);
  _DateClass = requiredClass(env, "java/util/Date", "Unable to find Date class.  Bad orvanex.jar.", Describe::kNo);
  jclass logFactory = requiredClass(env, "org/apache/commons/logging/LogFactory",
                                    "Unable to find commons logging LogFactory class.", Describe::kNo);
  // LogFactory.getLog(Principal.class): the bridge's one Java logger.
  jmethodID getLog = staticMethod(env, logFactory, "getLog", "(Ljava/lang/Class;)Lorg/apache/commons/logging/Log;");
  if (getLog != nullptr) {
    jobject logger = env->CallStaticObjectMethod(logFactory, getLog, _PrincipalClass);
    if (env->ExceptionCheck()) {
      env->ExceptionDescribe();
      env->ExceptionClear();
    } else if (logger != nullptr) {
      _LogInstance = env->NewGlobalRef(logger);
      env->DeleteLocalRef(logger);
    }
  }
  env->DeleteGlobalRef(logFactory);
}

void fillTimeAndHelpers(JNIEnv* env) {
  _timeHelper = optionalClass(env, "com/vesk/orvanex/OrvanexImpl$TimeHelper");
  _timeHelperCreate = method(env, _timeHelper, "<init>", "()V");
  _tmHour = field(env, _timeHelper, "hour", "I");
  _tmMin = field(env, _timeHelper, "min", "I");
  _tmSec = field(env, _timeHelper, "sec", "I");
  _tmYear = field(env, _timeHelper, "year", "I");
  _tmMon = field(env, _timeHelper, "mon", "I");
  _tmDay = field(env, _timeHelper, "day", "I");
  _tmDow = field(env, _timeHelper, "dow", "I");
  _tmOfs = field(env, _timeHelper, "ofs", "I");
  _tmWall = field(env, _timeHelper, "wall", "Ljava/lang/String;");
  _buildTm = method(env, _OrvanexClass, "buildTm", "(ZLjava/lang/String;J)Lcom/vesk/orvanex/OrvanexImpl$TimeHelper;");
  _buildTime = method(env, _OrvanexClass, "buildTime", "(Ljava/lang/String;Lcom/vesk/orvanex/OrvanexImpl$TimeHelper;)J");

  _directoryInvoke = staticMethod(env, _DirectoryInvocationHelper, "invoke",
                                  "(Ljava/lang/Object;Lcom/vesk/orvanex/Principal;Lcom/vesk/orvanex/DirectoryObject;"
                                  "Ljava/lang/String;[Ljava/lang/Object;)Ljava/lang/Object;");
  _aclCreate = method(env, _AclClass, "<init>", "(Ljava/lang/String;)V");

  _ClassClass = optionalClass(env, "java/lang/Class");
  _classGetName = method(env, _ClassClass, "getName", "()Ljava/lang/String;");
  _classIsPrimitive = method(env, _ClassClass, "isPrimitive", "()Z");
  _classGetDeclaredFields = method(env, _ClassClass, "getDeclaredFields", "()[Ljava/lang/reflect/Field;");
  _classGetDeclaredField =
      method(env, _ClassClass, "getDeclaredField", "(Ljava/lang/String;)Ljava/lang/reflect/Field;");

  // Acl.class.getDeclaredField("encodedAcl"), made accessible once.
  jstring name = env->NewStringUTF("encodedAcl");
  jobject f = name != nullptr && _classGetDeclaredField != nullptr
                  ? env->CallObjectMethod(_AclClass, _classGetDeclaredField, name)
                  : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
    f = nullptr;
  }
  if (name != nullptr) env->DeleteLocalRef(name);

  _dateGetTime = method(env, _DateClass, "getTime", "()J");
  _dateCreate = method(env, _DateClass, "<init>", "(J)V");

  _LogClass = optionalClass(env, "org/apache/commons/logging/Log");
  _logError = method(env, _LogClass, "error", "(Ljava/lang/Object;Ljava/lang/Throwable;)V");

  _FieldClass = optionalClass(env, "java/lang/reflect/Field");
  _ModifierClass = optionalClass(env, "java/lang/reflect/Modifier");
  _modifierTransient = staticInt(env, _ModifierClass, "TRANSIENT");
  _modifierFinal = staticInt(env, _ModifierClass, "FINAL");
  _modifierStatic = staticInt(env, _ModifierClass, "STATIC");
  _ObjectClass = optionalClass(env, "java/lang/Object");
  _ListClass = optionalClass(env, "java/util/ArrayList");
  _fieldSetAccessible = method(env, _FieldClass, "setAccessible", "(Z)V");
  _fieldGetType = method(env, _FieldClass, "getType", "()Ljava/lang/Class;");
  _fieldGetModifiers = method(env, _FieldClass, "getModifiers", "()I");
  _fieldGetName = method(env, _FieldClass, "getName", "()Ljava/lang/String;");
  _fieldGetInt = method(env, _FieldClass, "getInt", "(Ljava/lang/Object;)I");
  _fieldGetBoolean = method(env, _FieldClass, "getBoolean", "(Ljava/lang/Object;)Z");
  _fieldGetLong = method(env, _FieldClass, "getLong", "(Ljava/lang/Object;)J");
  _fieldGetFloat = method(env, _FieldClass, "getFloat", "(Ljava/lang/Object;)F");
  _fieldGetDouble = method(env, _FieldClass, "getDouble", "(Ljava/lang/Object;)D");
  _fieldSetInt = method(env, _FieldClass, "setInt", "(Ljava/lang/Object;I)V");
  _fieldSetLong = method(env, _FieldClass, "setLong", "(Ljava/lang/Object;J)V");
  _fieldSetFloat = method(env, _FieldClass, "setFloat", "(Ljava/lang/Object;F)V");
  _fieldSetDouble = method(env, _FieldClass, "setDouble", "(Ljava/lang/Object;D)V");
  _fieldSetBoolean = method(env, _FieldClass, "setBoolean", "(Ljava/lang/Object;Z)V");
  _fieldGet = method(env, _FieldClass, "get", "(Ljava/lang/Object;)Ljava/lang/Object;");
  _fieldSet = method(env, _FieldClass, "set", "(Ljava/lang/Object;Ljava/lang/Object;)V");
  if (f != nullptr) {
    // Read through JNI, which does not check access: Field.setAccessible
    // called from native code with no Java caller fails on current VMs.
    _AclEncodedAclField = env->NewGlobalRef(f);
    _aclEncodedAclFieldId = env->FromReflectedField(f);
    env->DeleteLocalRef(f);
  }

  // int, long, float, double: elements 0 to 3 of FrameworkHelper.getPrimitiveTypes().
  jmethodID prims = staticMethod(env, _FrameworkHelperClass, "getPrimitiveTypes", "()[Ljava/lang/Class;");
  auto types = prims != nullptr ? static_cast<jobjectArray>(env->CallStaticObjectMethod(_FrameworkHelperClass, prims))
                                : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();
    env->ExceptionClear();
    types = nullptr;
  }
  if (types != nullptr && env->GetArrayLength(types) >= 4) {
    jclass* slots[4] = {&_intClass, &_longClass, &_floatClass, &_doubleClass};
    for (int i = 0; i < 4; ++i) {
      jobject c = env->GetObjectArrayElement(types, i);
      *slots[i] = static_cast<jclass>(env->NewGlobalRef(c));
      env->DeleteLocalRef(c);
    }
  }
  if (types != nullptr) env->DeleteLocalRef(types);
}

void fillBoxes(JNIEnv* env) {
  _IntegerClass = optionalClass(env, "java/lang/Integer");
  _LongClass = optionalClass(env, "java/lang/Long");
  _FloatClass = optionalClass(env, "java/lang/Float");
  _DoubleClass = optionalClass(env, "java/lang/Double");
  _StringClass = optionalClass(env, "java/lang/String");
  _BooleanClass = optionalClass(env, "java/lang/Boolean");
  _intValue = method(env, _IntegerClass, "intValue", "()I");
  _longValue = method(env, _LongClass, "longValue", "()J");
  _doubleValue = method(env, _DoubleClass, "doubleValue", "()D");
  _floatValue = method(env, _FloatClass, "floatValue", "()F");
  _booleanValue = method(env, _BooleanClass, "booleanValue", "()Z");
  _integerCreate = staticMethod(env, _IntegerClass, "valueOf", "(I)Ljava/lang/Integer;");
  _longCreate = staticMethod(env, _LongClass, "valueOf", "(J)Ljava/lang/Long;");
  _floatCreate = staticMethod(env, _FloatClass, "valueOf", "(F)Ljava/lang/Float;");
  _doubleCreate = staticMethod(env, _DoubleClass, "valueOf", "(D)Ljava/lang/Double;");
  _booleanCreate = staticMethod(env, _BooleanClass, "valueOf", "(Z)Ljava/lang/Boolean;");
}

void fillKel(JNIEnv* env) {
  _principalNativePtr = field(env, _PrincipalClass, "nativePtr", "J");
  _AbstractVariableSetClass = optionalClass(env, "com/vesk/orvanex/kel/AbstractVariableSet");
  _abstractVariableSetNativePtr = field(env, _AbstractVariableSetClass, "_nativePtr", "J");
  _abstractVariableSetCreate = method(env, _AbstractVariableSetClass, "<init>", "(J)V");
  _CAnyClass = optionalClass(env, "com/vesk/orvanex/kel/CAny");
  _cAnyNativePtr = field(env, _CAnyClass, "_nativePtr", "J");
  _cAnyCreate = method(env, _CAnyClass, "<init>", "(J)V");
  _CAnyMapClass = optionalClass(env, "com/vesk/orvanex/kel/CAnyMap");
  _cAnyMapNativePtr = field(env, _CAnyMapClass, "_nativePtr", "J");
  _cAnyMapCreate = method(env, _CAnyMapClass, "<init>", "(J)V");
  _CAnyArrayClass = optionalClass(env, "com/vesk/orvanex/kel/CAnyArray");
  _cAnyArrayNativePtr = field(env, _CAnyArrayClass, "_nativePtr", "J");
  _cAnyArrayCreate = method(env, _CAnyArrayClass, "<init>", "(J)V");
  _TypeExceptionClass = optionalClass(env, "com/vesk/orvanex/TypeException");
  _typeExceptionCreate = method(env, _TypeExceptionClass, "<init>", "()V");
  _InvocationHelperClass = optionalClass(env, "com/vesk/orvanex/kel/InvocationHelper");
  _invocationHelperInvoke = staticMethod(env, _InvocationHelperClass, "invoke",
                                         "(Ljava/lang/Object;[Ljava/lang/Object;Ljava/lang/String;)Ljava/lang/Object;");
  _invocationHelperConstruct = staticMethod(env, _InvocationHelperClass, "construct",
                                            "(Ljava/lang/String;[Ljava/lang/Object;)Ljava/lang/Object;");
  _ResultClass = optionalClass(env, "com/vesk/orvanex/kel/Result");
  _resultCreate = method(env, _ResultClass, "<init>",
                         "(ZLcom/vesk/orvanex/Any;Lcom/vesk/orvanex/kel/Error;Ljava/lang/String;Ljava/lang/String;)V");
  _KelErrorClass = optionalClass(env, "com/vesk/orvanex/kel/Error");
  _kelErrorCreate = method(env, _KelErrorClass, "<init>", "(IILjava/lang/String;[Lcom/vesk/orvanex/kel/Location;)V");
  _ParserClass = optionalClass(env, "com/vesk/orvanex/kel/Parser");
  _parserNativePtr = field(env, _ParserClass, "_nativePtr", "J");
  _parserNativePtrTraceout = field(env, _ParserClass, "_nativePtrTraceout", "J");
  _parserNativePtrStdout = field(env, _ParserClass, "_nativePtrStdout", "J");
  _parserCode = field(env, _ParserClass, "code", "Ljava/lang/String;");
  _parserSource = field(env, _ParserClass, "source", "Ljava/lang/String;");
  _parserVs = field(env, _ParserClass, "vs", "Lcom/vesk/orvanex/kel/AbstractVariableSet;");
  _parserCallHelper = staticMethod(
      env, _ParserClass, "callHelper",
      "(Ljava/lang/Object;Lcom/vesk/orvanex/Principal;Ljava/lang/String;[Ljava/lang/Object;)Ljava/lang/Object;");
  _parserFieldHelper = staticMethod(env, _ParserClass, "fieldHelper",
                                    "(Ljava/lang/Object;Lcom/vesk/orvanex/Principal;Ljava/lang/String;)Ljava/lang/Object;");
  _LocationClass = optionalClass(env, "com/vesk/orvanex/kel/Location");
  _locationCreate = method(env, _LocationClass, "<init>", "(Ljava/lang/String;Ljava/lang/String;II)V");
  _CVariableSetClass = optionalClass(env, "com/vesk/orvanex/kel/CVariableSet");
  _cVariableSetCreate = method(env, _CVariableSetClass, "<init>", "(J)V");
  _StringsClass = optionalClass(env, "com/vesk/orvanex/kel/Strings");
  _MultiTypeStringClass = optionalClass(env, "com/vesk/orvanex/MultiTypeString");
  _mtsGetType = method(env, _MultiTypeStringClass, "getType", "()I");
  _mtsGetValue = method(env, _MultiTypeStringClass, "getValue", "()Ljava/lang/String;");
  _CObjRefClass = optionalClass(env, "com/vesk/orvanex/kel/CObjRef");
  _cObjRefNativePtr = field(env, _CObjRefClass, "_nativePtr", "J");
  _cObjRefCreate = method(env, _CObjRefClass, "<init>", "(J)V");
  _KelMapCImplClassRef = _KelMapCImplClass;
  _kelMapNativePtr = field(env, _KelMapCImplClass, "_nativePtr", "J");
  _kelMapCreate = method(env, _KelMapCImplClass, "<init>", "(J)V");
  _VeskPatternClass = optionalClass(env, "com/vesk/orvanex/regex/VeskPattern");
  _veskPatternNativePtr = field(env, _VeskPatternClass, "_nativePtr", "J");
  _veskPatternCreate = method(env, _VeskPatternClass, "<init>", "(J)V");
  _KelBigDecimalClass = optionalClass(env, "com/vesk/orvanex/kel/KelBigDecimal");
  _kelBigDecimalCreate = method(env, _KelBigDecimalClass, "<init>", "(Ljava/lang/String;)V");
}

void fillModel(JNIEnv* env) {
  _futureResultFireListener = method(env, _FutureResultClass, "fireListener", "()V");
  jclass a = _AttributeClass;
  _attrGetBigDecimalString = method(env, a, "getBigDecimalString", "()Ljava/lang/String;");
  _attrGetType = method(env, a, "getType", "()I");
  _attrGetMtsType = method(env, a, "getMtsType", "()I");
  _attrSetMtsType = method(env, a, "setMtsType", "(I)V");
  _attrGetInt32 = method(env, a, "getInt32", "()I");
  _attrGetInt64 = method(env, a, "getInt64", "()J");
  _attrGetFloat = method(env, a, "getFloat", "()F");
  _attrGetDouble = method(env, a, "getDouble", "()D");
  _attrGetString = method(env, a, "getString", "()Ljava/lang/String;");
  _attrGetBoolean = method(env, a, "getBoolean", "()Z");
  _attrGetObject = method(env, a, "getObject", "()Ljava/lang/Object;");
  _attrCreateInt = method(env, a, "<init>", "(I)V");
  _attrCreateLong = method(env, a, "<init>", "(J)V");
  _attrCreateFloat = method(env, a, "<init>", "(F)V");
  _attrCreateDouble = method(env, a, "<init>", "(D)V");
  _attrCreateBoolean = method(env, a, "<init>", "(Z)V");
  _attrCreateString = method(env, a, "<init>", "(Ljava/lang/String;)V");
  _attrCreateObject = method(env, a, "<init>", "(Ljava/lang/Object;)V");

  _attributesCreate = method(env, _JavaAttributesClass, "<init>", "()V");
  _attributesSetAttribute =
      method(env, _JavaAttributesClass, "setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/Any;I)V");
  _attributesGetAttributeNames = method(env, _JavaAttributesClass, "getAttributeNames", "()[Ljava/lang/String;");
  _attributesGetAttribute =
      method(env, _JavaAttributesClass, "getAttribute", "(Ljava/lang/String;)Lcom/vesk/orvanex/Any;");
  // Optional: a Java set that keeps flags hands them back.
  _attributesGetFlags = _JavaAttributesClass != nullptr
                            ? env->GetMethodID(_JavaAttributesClass, "getFlags", "(Ljava/lang/String;)I")
                            : nullptr;
  if (env->ExceptionCheck()) env->ExceptionClear();
  _AttributeArrayClass = optionalClass(env, "com/vesk/orvanex/AttributeArray");
  _attributeArrayCreate = method(env, _AttributeArrayClass, "<init>", "()V");
  _attributeArrayAdd = method(env, _AttributeArrayClass, "add", "(Lcom/vesk/orvanex/Any;)Z");

  _dirNameCreate = method(env, _DirNameClass, "<init>", "()V");
  _dirNameAppend = method(env, _DirNameClass, "append", "(Lcom/vesk/orvanex/DirNameEntry;)V");
  _dirNameSetLeadingSlash = method(env, _DirNameClass, "setLeadingSlash", "(Z)V");
  _dirNameSetDomainLeadingSlash = method(env, _DirNameClass, "setDomainLeadingSlash", "(Z)V");
  _dirNameSize = method(env, _DirNameClass, "size", "()I");
  _dirNameGet = method(env, _DirNameClass, "get", "(I)Lcom/vesk/orvanex/DirNameEntry;");
  _dirNameHasLeadingSlash = method(env, _DirNameClass, "hasLeadingSlash", "()Z");
  _dirNameHasDomainLeadingSlash = method(env, _DirNameClass, "hasDomainLeadingSlash", "()Z");
  jclass e = _DirNameEntryClass;
  _dneCreate = method(env, e, "<init>", "()V");
  _dneSetClassname = method(env, e, "setClassname", "(Ljava/lang/String;)V");
  _dneSetClassnameExpression = method(env, e, "setClassnameExpression", "(Ljava/lang/String;)V");
  _dneSetAttribute = method(env, e, "setAttribute", "(Ljava/lang/String;Lcom/vesk/orvanex/Attribute;)V");
  _dneSetAttributeExpression = method(env, e, "setAttributeExpression", "(Ljava/lang/String;Ljava/lang/String;)V");
  _dneGetClassname = method(env, e, "getClassname", "()Ljava/lang/String;");
  _dneIsClassnameExpression = method(env, e, "isClassnameExpression", "()Z");
  _dneGetAttributeCount = method(env, e, "getAttributeCount", "()I");
  _dneGetAttributeName = method(env, e, "getAttributeName", "(I)Ljava/lang/String;");
  _dneIsAttributeExpression = method(env, e, "isAttributeExpression", "(I)Z");
  _dneGetAttributeValue = method(env, e, "getAttributeValue", "(I)Ljava/lang/Object;");
  _directoryObjectCreate = method(env, _DirectoryObjectClass, "<init>", "(Ljava/lang/String;Ljava/lang/Object;)V");
  _directoryExceptionGetErrorCode = method(env, _DirectoryExceptionClass, "getErrorCode", "()I");

  _SerializableClass = optionalClass(env, "java/io/Serializable");
  _ArrayListClass = optionalClass(env, "java/util/ArrayList");
  _arrayListCreate = method(env, _ArrayListClass, "<init>", "()V");
  _arrayListAdd = method(env, _ArrayListClass, "add", "(Ljava/lang/Object;)Z");
  _listIterator = method(env, _ArrayListClass, "iterator", "()Ljava/util/Iterator;");
  _IteratorClass = optionalClass(env, "java/util/Iterator");
  _iteratorHasNext = method(env, _IteratorClass, "hasNext", "()Z");
  _iteratorNext = method(env, _IteratorClass, "next", "()Ljava/lang/Object;");
  _SpecialObjectInputStreamClass = optionalClass(env, "com/vesk/orvanex/SpecialObjectInputStream");
  _specialObjectInputStreamCreate =
      method(env, _SpecialObjectInputStreamClass, "<init>", "(Ljava/io/ByteArrayInputStream;)V");
  _objectInputStreamReadObject = method(env, _SpecialObjectInputStreamClass, "readObject", "()Ljava/lang/Object;");
  _ByteArrayInputStreamClass = optionalClass(env, "java/io/ByteArrayInputStream");
  _byteArrayInputStreamCreate = method(env, _ByteArrayInputStreamClass, "<init>", "([B)V");
  _ByteArrayOutputStreamClass = optionalClass(env, "java/io/ByteArrayOutputStream");
  _byteArrayOutputStreamCreate = method(env, _ByteArrayOutputStreamClass, "<init>", "()V");
  _byteArrayOutputStreamToByteArray = method(env, _ByteArrayOutputStreamClass, "toByteArray", "()[B");
  _ObjectOutputStreamClass = optionalClass(env, "java/io/ObjectOutputStream");
  _objectOutputStreamCreate = method(env, _ObjectOutputStreamClass, "<init>", "(Ljava/io/OutputStream;)V");
  _objectOutputStreamWriteObject = method(env, _ObjectOutputStreamClass, "writeObject", "(Ljava/lang/Object;)V");
  _objectOutputStreamFlush = method(env, _ObjectOutputStreamClass, "flush", "()V");

  _AlertFactoryClass = optionalClass(env, "com/vesk/orvanex/monitor/AlertFactory");
  _MonitorAlertClass = optionalClass(env, "com/vesk/orvanex/monitor/Alert");
  _monitorAlertNativePtr = field(env, _MonitorAlertClass, "nativePtr", "J");
  _alertCreate = method(env, _AlertClass, "<init>", "(JZ)V");
  _alertNativePtr = field(env, _AlertClass, "nativePtr", "J");
}

}  // namespace

bool javaClassCacheFilled() { return filled; }

int findCommonClassesAndMethods(JNIEnv* env) {
  if (filled) return 0;
  fillRequired(env);
  fillTimeAndHelpers(env);
  fillBoxes(env);
  fillKel(env);
  fillModel(env);

  jclass assetData = optionalClass(env, "com/vesk/orvanex/AssetData");
  if (assetData != nullptr) {
    addDecodeListEntry(env, 4000, assetData);
    env->DeleteGlobalRef(assetData);
  }
  filled = true;
  startJavaWorkers();
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: class cache filled");
  return 0;
}
