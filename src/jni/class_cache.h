// The Java bridge's cache of global class references, method IDs and field
// IDs, filled once at start-up on a thread with a JNIEnv, before any native is
// used, and never released. Written once, then read without locks by every
// thread.
#pragma once

#include <jni.h>

#include <cstdint>

// Fills the cache, installs the statistics dump, and starts the Java dispatch
// workers (the property "java_dispatch_threads", 1 to 16). Returns 0; a
// missing required class logs its message and ends the process (status 1).
[[nodiscard]] int findCommonClassesAndMethods(JNIEnv* env);

// True once findCommonClassesAndMethods has completed.
[[nodiscard]] bool javaClassCacheFilled();

// ---- classes of the Java API (global references)
extern jclass _FrameworkHelperClass;
extern jclass _AclClass;
extern jclass _DirectoryInvocationHelper;
extern jclass _AttributeClass;
extern jclass _KelMapCImplClass;
extern jclass _JavaAttributesClass;
extern jclass _DirNameClass;
extern jclass _DirNameEntryClass;
extern jclass _DirectoryClass;
extern jclass _DirectoryEnumerationClass;
extern jclass _ClassEnumerationClass;
extern jclass _DirectoryExceptionClass;
extern jclass _FutureResultClass;
extern jclass _FutureResultListenerClass;
extern jclass _OrvanexClass;
extern jclass _SearchHelperClass;
extern jclass _PrincipalClass;
extern jfieldID _principalNativePtr;  // long nativePtr
extern jclass _DirectorySPIClass;
extern jclass _DirectoryObjectClass;
extern jclass _AlertClass;
extern jclass _AlertListenerClass;
extern jclass _DateClass;

// OrvanexImpl$TimeHelper and the time conversions of OrvanexImpl.
extern jclass _timeHelper;
extern jmethodID _timeHelperCreate;
extern jfieldID _tmHour, _tmMin, _tmSec, _tmYear, _tmMon, _tmDay, _tmDow, _tmOfs, _tmWall;
extern jmethodID _buildTm;    // (ZLjava/lang/String;J)Lcom/vesk/orvanex/OrvanexImpl$TimeHelper;
extern jmethodID _buildTime;  // (Ljava/lang/String;Lcom/vesk/orvanex/OrvanexImpl$TimeHelper;)J

extern jmethodID _directoryInvoke;  // static DirectoryInvocationHelper.invoke
extern jobject _AclEncodedAclField; // java.lang.reflect.Field of Acl.encodedAcl
extern jfieldID _aclEncodedAclFieldId;
extern jmethodID _aclCreate;        // Acl(String)

extern jmethodID _dateGetTime;  // ()J
extern jmethodID _dateCreate;   // (J)V

// commons-logging: the one logger of the bridge's Java-side errors.
extern jobject _LogInstance;
extern jclass _LogClass;
extern jmethodID _logError;  // error(Object, Throwable)

// Reflection.
extern jclass _FieldClass;
extern jclass _ModifierClass;
extern jint _modifierTransient, _modifierFinal, _modifierStatic;
extern jclass _ObjectClass;
extern jclass _ListClass;
extern jclass _ClassClass;
extern jmethodID _classGetName, _classIsPrimitive, _classGetDeclaredFields, _classGetDeclaredField;
extern jmethodID _fieldSetAccessible, _fieldGetType, _fieldGetModifiers, _fieldGetName;
extern jmethodID _fieldGetInt, _fieldGetBoolean, _fieldGetLong, _fieldGetFloat, _fieldGetDouble;
extern jmethodID _fieldSetInt, _fieldSetLong, _fieldSetFloat, _fieldSetDouble, _fieldSetBoolean;
extern jmethodID _fieldGet, _fieldSet;
extern jclass _intClass, _longClass, _floatClass, _doubleClass;

// Boxed and basic classes.
extern jclass _IntegerClass, _LongClass, _FloatClass, _DoubleClass, _StringClass, _BooleanClass;
extern jmethodID _intValue, _longValue, _doubleValue, _floatValue, _booleanValue;
extern jmethodID _integerCreate, _longCreate, _floatCreate, _doubleCreate, _booleanCreate;

