#include "module/module_entry.h"

#include <jni.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/diagnostics.h"
#include "foundation/log.h"
#include "foundation/properties.h"
#include "host/orvanex.h"
#include "host/orvj.h"
#include "jni/class_cache.h"
#include "jni/federate_proc.h"
#include "jni/java_exception.h"
#include "jni/java_string.h"
#include "jni/jvm_handles.h"
#include "jni/native_registry.h"
#include "module/agent_callbacks.h"
#include "module/agent_helper_natives.h"
#include "module/jvm_options.h"

namespace {

// Ends the process at once. Once the VM runs, its threads keep running while
// exit() would destroy the statics they use; only the C streams need
// flushing, the log closes its file after every quiet write.
[[noreturn]] void endProcess(int status) {
  fflush(nullptr);
  _exit(status);
}

// The VM's abort hook takes no arguments; the status it reports is the
// signal the VM aborts with.
void vmAbortHook() { abortHook(SIGABRT); }

// The option table and its texts live as long as the process: the VM is
// never destroyed. They are sized to the options built, so none is dropped.
JavaVMInitArgs* makeInitArgs(const JvmOptionPlan& plan) {
  auto* texts = new std::vector<std::string>(plan.options);
  auto* opts = new JavaVMOption[texts->size()]();
  for (std::size_t i = 0; i < texts->size(); ++i) {
    opts[i].optionString = (*texts)[i].data();
    opts[i].extraInfo = nullptr;
  }
  JavaVMOption& abort = opts[texts->size() - 1];
  abort.extraInfo = reinterpret_cast<void*>(vmAbortHook);
  auto* args = new JavaVMInitArgs();
  args->version = JNI_VERSION_10;
  args->nOptions = static_cast<jint>(texts->size());
  args->options = opts;
  args->ignoreUnrecognized = JNI_FALSE;
  return args;
}

// Flushes System.out and System.err, so that nothing Java printed is lost
// when the process ends.
void flushJavaStreams(JNIEnv* env) {
  jclass system = env->FindClass("java/lang/System");
  if (system == nullptr) {
    describeJavaException(env);
    return;
  }
  for (const char* name : {"out", "err"}) {
    jfieldID field = env->GetStaticFieldID(system, name, "Ljava/io/PrintStream;");
    if (field == nullptr) {
      describeJavaException(env);
      continue;
    }
    jobject stream = env->GetStaticObjectField(system, field);
    if (stream == nullptr) continue;
    jclass cls = env->GetObjectClass(stream);
    jmethodID flush = env->GetMethodID(cls, "flush", "()V");
    if (flush != nullptr) env->CallVoidMethod(stream, flush);
    describeJavaException(env);
    env->DeleteLocalRef(cls);
    env->DeleteLocalRef(stream);
  }
  env->DeleteLocalRef(system);
}

}  // namespace

extern "C" void abortHook(int status) { log(0, "JVM Aborted with status: %d", status); }

extern "C" int moduleMain() {
  _handleIdentifyFn = handleIdentify;
  const JvmLaunchInputs inputs = currentLaunchInputs();
  const JvmOptionPlan plan = buildJvmOptions(inputs);
  for (const std::string& line : plan.logLines) log(0, "%s", line.c_str());

  JavaVMInitArgs* vmArgs = makeInitArgs(plan);
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  const jint rc = JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), vmArgs);
  if (rc < 0 || vm == nullptr || env == nullptr) {
    log(0, "Unable to create a Java Virtual Machine");
    return -1;
  }
  _thisVM = vm;
  _initialEnv = env;
  _orvanex_java_loaded = true;

  jclass agentHelper = env->FindClass("com/vesk/orvanex/agent/AgentHelper");
  if (agentHelper == nullptr) {
    describeJavaException(env);
    log(0, "Unable to find AgentHelper class.  Bad orvagent.jar.");
    endProcess(1);
  }
  _AgentHelperClass = static_cast<jclass>(env->NewGlobalRef(agentHelper));
  env->DeleteLocalRef(agentHelper);

  if (findCommonClassesAndMethods(env) != 0) endProcess(1);
  (void)registerAgentHelperNatives(env);
  (void)registerNativeMethods(env);
  setFederateProc(JavaModuleFederateProc);
  orvj_register_native_methods(env);
  describeJavaException(env);

  _javaEventHandler = new GetStackTraceHandler();
  createAlertDecoder(env, inputs.home.c_str());
  return 0;
}

