#include "jni/java_time_hooks.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/log.h"
#include "jni/class_cache.h"
#include "jni/java_env.h"
#include "jni/java_string.h"
#include "jni/java_workers.h"
#include "jni/jvm_handles.h"
#include "kel/date.h"
#include "kel/date_zone_hooks.h"
#include "model/any.h"
#include "model/obj_ref.h"

namespace {

// The OrvanexImpl whose conversions the hooks call (a global reference).
std::atomic<jobject> timeObject{nullptr};

// The calling thread's environment: the one it is attached with, else the
// bridge's rule (daemon threads attach, native frames pushed theirs).
JNIEnv* envForHook() {
  JNIEnv* env = nullptr;
  if (_thisVM != nullptr && _thisVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK)
    return env;
  return orvJniAttach();
}

int dayOfYear(int year, int mon, int day) {
  static const int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int y = year + 1900;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mon < 0 || mon > 11) return 0;
  return kBefore[mon] + day - 1 + (leap && mon > 1 ? 1 : 0);
}

// Runs `body(env)` in a local frame; a Java exception declines the call.
template <class Body>
int inFrame(Body body) {
  jobject impl = timeObject.load();
  JNIEnv* env = impl != nullptr ? envForHook() : nullptr;
  if (env == nullptr || _buildTm == nullptr || _buildTime == nullptr) return -1;
  if (env->PushLocalFrame(8) != JNI_OK) {
    env->ExceptionClear();
    return -1;
  }
  int rc = body(env, impl);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    rc = -1;
  }
  env->PopLocalFrame(nullptr);
  return rc;
}

int javaBuildTm(bool utc, const char* zoneName, int64_t seconds, struct tm* tm, char* abbreviation,
                int* offsetMinutes) {
  return inFrame([&](JNIEnv* env, jobject impl) {
    jstring zone = zoneName != nullptr ? newJavaString(env, zoneName) : nullptr;
    jobject h = env->CallObjectMethod(impl, _buildTm, utc ? JNI_TRUE : JNI_FALSE, zone,
                                      static_cast<jlong>(seconds) * 1000);
    if (h == nullptr || env->ExceptionCheck()) return -1;
    struct tm out {};
    out.tm_hour = env->GetIntField(h, _tmHour);
    out.tm_min = env->GetIntField(h, _tmMin);
    out.tm_sec = env->GetIntField(h, _tmSec);
    out.tm_year = env->GetIntField(h, _tmYear);
    out.tm_mon = env->GetIntField(h, _tmMon);
    out.tm_mday = env->GetIntField(h, _tmDay);
    out.tm_wday = env->GetIntField(h, _tmDow);
    out.tm_yday = dayOfYear(out.tm_year, out.tm_mon, out.tm_mday);
    const int ofs = env->GetIntField(h, _tmOfs);
    std::string wall;
    (void)javaStringToUtf8(env, static_cast<jstring>(env->GetObjectField(h, _tmWall)), &wall);
    if (env->ExceptionCheck()) return -1;
    out.tm_isdst = 0;
    *tm = out;
    const size_t n = std::min(wall.size(), DateZoneHooks::kAbbreviationSize - 1);
    std::memcpy(abbreviation, wall.data(), n);
    abbreviation[n] = '\0';
    *offsetMinutes = ofs;
    return 0;
  });
}

int javaBuildTime(const char* zoneName, const struct tm* tm, int64_t* seconds) {
  return inFrame([&](JNIEnv* env, jobject impl) {
    jobject h = env->NewObject(_timeHelper, _timeHelperCreate);
    if (h == nullptr) return -1;
    env->SetIntField(h, _tmHour, tm->tm_hour);
    env->SetIntField(h, _tmMin, tm->tm_min);
    env->SetIntField(h, _tmSec, tm->tm_sec);
    env->SetIntField(h, _tmYear, tm->tm_year);
    env->SetIntField(h, _tmMon, tm->tm_mon);
    env->SetIntField(h, _tmDay, tm->tm_mday);
    jstring zone = zoneName != nullptr ? newJavaString(env, zoneName) : nullptr;
    const jlong s = env->CallLongMethod(impl, _buildTime, zone, h);
    if (env->ExceptionCheck()) return -1;
    *seconds = s;
    return 0;
  });
}

}  // namespace

int installJavaTimeHooks(JNIEnv* env, jobject orvanexImpl) {
  if (_timeHelper == nullptr || _buildTm == nullptr || _buildTime == nullptr) return 25;
  jobject local = orvanexImpl;
  if (local == nullptr) {
    jmethodID create = env->GetMethodID(_OrvanexClass, "<init>", "()V");
    local = create != nullptr ? env->NewObject(_OrvanexClass, create) : nullptr;
    if (local == nullptr) {
      env->ExceptionClear();
      return 25;
    }
  }
  jobject global = newBridgeGlobalRef(env, local);
  if (local != orvanexImpl) env->DeleteLocalRef(local);
  jobject old = timeObject.exchange(global);
  if (old != nullptr) orv_DeleteObjectRef(old);
  DateZoneHooks hooks;
  hooks.buildTm = javaBuildTm;
  hooks.buildTime = javaBuildTime;
  setDateZoneHooks(&hooks);
  log(_debug_java, LOG_DEBUG, 0, 0, "Java: time-zone conversions of kel dates go through Java");
  return 0;
}

void removeJavaTimeHooks(JNIEnv* env) {
  setDateZoneHooks(nullptr);
  jobject old = timeObject.exchange(nullptr);
  if (old != nullptr) deleteBridgeGlobalRef(env, old);
}

Any* kelDateAny(long long ms) {
  // A java.util.Date may lie beyond the range of a kel date: it then stays
  // a number of the date subtype rather than being cut.
  if (!Date::inRange(ms)) {
    auto* a = new Any(ms);
    a->setSubtype(ANY_SUBTYPE_DATE);
    return a;
  }
  return new Any(new ObjRef(new Date(ms)));
}

bool kelDateMillis(Translatable* date, long long* ms) {
  if (date == nullptr || date->getObjectID() != Date::kObjectId) return false;
  *ms = static_cast<const Date*>(date)->getTime();
  return true;
}
