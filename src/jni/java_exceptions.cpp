#include "jni/java_exceptions.h"

#include <cstdarg>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/java_string.h"
#include "model/dir_error.h"

namespace {

// A pending exception as a local reference, cleared; null when none.
jthrowable takePending(JNIEnv* env) {
  if (env->ExceptionCheck() != JNI_TRUE) return nullptr;
  jthrowable t = env->ExceptionOccurred();
  env->ExceptionClear();
  return t;
}

void logThroughJava(JNIEnv* env, const char* text, jthrowable t) {
  if (_LogInstance == nullptr || _logError == nullptr) {
    logStackTrace(env, text, t);
    return;
  }
  jstring jtext = newJavaString(env, text != nullptr ? text : "");
  env->CallVoidMethod(_LogInstance, _logError, jtext, t);
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (jtext != nullptr) env->DeleteLocalRef(jtext);
}

// getErrorCode() of a DirectoryException, else 25; `failed` tells whether
// the call itself threw.
int errorCodeOf(JNIEnv* env, jthrowable t, bool* isDirectoryException, bool* failed) {
  *failed = false;
  *isDirectoryException = _DirectoryExceptionClass != nullptr && env->IsInstanceOf(t, _DirectoryExceptionClass);
  if (!*isDirectoryException || _directoryExceptionGetErrorCode == nullptr) return 25;
  const jint code = env->CallIntMethod(t, _directoryExceptionGetErrorCode);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    *failed = true;
    return 25;
  }
  return code;
}

jthrowable newException(JNIEnv* env, const char* className, const char* sig, ...) {
  jclass cls = env->FindClass(className);
  if (cls == nullptr) return nullptr;
  jmethodID init = env->GetMethodID(cls, "<init>", sig);
  jthrowable t = nullptr;
  if (init != nullptr) {
    va_list args;
    va_start(args, sig);
    t = static_cast<jthrowable>(env->NewObjectV(cls, init, args));
    va_end(args);
  }
  env->DeleteLocalRef(cls);
  return t;
}

jthrowable withCode(JNIEnv* env, const char* cls, int code, const char* msg) {
  jstring m = newJavaString(env, msg);
  jthrowable t = newException(env, cls, "(ILjava/lang/String;)V", static_cast<jint>(code), m);
  if (m != nullptr) env->DeleteLocalRef(m);
  return t;
}

jthrowable noArgs(JNIEnv* env, const char* cls) { return newException(env, cls, "()V"); }

jthrowable withKeyOrNone(JNIEnv* env, const char* cls, const char* key) {
  if (key == nullptr || *key == '\0') return noArgs(env, cls);
  jstring k = newJavaString(env, key);
  jthrowable t = newException(env, cls, "(Ljava/lang/String;)V", k);
  if (k != nullptr) env->DeleteLocalRef(k);
  return t;
}

jthrowable deserialised(JNIEnv* env, size_t length, const char* bytes) {
  jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
  if (array == nullptr) return nullptr;
  env->SetByteArrayRegion(array, 0, static_cast<jsize>(length), reinterpret_cast<const jbyte*>(bytes));
  jobject in = env->NewObject(_ByteArrayInputStreamClass, _byteArrayInputStreamCreate, array);
  jobject ois = in != nullptr ? env->NewObject(_SpecialObjectInputStreamClass, _specialObjectInputStreamCreate, in)
                              : nullptr;
  jobject obj = ois != nullptr ? env->CallObjectMethod(ois, _objectInputStreamReadObject) : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    obj = nullptr;
  }
  jclass throwable = env->FindClass("java/lang/Throwable");
  if (obj != nullptr && (throwable == nullptr || !env->IsInstanceOf(obj, throwable))) {
    env->DeleteLocalRef(obj);
    obj = nullptr;
  }
  if (throwable != nullptr) env->DeleteLocalRef(throwable);
  if (ois != nullptr) env->DeleteLocalRef(ois);
  if (in != nullptr) env->DeleteLocalRef(in);
  env->DeleteLocalRef(array);
  if (env->ExceptionCheck()) env->ExceptionClear();
  return static_cast<jthrowable>(obj);
}

}  // namespace

