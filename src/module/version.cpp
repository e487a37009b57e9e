#include "module/version.h"

extern "C" const char* orvjava_version() { return "1.0.0"; }
