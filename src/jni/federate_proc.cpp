#include "jni/federate_proc.h"

namespace {
FederateProc installed = nullptr;
}

void setFederateProc(FederateProc proc) { installed = proc; }

FederateProc getFederateProc() { return installed; }
