// The Java heap sizing: the machine's memory, scaled by the host's share
// factor, split into the directory heap (DH), the shared heap (SH), the
// direct memory (DM) and the young generation (Eden), each of which the host
// may override. Plain values and functions; thread-safe.
#pragma once

#include <string>
#include <vector>

// What the sizing is computed from.
struct SizingInputs {
  long long physPages = 0;  // sysconf(_SC_PHYS_PAGES)
  long long pageSize = 0;   // sysconf(_SC_PAGESIZE)
  double shareFactor = 0;   // _perf_share_factor
  int dh = 0;               // _perf_dh, 0: not set
  int sh = 0;               // _perf_sh, 0: not set
  int dm = 0;               // _perf_dm, 0: not set
  double eden = 0.0;        // _perf_eden, 0.0: not set
};

// The result, in megabytes.
struct MemorySizing {
  static constexpr int kJ = 200;  // fixed allowance for the rest of the VM

  long double avail = 0;  // A: available memory
  long double x = 0;      // X: this agent's share of it
  int dh = 0;
  int sh = 0;
  int dm = 0;
  int eden = 0;
  double shareFactor = 0;
  // "(override)" markers of the report. The Eden marker compares the host's
  // factor with the default 0.25, so an unset factor (0.0) is reported as an
  // override although the default is used; log readers know the line so.
  bool dhOverride = false;
  bool shOverride = false;
  bool dmOverride = false;
  bool edenOverride = false;

  // The Java heap: DH + SH + J (direct memory lies outside the heap).
  [[nodiscard]] long long heap() const;
  // What the process may use in all: heap + DM.
  [[nodiscard]] long long impliedXmx() const;
};

[[nodiscard]] MemorySizing computeMemorySizing(const SizingInputs& in);

// The report lines, in order, from "Sizing server..." to "Implied Xmx"; the
// Eden line only when the collector is not ZGC.
[[nodiscard]] std::vector<std::string> sizingReport(const MemorySizing& m, bool zgc);

// The machine-readable "XS#6 { ... }" record (it carries Eden even under ZGC).
[[nodiscard]] std::string sizingRecord(const MemorySizing& m);

// Appends the heap options in their order: -Xmx (unless java.options gave
// one), -Xms (likewise), the headless property, the new-generation sizes (not
// under ZGC), the direct memory size and the -Dorvanex.dm / -Dorvanex.dh
// properties.
void appendSizingOptions(const MemorySizing& m, bool zgc, bool xmxGiven, bool xmsGiven,
                         std::vector<std::string>* options);
