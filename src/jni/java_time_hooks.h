// The Java side of kel dates: the time-zone conversions that kel dates use
// when the Java VM runs (java.time through OrvanexImpl.buildTm/buildTime,
// so a script's TZ names any zone Java knows), and the making and reading
// of kel date values for the Java conversions. The hooks may be called on
// any thread that runs kel and can reach the VM; installation is atomic.
#pragma once

#include <jni.h>

class Any;
class Translatable;

// The object id of kel's Date.
inline constexpr int kKelDateObjectId = 9300;  // Date::kObjectId

// Makes kel's date conversions call `orvanexImpl` (an OrvanexImpl; a global
// reference is kept). Null makes a new OrvanexImpl for the purpose.
// Returns 0, or 25 when the object cannot be had.
[[nodiscard]] int installJavaTimeHooks(JNIEnv* env, jobject orvanexImpl);
// Returns kel to its own conversions (the reference is released).
void removeJavaTimeHooks(JNIEnv* env);

// A new kel date value for `ms` milliseconds since the epoch (beyond a kel
// date's range, a 64-bit value of the date subtype).
[[nodiscard]] Any* kelDateAny(long long ms);
// The milliseconds since the epoch of a kel date object; false when it has
// none to give.
[[nodiscard]] bool kelDateMillis(Translatable* date, long long* ms);
