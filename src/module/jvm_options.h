// The Java VM option list: the class path, the fixed options, the collector,
// the system properties, the boot properties files, the installation's
// java.options file and the heap sizing, in the order the VM receives them,
// with the log lines that go with them. Built by plain functions from plain
// inputs, so that it can be checked without a VM. Thread-safe.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "module/memory_sizing.h"

// Lists the entry names of a directory in the order the system returns them
// (no sorting). False when the directory cannot be opened.
using DirectoryLister = std::function<bool(const std::string& dir, std::vector<std::string>* names)>;

// The opendir/readdir lister.
[[nodiscard]] bool listDirectory(const std::string& dir, std::vector<std::string>* names);

// Everything the option list depends on. Files (boot properties, java.options)
// are read below `home`.
struct JvmLaunchInputs {
  std::string home;
  std::optional<std::string> serves;
  std::optional<std::string> assetName;
  bool ignoreZGC = false;           // property ignoreZGC
  bool ignoreMarkAndSweep = false;  // property ignoreMarkAndSweep
  bool logGc = false;               // property log_gc
  bool valgrind = false;            // environment variable VALGRIND is set
  bool profileJava = false;         // environment variable PROFILEJAVA is set
  SizingInputs sizing;
  DirectoryLister lister = listDirectory;
};

struct JvmOptionPlan {
  // Option texts in table order; the last one is the "abort" entry, which
  // carries the abort hook.
  std::vector<std::string> options;
  // Lines to log, in order, ending with "JVM Parameters: " and one line per
  // option.
  std::vector<std::string> logLines;
  bool zgc = false;
  MemorySizing sizing;
};

[[nodiscard]] JvmOptionPlan buildJvmOptions(const JvmLaunchInputs& in);

// The inputs of this process: the host singleton's home, serves and asset
// name, the configuration's collector and GC-log switches, the environment,
// the host's sizing globals and the machine's memory.
[[nodiscard]] JvmLaunchInputs currentLaunchInputs();
