// Test support of the bridge's JVM tests: creates the one VM of the test
// process with the built jars, fills the class cache, registers the natives
// and the probe natives of com.vesk.orvanex.tests.jni.NativeProbe, and runs
// the static String run() of a Java test class (an empty report means every
// check held). Header-only: only the JVM tests and the benchmark include it.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

// Creates the VM (extra options appended, e.g. -Xcheck:jni) with
// "java_dispatch_threads" set to `workers`. Returns null on failure.
JNIEnv* startBridgeVm(const std::vector<std::string>& extraOptions, int workers);

// Runs `className`.run() and returns its report, or a text that tells why it
// could not run.
std::string runJavaChecks(JNIEnv* env, const char* className);