bool testAndLogException(JNIEnv* env, const char* text) {
  jthrowable t = takePending(env);
  if (t == nullptr) return false;
  logThroughJava(env, text, t);
  env->DeleteLocalRef(t);
  return true;
}

int testException(JNIEnv* env, const char* text) {
  jthrowable t = takePending(env);
  if (t == nullptr) return 0;
  logThroughJava(env, text, t);
  bool isDir = false;
  bool failed = false;
  const int code = errorCodeOf(env, t, &isDir, &failed);
  env->DeleteLocalRef(t);
  return code;
}

int orvTestException(JNIEnv* env, const char* file, int line) {
  jthrowable t = takePending(env);
  if (t == nullptr) return 0;
  log(0, "Unexpected Java exception at %s, line %d", file, line);
  int code = 0;
  bool isDir = false;
  bool failed = false;
  const int c = errorCodeOf(env, t, &isDir, &failed);
  if (isDir) {
    if (failed) log(0, "Exception occurred trying to get error code. Continuing");
    code = c;
  }
  log(0, "    Error is: %d", code);
  logStackTrace(env, "Stack trace is:", t);
  env->DeleteLocalRef(t);
  return code;
}

void logStackTrace(JNIEnv* env, const char* text, jthrowable throwable) {
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (throwable == nullptr) return;
  if (env->PushLocalFrame(16) != JNI_OK) {
    env->ExceptionClear();
    return;
  }
  // Every local reference made here goes with the frame.
  jclass swClass = env->FindClass("java/io/StringWriter");
  jclass pwClass = swClass != nullptr ? env->FindClass("java/io/PrintWriter") : nullptr;
  jclass thClass = pwClass != nullptr ? env->FindClass("java/lang/Throwable") : nullptr;
  if (thClass != nullptr) {
    jobject sw = env->NewObject(swClass, env->GetMethodID(swClass, "<init>", "()V"));
    jobject pw = sw != nullptr ? env->NewObject(pwClass, env->GetMethodID(pwClass, "<init>", "(Ljava/io/Writer;)V"), sw)
                               : nullptr;
    if (pw != nullptr) {
      env->CallVoidMethod(throwable, env->GetMethodID(thClass, "printStackTrace", "(Ljava/io/PrintWriter;)V"), pw);
      if (env->ExceptionCheck() != JNI_TRUE) {
        env->CallVoidMethod(pw, env->GetMethodID(pwClass, "flush", "()V"));
        jmethodID toString = env->ExceptionCheck() != JNI_TRUE
                                 ? env->GetMethodID(swClass, "toString", "()Ljava/lang/String;")
                                 : nullptr;
        auto s = toString != nullptr ? static_cast<jstring>(env->CallObjectMethod(sw, toString)) : nullptr;
        if (s != nullptr && env->ExceptionCheck() != JNI_TRUE) {
          const char* chars = env->GetStringUTFChars(s, nullptr);
          if (chars != nullptr) {
            log(0, "%s\n%s", text != nullptr ? text : "", chars);
            env->ReleaseStringUTFChars(s, chars);
          }
        }
      }
    }
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  env->PopLocalFrame(nullptr);
}

jthrowable makeExtDirectoryException(JNIEnv* env, int code, const char* key, const char* text, size_t length,
                                     const char* bytes) {
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: makeDirectoryException: Error code: %d", code);
  const char* msg = key != nullptr ? key : text;
  jthrowable t = nullptr;
  switch (code) {
    case 1: case 2: case 4: case 5: case 6: case 7: case 8: case 10: case 12:
      t = withCode(env, "com/vesk/orvanex/NameFormatException", code, msg);
      break;
    case 13: case 19:
      t = noArgs(env, "com/vesk/orvanex/TimeoutException");
      break;
    case 14: case 16: case 17: case 18: case 22: case 28:
      t = withCode(env, "com/vesk/orvanex/DirectoryIOException", code, msg);
      break;
    case 15:
      t = withKeyOrNone(env, "com/vesk/orvanex/NotFoundException", key);
      break;
    case 20: t = noArgs(env, "com/vesk/orvanex/LoginException"); break;
    case 21: t = noArgs(env, "com/vesk/orvanex/NotImplementedException"); break;
    case 23: t = noArgs(env, "com/vesk/orvanex/PermissionDeniedException"); break;
    case 24: t = noArgs(env, "com/vesk/orvanex/BadArgumentException"); break;
    case 25:
      if (bytes == nullptr || length == 0) {
        t = noArgs(env, "com/vesk/orvanex/UnexpectedJavaException");
      } else {
        t = deserialised(env, length, bytes);
        if (t == nullptr) {
          t = withCode(env, "com/vesk/orvanex/DirectoryIOException", 25,
                       "Exception thrown while decoding the returned exception.  Either this class was not found "
                       "or it is not public.");
        }
      }
      break;
    case 29: {
      jstring m = newJavaString(env, "No such asset");
      t = newException(env, "com/vesk/orvanex/NotFoundException", "(Ljava/lang/String;)V", m);
      if (m != nullptr) env->DeleteLocalRef(m);
      break;
    }
    case 30: case 36: t = withCode(env, "com/vesk/orvanex/DirectoryException", code, text); break;
    case 33: t = withKeyOrNone(env, "com/vesk/orvanex/AlreadyExistsException", key); break;
    case 43: t = newException(env, "com/vesk/orvanex/DirectoryException", "(I)V", static_cast<jint>(43)); break;
    case 53: t = noArgs(env, "com/vesk/orvanex/NoMethodException"); break;
    case 58: t = noArgs(env, "com/vesk/orvanex/NotManualTriggerException"); break;
    case 70: t = noArgs(env, "com/vesk/orvanex/WorkflowConfirmationException"); break;
    case 71: t = noArgs(env, "com/vesk/orvanex/BusyException"); break;
    case 72: t = noArgs(env, "com/vesk/orvanex/IntegrityViolationException"); break;
    case 96: t = noArgs(env, "com/vesk/orvanex/NoLoginException"); break;
    case 102: t = noArgs(env, "com/vesk/orvanex/wf/WorkflowException"); break;
    case 103: t = noArgs(env, "com/vesk/orvanex/EndpointException"); break;
    case 108: t = noArgs(env, "com/vesk/orvanex/UnexpectedSPIFailure"); break;
    case 112: t = noArgs(env, "com/vesk/orvanex/grouping/exceptions/GroupException"); break;
    case 114: t = noArgs(env, "com/vesk/orvanex/NativeLoginException"); break;
    case 115: t = noArgs(env, "com/vesk/orvanex/PasswordCheckoutException"); break;
    case 116: t = noArgs(env, "com/vesk/orvanex/PasswordDecryptException"); break;
    case 117: t = noArgs(env, "com/vesk/orvanex/IncompatibleVersionException"); break;
    case 118: t = noArgs(env, "com/vesk/orvanex/InvalidAccountStateException"); break;
    case 119: t = noArgs(env, "com/vesk/orvanex/LoginProviderException"); break;
    case 120: t = noArgs(env, "com/vesk/orvanex/cmdb2/CMDBException"); break;
    case 121: t = noArgs(env, "com/vesk/orvanex/PersistException"); break;
    case 122: t = noArgs(env, "com/vesk/orvanex/DeprecatedException"); break;
    default: t = withCode(env, "com/vesk/orvanex/DirectoryException", code, text); break;
  }
  if (t == nullptr) {
    // A class missing from the jar: the plain DirectoryException still
    // carries the code.
    if (env->ExceptionCheck()) env->ExceptionClear();
    t = withCode(env, "com/vesk/orvanex/DirectoryException", code, text);
  }
  return t;
}

jthrowable makeDirectoryException(JNIEnv* env, int code, const char* text) {
  return makeExtDirectoryException(env, code, "error", text, 0, nullptr);
}

jthrowable makeIOException(JNIEnv* env, const char* text) {
  jstring m = newJavaString(env, text);
  jthrowable t = newException(env, "java/io/IOException", "(Ljava/lang/String;)V", m);
  if (m != nullptr) env->DeleteLocalRef(m);
  return t;
}

void throwDirectoryException(JNIEnv* env, int code) {
  throwDirectoryException(env, code, DirError::getErrorDescription(code));
}

void throwDirectoryException(JNIEnv* env, int code, const char* text) {
  jthrowable t = makeDirectoryException(env, code, text);
  if (t != nullptr) {
    env->Throw(t);
    env->DeleteLocalRef(t);
  }
}
