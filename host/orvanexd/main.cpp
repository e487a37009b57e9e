// orvanexd: the host daemon. It loads the module, reads the installation's
// configuration, sets up the log, gives the host settings and the sizing
// figures, calls moduleMain, starts the configured Java modules (or runs one
// Java class) and waits for SIGTERM.
//
// The start-up runs on a thread of its own with a known stack: the thread
// that creates the Java VM becomes a Java thread, and the process's first
// thread is a poor one for that (its stack size and guard pages are not the
// VM's to set).
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/os_shutdown.h"
#include "host/orvanex.h"
#include "host_setup.h"
#include "module_library.h"
#include "shutdown_wait.h"

namespace {

constexpr std::size_t kStartupStack = 16u << 20;
constexpr std::size_t kMaxLogDir = 79;  // what the log keeps of a directory path
constexpr int kReloadSeconds = 10;

const char kUsage[] =
    "usage: orvanexd --home DIR [--stdout] [--run-class CLASS] [--module PATH]\n"
    "\n"
    "Runs the agent on the installation home DIR: reads DIR/orvanex.properties, logs into\n"
    "DIR/logs, loads the module, creates the Java VM, starts the Java modules listed by\n"
    "java_modules and stays up until SIGTERM (or SIGINT).\n"
    "\n"
    "  --home DIR         the installation home (required)\n"
    "  --stdout           also copy the log to standard output\n"
    "  --run-class CLASS  run CLASS's main(String[]) instead of the modules, then exit\n"
    "  --module PATH      the module to load (default: <dir of orvanexd>/../lib/liborvjava.so)\n"
    "  --help             this text\n"
    "\n"
    "Exit status: 0 after SIGTERM or a successful --run-class, 1 when the agent cannot\n"
    "start (or the class fails), 2 on bad usage.\n"
    "\n"
    "Memory tracing: ORV_MEMTRACE_FILE=PATH (or ORV_MEMTRACE_SOCKET=PATH for an analyzer)\n"
    "traces every allocation; ORV_MEMTRACE_GUARDS=1 adds guard patterns. Read a trace\n"
    "with orvmemtrace.\n";

struct Args {
  std::string home;
  std::string module;
  std::string runClass;
  bool copyStdout = false;
  bool testcred = false;
};

std::string selfPath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  buf[n] = '\0';
  return buf;
}

