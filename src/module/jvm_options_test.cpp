#include "module/jvm_options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "host/host_globals.h"
#include "host/orvanex.h"
#include "testing/test_util.h"

namespace {

using Strings = std::vector<std::string>;

bool contains(const Strings& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

long indexOf(const Strings& v, const std::string& s) {
  const auto it = std::find(v.begin(), v.end(), s);
  return it == v.end() ? -1 : static_cast<long>(it - v.begin());
}

long countPrefix(const Strings& v, const std::string& prefix) {
  return std::count_if(v.begin(), v.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

// A home with no files, on a 16 GiB machine with a full share.
JvmLaunchInputs baseInputs(const std::string& home) {
  JvmLaunchInputs in;
  in.home = home;
  in.sizing.physPages = 4194304;
  in.sizing.pageSize = 4096;
  in.sizing.shareFactor = 1.0;
  return in;
}

// A lister that answers from a fixed table, in the table's order.
DirectoryLister fixedLister(std::map<std::string, Strings> dirs) {
  return [dirs](const std::string& dir, Strings* names) {
    const auto it = dirs.find(dir);
    if (it == dirs.end()) return false;
    *names = it->second;
    return true;
  };
}

TEST(JvmOptions, WholeListForAnEmptyHome) {
  const JvmOptionPlan plan = buildJvmOptions(baseInputs("/h"));
  const Strings want = {
      "-Djava.class.path=/h/bin/orvanex.jar:/h/bin/orvagent.jar",
      "-Xrs",
      "--illegal-access=permit",
      "-XX:+UnlockExperimentalVMOptions",
      "-XX:+UseZGC",
      "-Djava.io.tmpdir=/h/tmp",
      "-Djdk.attach.allowAttachSelf=true",
      "-XX:-OmitStackTraceInFastThrow",
      "-Dlog4j.configuration=file:////h/log4j.properties",
      "-Djava.util.logging.config.file=//h/logging.properties",
      "-Xss2m",
      "-Xmx3908m",
      "-Xms3908m",
      "-Djava.awt.headlesss=true",
      "-XX:MaxDirectMemorySize=741m",
      "-Dorvanex.dm=741",
      "-Dorvanex.dh=741",
      "abort",
  };
  EXPECT_EQ(plan.options, want);
  EXPECT_TRUE(plan.zgc);

  // The log: the collector, the sizing, the record, then every option.
  const Strings& logs = plan.logLines;
  ASSERT_GE(logs.size(), want.size() + 1);
  EXPECT_EQ(logs.front(), "Using ZGC");
  EXPECT_TRUE(contains(logs, "Sizing server..."));
  EXPECT_TRUE(contains(logs, "            Implied Xmx: 4649 meg"));
  const long params = indexOf(logs, "JVM Parameters: ");
  ASSERT_GE(params, 0);
  EXPECT_EQ(countPrefix(Strings(logs.begin(), logs.begin() + params), "XS#6 "), 1);
  ASSERT_EQ(logs.size() - params - 1, want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(logs[params + 1 + i], "    " + want[i]);
}

TEST(JvmOptions, JavaOptionsFile) {
  struct Case {
    const char* name;
    const char* file;  // null: no java.options
    Strings present;
    Strings absent;
    Strings applied;  // "Applying option" log lines
  };
  const Case cases[] = {
      {"no file", nullptr, {"-Xss2m", "-Xmx3908m", "-Xms3908m"}, {}, {}},
      {"xmx from the file", "-Xmx4g\n", {"-Xmx4g", "-Xms3908m", "-Xss2m"}, {"-Xmx3908m"}, {"-Xmx4g"}},
      {"commented xmx", "#-Xmx4g\n", {"-Xmx3908m", "-Xms3908m", "-Xss2m"}, {"-Xmx4g", "#-Xmx4g"}, {}},
      {"xms only", "-Xms1g\n", {"-Xms1g", "-Xmx3908m"}, {"-Xms3908m"}, {"-Xms1g"}},
      {"xss", "-Xss4m\n", {"-Xss4m", "-Xmx3908m"}, {"-Xss2m"}, {"-Xss4m"}},
      {"blank lines and no final newline", "\n\n-XX:+PrintCommandLineFlags\n\n-Dx=y", {"-XX:+PrintCommandLineFlags", "-Dx=y"},
       {""}, {"-XX:+PrintCommandLineFlags", "-Dx=y"}},
      // Only the first four characters count: -Xmx with anything after it.
      {"xmx prefix", "-Xmxfoo\n", {"-Xmxfoo", "-Xms3908m"}, {"-Xmx3908m"}, {"-Xmxfoo"}},
      // A blank before the option hides it from the check, and the line is
      // passed as written.
      {"leading blank", " -Xmx4g\n", {" -Xmx4g", "-Xmx3908m"}, {}, {" -Xmx4g"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvtest::TempDir home;
    if (c.file) orvtest::writeFile(home.file("java.options"), c.file);
    const JvmOptionPlan plan = buildJvmOptions(baseInputs(home.path()));
    for (const std::string& o : c.present) EXPECT_TRUE(contains(plan.options, o)) << o;
    for (const std::string& o : c.absent) EXPECT_FALSE(contains(plan.options, o)) << o;
    EXPECT_EQ(countPrefix(plan.logLines, "   Applying option"), static_cast<long>(c.applied.size()));
    for (const std::string& o : c.applied) {
      EXPECT_TRUE(contains(plan.logLines, "   Applying option '" + o + "' to the JVM")) << o;
    }
    // File options come before the default -Xss and the heap options.
    for (const std::string& o : c.applied) {
      const long at = indexOf(plan.options, o);
      const long xms = indexOf(plan.options, "-Xms3908m");
      if (at >= 0 && xms >= 0) {
        EXPECT_LT(at, xms);
      }
    }
  }
}

TEST(JvmOptions, LongLinesAreKeptWhole) {
  orvtest::TempDir home;
  const std::string longOption = "-Dlong=" + std::string(20000, 'v');
  const std::string longBoot = "boot.long=" + std::string(5000, 'b');
  orvtest::writeFile(home.file("java.options"), longOption + "\n");
  ASSERT_EQ(mkdir(home.file("lib").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(home.file("lib/boot").c_str(), 0755), 0);
  orvtest::writeFile(home.file("lib/boot/long-boot.properties"), longBoot + "\n");
  const JvmOptionPlan plan = buildJvmOptions(baseInputs(home.path()));
  EXPECT_TRUE(contains(plan.options, longOption));
  EXPECT_TRUE(contains(plan.options, "-D" + longBoot));
}

TEST(JvmOptions, Collectors) {
  struct Case {
    const char* name;
    bool ignoreZGC, ignoreMarkAndSweep;
    const char* logLine;
    Strings collector;  // options between --illegal-access=permit and -Djava.io.tmpdir
    bool edenLine;
    bool newSize;
  };
  const Case cases[] = {
      {"zgc", false, false, "Using ZGC", {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC"}, false, false},
      {"zgc ignores mark and sweep", false, true, "Using ZGC", {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC"},
       false, false},
      {"mark and sweep", true, false, "Using Mark/Sweep",
       {"-XX:+UnlockDiagnosticVMOptions", "-XX:+UseConcMarkSweepGC", "-XX:CMSInitiatingOccupancyFraction=80",
        "-XX:ParGCCardsPerStrideChunk=32768"},
       true, true},
      {"no collector option", true, true, "Using Mark/Sweep", {}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JvmLaunchInputs in = baseInputs("/h");
    in.ignoreZGC = c.ignoreZGC;
    in.ignoreMarkAndSweep = c.ignoreMarkAndSweep;
    const JvmOptionPlan plan = buildJvmOptions(in);
    EXPECT_EQ(plan.logLines.front(), c.logLine);
    EXPECT_EQ(plan.zgc, !c.ignoreZGC);
    const long from = indexOf(plan.options, "--illegal-access=permit");
    const long to = indexOf(plan.options, "-Djava.io.tmpdir=/h/tmp");
    ASSERT_GE(from, 0);
    ASSERT_GT(to, from);
    EXPECT_EQ(Strings(plan.options.begin() + from + 1, plan.options.begin() + to), c.collector);
    EXPECT_EQ(countPrefix(plan.logLines, "                   Eden: 741 meg"), c.edenLine ? 1 : 0);
    EXPECT_EQ(contains(plan.options, "-XX:NewSize=741m"), c.newSize);
    EXPECT_EQ(contains(plan.options, "-XX:MaxNewSize=741m"), c.newSize);
    EXPECT_EQ(countPrefix(plan.logLines, "XS#6 "), 1);
  }
}

TEST(JvmOptions, GcLogOptions) {
  JvmLaunchInputs in = baseInputs("/h");
  in.logGc = true;
  const JvmOptionPlan plan = buildJvmOptions(in);
  const long at = indexOf(plan.options, "-Xloggc:/h/logs/gc-%t.log");
  ASSERT_GE(at, 0);
  const Strings want = {"-Xloggc:/h/logs/gc-%t.log",      "-XX:+PrintGCDetails",   "-XX:+PrintGCDateStamps",
                        "-XX:+PrintGCCause",              "-XX:+PrintTenuringDistribution",
                        "-XX:+UseGCLogFileRotation",      "-XX:NumberOfGCLogFiles=3",
                        "-XX:GCLogFileSize=5M",           "-Djava.io.tmpdir=/h/tmp"};
  EXPECT_EQ(Strings(plan.options.begin() + at, plan.options.begin() + at + want.size()), want);
}

TEST(JvmOptions, ClassPathTakesJarsLongerThanFiveCharacters) {
  JvmLaunchInputs in = baseInputs("/h");
  in.lister = fixedLister({
      {"/h/lib/boot", {".", "..", "a.jar", "zz.jar", ".jar", "notes.txt", "ab.jar", "x.jar.old"}},
      {"/h/lib/thirdparty", {"commons-logging.jar", "b.jar"}},
  });
  const JvmOptionPlan plan = buildJvmOptions(in);
  EXPECT_EQ(plan.options[0],
            "-Djava.class.path=/h/bin/orvanex.jar:/h/bin/orvagent.jar:/h/lib/boot/zz.jar:/h/lib/boot/ab.jar:"
            "/h/lib/thirdparty/commons-logging.jar");
}

TEST(JvmOptions, ClassPathFromRealDirectories) {
  orvtest::TempDir home;
  ASSERT_EQ(mkdir(home.file("lib").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(home.file("lib/boot").c_str(), 0755), 0);
  orvtest::writeFile(home.file("lib/boot/a.jar"), "");
  orvtest::writeFile(home.file("lib/boot/ab.jar"), "");
  const JvmOptionPlan plan = buildJvmOptions(baseInputs(home.path()));
  EXPECT_NE(plan.options[0].find(":" + home.path() + "/lib/boot/ab.jar"), std::string::npos);
  EXPECT_EQ(plan.options[0].find("/a.jar"), std::string::npos);
}

TEST(JvmOptions, BootPropertiesFiles) {
  orvtest::TempDir home;
  ASSERT_EQ(mkdir(home.file("lib").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(home.file("lib/boot").c_str(), 0755), 0);
  orvtest::writeFile(home.file("lib/boot/x.properties"), "x.ignored=1\n");  // 12 characters: ignored
  orvtest::writeFile(home.file("lib/boot/xy.properties"), "# comment\n\nxy.one=1\nxy.two = two words\n");
  JvmLaunchInputs in = baseInputs(home.path());
  const JvmOptionPlan plan = buildJvmOptions(in);
  EXPECT_FALSE(contains(plan.options, "-Dx.ignored=1"));
  EXPECT_TRUE(contains(plan.options, "-Dxy.one=1"));
  EXPECT_TRUE(contains(plan.options, "-Dxy.two = two words"));
  EXPECT_FALSE(contains(plan.options, "-D# comment"));
  // Boot properties come after the logging properties and before -Xss.
  EXPECT_GT(indexOf(plan.options, "-Dxy.one=1"),
            indexOf(plan.options, "-Djava.util.logging.config.file=/" + home.path() + "/logging.properties"));
  EXPECT_LT(indexOf(plan.options, "-Dxy.two = two words"), indexOf(plan.options, "-Xss2m"));
}

TEST(JvmOptions, HostTextsAndEnvironment) {
  struct Case {
    const char* name;
    const char* serves;
    const char* asset;
    bool valgrind, profile;
    Strings between;  // options between -XX:-OmitStackTraceInFastThrow and -Dlog4j...
  };
  const Case cases[] = {
      {"nothing", nullptr, nullptr, false, false, {}},
      {"serves", "dom.example", nullptr, false, false, {"-Dvesk.serves=dom.example"}},
      {"all", "dom.example", "asset-1", true, false,
       {"-Dvesk.serves=dom.example", "-Djava.compiler=NONE", "-Dvesk.assetName=asset-1"}},
      {"valgrind only", nullptr, nullptr, true, false, {"-Djava.compiler=NONE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JvmLaunchInputs in = baseInputs("/h");
    if (c.serves) in.serves = c.serves;
    if (c.asset) in.assetName = c.asset;
    in.valgrind = c.valgrind;
    in.profileJava = c.profile;
    const JvmOptionPlan plan = buildJvmOptions(in);
    const long from = indexOf(plan.options, "-XX:-OmitStackTraceInFastThrow");
    const long to = indexOf(plan.options, "-Dlog4j.configuration=file:////h/log4j.properties");
    ASSERT_GE(from, 0);
    ASSERT_GT(to, from);
    EXPECT_EQ(Strings(plan.options.begin() + from + 1, plan.options.begin() + to), c.between);
  }
}

TEST(JvmOptions, ProfilingAgentComesBeforeAbort) {
  JvmLaunchInputs in = baseInputs("/h");
  in.profileJava = true;
  const JvmOptionPlan plan = buildJvmOptions(in);
  ASSERT_GE(plan.options.size(), 2u);
  EXPECT_EQ(plan.options[plan.options.size() - 2], "-agentpath:/h/jprofiler/bin/linux-x64/libjprofilerti.so");
  EXPECT_EQ(plan.options.back(), "abort");
  const long logged = indexOf(plan.logLines, "Will enable java profiling via jprofiler");
  const auto xs6 = std::find_if(plan.logLines.begin(), plan.logLines.end(),
                                [](const std::string& l) { return l.rfind("XS#6 ", 0) == 0; });
  ASSERT_NE(xs6, plan.logLines.end());
  EXPECT_GT(logged, xs6 - plan.logLines.begin());
  EXPECT_LT(logged, indexOf(plan.logLines, "JVM Parameters: "));
}

TEST(JvmOptions, MoreThanAHundredOptionsAreAllKept) {
  orvtest::TempDir home;
  std::string file;
  for (int i = 0; i < 150; ++i) file += "-Dmany." + std::to_string(i) + "=1\n";
  orvtest::writeFile(home.file("java.options"), file);
  const JvmOptionPlan plan = buildJvmOptions(baseInputs(home.path()));
  EXPECT_GT(plan.options.size(), 160u);
  EXPECT_TRUE(contains(plan.options, "-Dmany.149=1"));
  EXPECT_EQ(plan.options.back(), "abort");
}

TEST(JvmOptions, CurrentInputsComeFromHostConfigurationAndEnvironment) {
  Orvanex& host = Orvanex::instance();
  host.setHome("/opt/orvanex");
  host.setServes("dom.example");
  host.setAssetName(nullptr);
  _perf_share_factor = 0.5;
  _perf_dh = 11;
  _perf_sh = 22;
  _perf_dm = 33;
  _perf_eden = 0.4;
  setenv("VALGRIND", "", 1);  // set with any value, even an empty one
  unsetenv("PROFILEJAVA");
  const JvmLaunchInputs in = currentLaunchInputs();
  EXPECT_EQ(in.home, "/opt/orvanex");
  ASSERT_TRUE(in.serves.has_value());
  EXPECT_EQ(*in.serves, "dom.example");
  EXPECT_FALSE(in.assetName.has_value());
  EXPECT_TRUE(in.valgrind);
  EXPECT_FALSE(in.profileJava);
  EXPECT_EQ(in.sizing.shareFactor, 0.5);
  EXPECT_EQ(in.sizing.dh, 11);
  EXPECT_EQ(in.sizing.sh, 22);
  EXPECT_EQ(in.sizing.dm, 33);
  EXPECT_EQ(in.sizing.eden, 0.4);
  EXPECT_GT(in.sizing.physPages, 0);
  EXPECT_GT(in.sizing.pageSize, 0);
  // No configuration loaded: every switch has its default.
  EXPECT_FALSE(in.ignoreZGC);
  EXPECT_FALSE(in.ignoreMarkAndSweep);
  EXPECT_FALSE(in.logGc);
  unsetenv("VALGRIND");
}

}  // namespace