extern "C" int startJavaModule(const char* name, Properties* props) {
  log(0, "Start java module: %s", name ? name : "(null)");
  JNIEnv* env = _initialEnv;
  if (env == nullptr || _AgentHelperClass == nullptr) {
    log(0, "Start java module: no Java VM");
    return 0;
  }
  // Each step runs only when the one before succeeded: no JNI call is made
  // with an exception pending.
  jclass propsClass = env->FindClass("java/util/Properties");
  jmethodID init = nullptr;
  jmethodID setProperty = nullptr;
  jobject jprops = nullptr;
  if (propsClass != nullptr) init = env->GetMethodID(propsClass, "<init>", "()V");
  if (init != nullptr) {
    setProperty =
        env->GetMethodID(propsClass, "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/Object;");
  }
  if (setProperty != nullptr) jprops = env->NewObject(propsClass, init);
  if (jprops == nullptr) {
    describeJavaException(env);
    if (propsClass != nullptr) env->DeleteLocalRef(propsClass);
    return 0;
  }
  if (props != nullptr) {
    // The set runs newest entry first; entries go to Java oldest first so
    // that, for a key given twice, Java keeps the value every native reader
    // sees (the later line of the file).
    std::vector<const Properties::Entry*> entries;
    for (const Properties::Entry* e = props->head(); e != nullptr; e = e->next) entries.push_back(e);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      jstring k = newJavaString(env, (*it)->key);
      jstring v = newJavaString(env, (*it)->value ? (*it)->value : "");
      if (k != nullptr && v != nullptr) {
        jobject previous = env->CallObjectMethod(jprops, setProperty, k, v);
        describeJavaException(env);
        if (previous != nullptr) env->DeleteLocalRef(previous);
      } else {
        describeJavaException(env);
      }
      if (k != nullptr) env->DeleteLocalRef(k);
      if (v != nullptr) env->DeleteLocalRef(v);
    }
  }
  env->DeleteLocalRef(propsClass);

  jmethodID startModule = env->GetStaticMethodID(_AgentHelperClass, "startModule",
                                                 "(Ljava/lang/String;Ljava/lang/String;Ljava/util/Properties;)V");
  if (startModule != nullptr) {
    jstring jname = newJavaString(env, name);
    jstring jhome = newJavaString(env, Orvanex::instance().getHome());
    env->CallStaticVoidMethod(_AgentHelperClass, startModule, jname, jhome, jprops);
    describeJavaException(env);
    if (jname != nullptr) env->DeleteLocalRef(jname);
    if (jhome != nullptr) env->DeleteLocalRef(jhome);
  } else {
    describeJavaException(env);
  }
  env->DeleteLocalRef(jprops);
  return 0;
}

extern "C" void runJavaClass(const char* className) {
  log(0, "Run java class: %s", className ? className : "(null)");
  JNIEnv* env = _initialEnv;
  if (env == nullptr || className == nullptr) {
    log(0, "Run java class: no Java VM or no class name");
    endProcess(1);
  }
  std::string slashed(className);
  for (char& c : slashed) {
    if (c == '.') c = '/';
  }
  jclass cls = env->FindClass(slashed.c_str());
  if (cls == nullptr) {
    describeJavaException(env);
    endProcess(1);
  }
  jmethodID mainMethod = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
  if (mainMethod == nullptr) {
    describeJavaException(env);
    endProcess(1);
  }
  jclass stringClass = env->FindClass("java/lang/String");
  jobjectArray args = stringClass ? env->NewObjectArray(0, stringClass, nullptr) : nullptr;
  if (args == nullptr) {
    describeJavaException(env);
    endProcess(1);
  }
  env->CallStaticVoidMethod(cls, mainMethod, args);
  const bool threw = describeJavaException(env);
  flushJavaStreams(env);
  endProcess(threw ? 1 : 0);
}
