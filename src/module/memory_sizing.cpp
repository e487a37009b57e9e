#include "module/memory_sizing.h"

#include <climits>
#include <cstdarg>
#include <cstdio>

namespace {

// Truncates toward zero into an int. Sizes beyond what an int can hold (a
// share factor far out of range) are held at the limit instead of being
// undefined.
int truncToInt(long double v) {
  if (v != v) return 0;  // NaN
  if (v >= static_cast<long double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<long double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  const int n = vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(out.data(), out.size() + 1, fmt, ap2);
  va_end(ap2);
  return out;
}

const char* marker(bool override) { return override ? "(override)" : ""; }

}  // namespace

long long MemorySizing::heap() const { return static_cast<long long>(dh) + sh + kJ; }

long long MemorySizing::impliedXmx() const { return heap() + dm; }

MemorySizing computeMemorySizing(const SizingInputs& in) {
  MemorySizing m;
  // Pages are scaled down before they are multiplied so that the product
  // stays well inside 64 bits on any machine.
  const long long a = ((in.physPages / 1024) * (in.pageSize / 128)) / 8;
  m.avail = static_cast<long double>(a);
  m.shareFactor = in.shareFactor;
  m.x = m.avail * in.shareFactor * 0.2717391;
  // The factors are the historical ones, not 1/6 and 2/3: the sizes they
  // give are what installations have been tuned against.
  m.dh = in.dh != 0 ? in.dh : truncToInt(m.x * 0.1666);
  m.sh = in.sh != 0 ? in.sh : truncToInt(m.x * 0.6666);
  m.dm = in.dm != 0 ? in.dm : truncToInt(m.x * 0.16666);
  const double e = in.eden != 0.0 ? in.eden : 0.25;
  m.eden = truncToInt(static_cast<long double>(e * static_cast<double>(m.sh)));
  m.dhOverride = in.dh != 0;
  m.shOverride = in.sh != 0;
  m.dmOverride = in.dm != 0;
  m.edenOverride = in.eden != 0.25;
  return m;
}

std::vector<std::string> sizingReport(const MemorySizing& m, bool zgc) {
  std::vector<std::string> lines;
  lines.push_back("Sizing server...");
  lines.push_back(format("    Available memory is: %0.0Lf meg", m.avail));
  lines.push_back(format("           Share Factor: %03.2f%%", m.shareFactor));
  lines.push_back(format("                      X: %0.0Lf meg", m.x));
  lines.push_back(format("                     DH: %d meg %s", m.dh, marker(m.dhOverride)));
  lines.push_back(format("                     SH: %d meg %s", m.sh, marker(m.shOverride)));
  if (!zgc) lines.push_back(format("                   Eden: %d meg %s", m.eden, marker(m.edenOverride)));
  lines.push_back(format("                     DM: %d meg %s", m.dm, marker(m.dmOverride)));
  lines.push_back(format("                      J: %d meg", MemorySizing::kJ));
  lines.push_back(format("            Implied Xmx: %lld meg", m.impliedXmx()));
  return lines;
}

std::string sizingRecord(const MemorySizing& m) {
  return format("XS#6 { \"avail\": %0.0Lf, \"scale\": %f, \"dh\": %d, \"sh\": %d, \"dm\": %d, \"eden\": %d }", m.avail,
                m.shareFactor, m.dh, m.sh, m.dm, m.eden);
}

void appendSizingOptions(const MemorySizing& m, bool zgc, bool xmxGiven, bool xmsGiven,
                         std::vector<std::string>* options) {
  if (!xmxGiven) options->push_back(format("-Xmx%lldm", m.heap()));
  if (!xmsGiven) options->push_back(format("-Xms%lldm", m.heap()));
  // The property name is misspelt, and has always been: Java code may read
  // it under this name, and the VM never relied on it being headless.
  options->push_back("-Djava.awt.headlesss=true");
  if (!zgc) {
    options->push_back(format("-XX:NewSize=%dm", m.eden));
    options->push_back(format("-XX:MaxNewSize=%dm", m.eden));
  }
  options->push_back(format("-XX:MaxDirectMemorySize=%dm", m.dm));
  options->push_back(format("-Dorvanex.dm=%d", m.dm));
  options->push_back(format("-Dorvanex.dh=%d", m.dh));
}
