#include "module/jvm_options.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "foundation/properties.h"
#include "host/host_globals.h"
#include "host/orvanex.h"

namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Appends ":dir/name" for every jar of `dir`. Names of five characters or
// fewer (".jar" itself, "a.jar") are not taken.
void appendJars(const JvmLaunchInputs& in, const std::string& dir, std::string* classPath) {
  std::vector<std::string> names;
  if (!in.lister(dir, &names)) return;
  for (const std::string& name : names) {
    if (name.size() > 5 && endsWith(name, ".jar")) {
      *classPath += ":" + dir + "/" + name;
    }
  }
}

// Every non-empty, non-comment line of a boot properties file becomes a
// system property. Lines are taken whole, however long: a cut line would
// become a wrong option.
void appendBootProperties(const JvmLaunchInputs& in, std::vector<std::string>* options) {
  const std::string dir = in.home + "/lib/boot";
  std::vector<std::string> names;
  if (!in.lister(dir, &names)) return;
  for (const std::string& name : names) {
    if (name.size() <= 12 || !endsWith(name, ".properties")) continue;
    std::ifstream file(dir + "/" + name);
    if (!file) continue;
    std::string line;
    while (std::getline(file, line)) {
      if (line.empty() || line[0] == '#') continue;
      options->push_back("-D" + line);
    }
  }
}

struct JavaOptionsResult {
  bool xmx = false;
  bool xms = false;
  bool xss = false;
};

JavaOptionsResult appendJavaOptionsFile(const JvmLaunchInputs& in, std::vector<std::string>* options,
                                        std::vector<std::string>* logLines) {
  JavaOptionsResult seen;
  std::ifstream file(in.home + "/java.options");
  if (!file) return seen;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    logLines->push_back("   Applying option '" + line + "' to the JVM");
    options->push_back(line);
    const std::string head = line.substr(0, 4);
    if (head == "-Xmx") seen.xmx = true;
    if (head == "-Xms") seen.xms = true;
    if (head == "-Xss") seen.xss = true;
  }
  return seen;
}

}  // namespace

bool listDirectory(const std::string& dir, std::vector<std::string>* names) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return false;
  while (const dirent* e = readdir(d)) names->emplace_back(e->d_name);
  closedir(d);
  return true;
}

JvmOptionPlan buildJvmOptions(const JvmLaunchInputs& in) {
  JvmOptionPlan plan;
  std::vector<std::string>& opts = plan.options;
  std::vector<std::string>& logs = plan.logLines;
  const std::string& home = in.home;

  std::string classPath = "-Djava.class.path=" + home + "/bin/orvanex.jar:" + home + "/bin/orvagent.jar";
  appendJars(in, home + "/lib/boot", &classPath);
  appendJars(in, home + "/lib/thirdparty", &classPath);
  opts.push_back(classPath);

  opts.push_back("-Xrs");
  opts.push_back("--illegal-access=permit");

  if (!in.ignoreZGC) {
    logs.push_back("Using ZGC");
    opts.push_back("-XX:+UnlockExperimentalVMOptions");
    opts.push_back("-XX:+UseZGC");
    plan.zgc = true;
  } else {
    logs.push_back("Using Mark/Sweep");
    if (!in.ignoreMarkAndSweep) {
      opts.push_back("-XX:+UnlockDiagnosticVMOptions");
      opts.push_back("-XX:+UseConcMarkSweepGC");
      opts.push_back("-XX:CMSInitiatingOccupancyFraction=80");
      opts.push_back("-XX:ParGCCardsPerStrideChunk=32768");
    }
  }

  if (in.logGc) {
    opts.push_back("-Xloggc:" + home + "/logs/gc-%t.log");
    opts.push_back("-XX:+PrintGCDetails");
    opts.push_back("-XX:+PrintGCDateStamps");
    opts.push_back("-XX:+PrintGCCause");
    opts.push_back("-XX:+PrintTenuringDistribution");
    opts.push_back("-XX:+UseGCLogFileRotation");
    opts.push_back("-XX:NumberOfGCLogFiles=3");
    opts.push_back("-XX:GCLogFileSize=5M");
  }

  opts.push_back("-Djava.io.tmpdir=" + home + "/tmp");
  opts.push_back("-Djdk.attach.allowAttachSelf=true");
  opts.push_back("-XX:-OmitStackTraceInFastThrow");

  if (in.serves) opts.push_back("-Dvesk.serves=" + *in.serves);
  if (in.valgrind) opts.push_back("-Djava.compiler=NONE");
  if (in.assetName) opts.push_back("-Dvesk.assetName=" + *in.assetName);

  opts.push_back("-Dlog4j.configuration=file:///" + home + "/log4j.properties");
  opts.push_back("-Djava.util.logging.config.file=/" + home + "/logging.properties");

  appendBootProperties(in, &opts);
  const JavaOptionsResult given = appendJavaOptionsFile(in, &opts, &logs);
  if (!given.xss) opts.push_back("-Xss2m");

  plan.sizing = computeMemorySizing(in.sizing);
  for (std::string& line : sizingReport(plan.sizing, plan.zgc)) logs.push_back(std::move(line));
  appendSizingOptions(plan.sizing, plan.zgc, given.xmx, given.xms, &opts);
  logs.push_back(sizingRecord(plan.sizing));

  if (in.profileJava) {
    logs.push_back("Will enable java profiling via jprofiler");
    opts.push_back("-agentpath:" + home + "/jprofiler/bin/linux-x64/libjprofilerti.so");
  }
  opts.push_back("abort");

  logs.push_back("JVM Parameters: ");
  for (const std::string& o : opts) logs.push_back("    " + o);
  return plan;
}

JvmLaunchInputs currentLaunchInputs() {
  JvmLaunchInputs in;
  const Orvanex& host = Orvanex::instance();
  if (const char* home = host.getHome()) in.home = home;
  if (const char* serves = host.getServes()) in.serves = serves;
  if (const char* asset = host.getAssetName()) in.assetName = asset;
  in.ignoreZGC = s_getBoolProperty("ignoreZGC", false);
  in.ignoreMarkAndSweep = s_getBoolProperty("ignoreMarkAndSweep", false);
  in.logGc = s_getBoolProperty("log_gc", false);
  in.valgrind = std::getenv("VALGRIND") != nullptr;
  in.profileJava = std::getenv("PROFILEJAVA") != nullptr;
  in.sizing.physPages = sysconf(_SC_PHYS_PAGES);
  in.sizing.pageSize = sysconf(_SC_PAGESIZE);
  in.sizing.shareFactor = _perf_share_factor;
  in.sizing.dh = _perf_dh;
  in.sizing.sh = _perf_sh;
  in.sizing.dm = _perf_dm;
  in.sizing.eden = _perf_eden;
  return in;
}
