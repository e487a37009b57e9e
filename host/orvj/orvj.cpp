// The stand-in of the companion library: it has no natives of its own yet,
// and only reports that it was called.
#include "host/orvj.h"

#include "../common/host_log.h"

extern "C" void orvj_register_native_methods(JNIEnv* env) {
  hostLog("orvj: register native methods (env %s)", env ? "present" : "missing");
}