std::string dirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// 0 to run, 2 on bad usage, -1 after --help.
int parseArgs(int argc, char** argv, Args* a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        fprintf(stderr, "orvanexd: %s needs a value\n", arg.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return -1;
    } else if (arg == "--home") {
      if (!value(&a->home)) return 2;
    } else if (arg == "--module") {
      if (!value(&a->module)) return 2;
    } else if (arg == "--run-class") {
      if (!value(&a->runClass)) return 2;
    } else if (arg == "--stdout") {
      a->copyStdout = true;
    } else if (arg == "-testcred") {
      // The credential look-up child: the module re-executes this program.
      a->testcred = true;
    } else if (arg == "-bufsize") {
      // A setting of the credential child with its number, read by the module itself.
      if (i + 1 < argc) ++i;
    } else if (a->testcred || arg == "-nss_workaround" || arg == "-debug_creds") {
      // Settings of the credential child, read by the module itself.
    } else {
      fprintf(stderr, "orvanexd: unknown argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (a->testcred) return 0;
  if (a->home.empty()) {
    fprintf(stderr, "orvanexd: --home is required\n%s", kUsage);
    return 2;
  }
  return 0;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ensureDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDirectory(path));
}

const ModuleLibrary* g_lib = nullptr;
std::atomic<bool> g_reloaded{false};

void onReload(Properties*) { g_reloaded.store(true); }

// Picks up edits of the configuration while the agent runs and tells the
// host's listeners.
void reloadTick() {
  g_reloaded.store(false);
  g_lib->testProperties(true, onReload);
  if (g_reloaded.load()) Orvanex::instance().firePropertiesListeners();
}

// The host's own shutdown action: the last handler to run (the first one
// added), after the module's.
class HostShutdown : public ShutdownHandler {
 public:
  void shutdown() override {
    if (g_lib != nullptr) g_lib->log(0, "orvanexd: shutdown handlers ran");
  }
};

int hostMain(const Args& a) {
  static ModuleLibrary lib;
  g_lib = &lib;
  const std::string exe = selfPath();
  const std::string module = a.module.empty() ? dirName(exe) + "/../lib/liborvjava.so" : a.module;
  std::string error;
  if (!loadModule(module, &lib, &error)) {
    fprintf(stderr, "orvanexd: cannot load the module %s: %s\n", module.c_str(), error.c_str());
    return 1;
  }
  if (a.testcred) {
    if (lib.testcred == nullptr) {
      fprintf(stderr, "orvanexd: the module %s has no credential look-up (testcred)\n", module.c_str());
      return 1;
    }
    lib.testcred();
    return 0;
  }

  char real[PATH_MAX];
  if (realpath(a.home.c_str(), real) == nullptr || !isDirectory(real)) {
    fprintf(stderr, "orvanexd: the home directory %s does not exist\n", a.home.c_str());
    return 1;
  }
  const std::string home = real;
  const std::string logDir = home + "/logs";
  if (logDir.size() > kMaxLogDir) {
    fprintf(stderr, "orvanexd: the log directory %s is longer than %zu characters\n", logDir.c_str(), kMaxLogDir);
    return 1;
  }
  if (!ensureDirectory(logDir)) {
    fprintf(stderr, "orvanexd: cannot create the log directory %s: %s\n", logDir.c_str(), strerror(errno));
    return 1;
  }
  lib.setLogDir(logDir.c_str());
  if (a.copyStdout) lib.copyLogToStdout();
  lib.log(0, "orvanexd: home %s, module %s", home.c_str(), module.c_str());

  const std::string propsPath = home + "/orvanex.properties";
  lib.setPropertiesPath(propsPath.c_str());
  if (!lib.testProperties(true, nullptr)) {
    fprintf(stderr, "orvanexd: cannot load the configuration %s (see the log in %s)\n", propsPath.c_str(),
            logDir.c_str());
    return 1;
  }
  configureHost(lib, home, exe);
  (void)ensureDirectory(home + "/tmp");

  // Before the Java VM exists: this thread becomes the runtime's "main" and
  // the signal thread "sig-handler" takes SIGTERM from now on, running the
  // shutdown handlers and ending the process with status 0. The VM runs
  // with -Xrs, so it neither unblocks SIGTERM in its threads nor handles it.
  const bool runtimeTakesTerm = lib.attachMainThread != nullptr;
  if (runtimeTakesTerm) {
    lib.attachMainThread(0);
    static HostShutdown hostShutdown;
    if (lib.addShutdownHandler != nullptr) lib.addShutdownHandler(&hostShutdown);
  }

  const int rc = lib.moduleMain();
  if (rc != 0) {
    fprintf(stderr,
            "orvanexd: the module failed to start (moduleMain returned %d): Unable to create a Java Virtual "
            "Machine.\n"
            "orvanexd: the JVM options are in the log in %s; the VM's own reason is above. On JDK 17,\n"
            "orvanexd: ignoreZGC: true and log_gc: true select collector and GC-log options this VM refuses.\n",
            rc, logDir.c_str());
    return 1;
  }
  if (!a.runClass.empty()) {
    lib.runJavaClass(a.runClass.c_str());  // ends the process
  }
  startConfiguredModules(lib);
  lib.log(0, "orvanexd: running until SIGTERM");
  (void)waitForShutdown(kReloadSeconds, reloadTick, runtimeTakesTerm);
  lib.log(0, "Received request to shutdown...");
  if (lib.fireShutdownHandlers != nullptr) lib.fireShutdownHandlers();
  return 0;
}

struct Startup {
  Args args;
  int status = 1;
};

void* startupThread(void* arg) {
  auto* s = static_cast<Startup*>(arg);
  s->status = hostMain(s->args);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists: every thread, the VM's included, inherits the
  // blocked shutdown signals, which only the waiting thread takes.
  blockShutdownSignals();
  signal(SIGPIPE, SIG_IGN);

  Startup s;
  const int parsed = parseArgs(argc, argv, &s.args);
  if (parsed < 0) return 0;
  if (parsed != 0) return parsed;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kStartupStack);
  pthread_t thread;
  const int err = pthread_create(&thread, &attr, startupThread, &s);
  pthread_attr_destroy(&attr);
  if (err != 0) {
    fprintf(stderr, "orvanexd: cannot start: %s\n", strerror(err));
    return 1;
  }
  pthread_join(thread, nullptr);
  // The Java VM's threads run to the end: leave without running the
  // destructors of statics they may still use.
  fflush(nullptr);
  _exit(s.status);
}
