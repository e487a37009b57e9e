// Memory traces come from files a person hands to orvmemtrace: the reader and
// the summary must take any bytes without crashing or believing a length.
#include <cstdint>
#include <sstream>
#include <string>

#include "../tools/orvmemtrace/symbolizer.h"
#include "../tools/orvmemtrace/trace_reader.h"
#include "../tools/orvmemtrace/trace_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TraceReader reader(in);
  TraceSummary summary;
  TraceRecord record;
  while (reader.next(&record) == TraceReader::Status::kRecord) summary.add(record);
  Symbolizer symbolizer;
  symbolizer.setUseSymbols(false);
  std::ostringstream out;
  summary.print(out, symbolizer, TraceSummary::Options{});
  return 0;
}