// Expression-language classes.
extern jclass _AbstractVariableSetClass;
extern jfieldID _abstractVariableSetNativePtr;
extern jmethodID _abstractVariableSetCreate;
extern jclass _CAnyClass;
extern jfieldID _cAnyNativePtr;
extern jmethodID _cAnyCreate;
extern jclass _CAnyMapClass;
extern jfieldID _cAnyMapNativePtr;
extern jmethodID _cAnyMapCreate;
extern jclass _CAnyArrayClass;
extern jfieldID _cAnyArrayNativePtr;
extern jmethodID _cAnyArrayCreate;
extern jclass _CObjRefClass;
extern jfieldID _cObjRefNativePtr;
extern jmethodID _cObjRefCreate;
extern jclass _TypeExceptionClass;
extern jmethodID _typeExceptionCreate;
extern jclass _InvocationHelperClass;
extern jmethodID _invocationHelperInvoke, _invocationHelperConstruct;
extern jclass _ResultClass;
extern jmethodID _resultCreate;
extern jclass _KelErrorClass;
extern jmethodID _kelErrorCreate;
extern jclass _ParserClass;
extern jfieldID _parserNativePtr, _parserNativePtrTraceout, _parserNativePtrStdout;
extern jfieldID _parserCode, _parserSource, _parserVs;
extern jmethodID _parserCallHelper, _parserFieldHelper;
extern jclass _LocationClass;
extern jmethodID _locationCreate;
extern jclass _CVariableSetClass;
extern jmethodID _cVariableSetCreate;
extern jclass _StringsClass;
extern jclass _MultiTypeStringClass;
extern jmethodID _mtsGetType, _mtsGetValue;
extern jclass _KelMapCImplClassRef;  // same class as _KelMapCImplClass
extern jfieldID _kelMapNativePtr;
extern jmethodID _kelMapCreate;
extern jclass _VeskPatternClass;
extern jfieldID _veskPatternNativePtr;
extern jmethodID _veskPatternCreate;
extern jclass _KelBigDecimalClass;
extern jmethodID _kelBigDecimalCreate;

extern jmethodID _futureResultFireListener;

// Attribute and its accessors and constructors.
extern jmethodID _attrGetBigDecimalString, _attrGetType, _attrGetMtsType, _attrSetMtsType;
extern jmethodID _attrGetInt32, _attrGetInt64, _attrGetFloat, _attrGetDouble, _attrGetString, _attrGetBoolean,
    _attrGetObject;
extern jmethodID _attrCreateInt, _attrCreateLong, _attrCreateFloat, _attrCreateDouble, _attrCreateBoolean,
    _attrCreateString, _attrCreateObject;

// Attributes, AttributeArray, DirName, DirNameEntry.
extern jmethodID _attributesGetFlags;  // optional getFlags(String)I
extern jmethodID _attributesCreate, _attributesSetAttribute, _attributesGetAttributeNames, _attributesGetAttribute;
extern jclass _AttributeArrayClass;
extern jmethodID _attributeArrayCreate, _attributeArrayAdd;
extern jmethodID _dirNameCreate, _dirNameAppend, _dirNameSetLeadingSlash, _dirNameSetDomainLeadingSlash,
    _dirNameSize, _dirNameGet, _dirNameHasLeadingSlash, _dirNameHasDomainLeadingSlash;
extern jmethodID _dneCreate, _dneSetClassname, _dneSetClassnameExpression, _dneSetAttribute,
    _dneSetAttributeExpression, _dneGetClassname, _dneIsClassnameExpression, _dneGetAttributeCount,
    _dneGetAttributeName, _dneIsAttributeExpression, _dneGetAttributeValue;
extern jmethodID _directoryObjectCreate;
extern jmethodID _directoryExceptionGetErrorCode;

extern jclass _SerializableClass;
extern jclass _ArrayListClass;
extern jmethodID _arrayListCreate, _arrayListAdd, _listIterator;
extern jclass _IteratorClass;
extern jmethodID _iteratorHasNext, _iteratorNext;
extern jclass _SpecialObjectInputStreamClass;
extern jmethodID _specialObjectInputStreamCreate, _objectInputStreamReadObject;
extern jclass _ByteArrayInputStreamClass, _ByteArrayOutputStreamClass, _ObjectOutputStreamClass;
extern jmethodID _byteArrayInputStreamCreate, _byteArrayOutputStreamCreate, _byteArrayOutputStreamToByteArray,
    _objectOutputStreamCreate, _objectOutputStreamWriteObject, _objectOutputStreamFlush;

extern jclass _AlertFactoryClass;
extern jclass _MonitorAlertClass;
extern jfieldID _monitorAlertNativePtr;
extern jmethodID _alertCreate;  // alert.Alert(JZ)V
extern jfieldID _alertNativePtr;

// Reads a `long` field holding a native pointer; 0 for a null object.
template <class T>
T* nativePtr(JNIEnv* env, jobject obj, jfieldID field) {
  if (obj == nullptr || field == nullptr) return nullptr;
  return reinterpret_cast<T*>(static_cast<intptr_t>(env->GetLongField(obj, field)));
}
inline void setNativePtr(JNIEnv* env, jobject obj, jfieldID field, const void* p) {
  env->SetLongField(obj, field, static_cast<jlong>(reinterpret_cast<intptr_t>(p)));
}
