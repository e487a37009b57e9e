// Feeds arbitrary bytes to the statistics-file readers: as a whole file
// (magic and gzip stream) and as the buffer form. Every input must give
// either a clean refusal or a file that writes back to the same buffer form
// and reads back equal; never a crash, a leak or an out-of-bounds access.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "util/stats_file.h"

namespace {

void checkRoundTrip(const StatsFile& file) {
  std::string buffer = file.writeToBuffer();
  std::unique_ptr<StatsFile> again(StatsFile::readFromBuffer(buffer.data(), buffer.size()));
  if (!again || !(again->entries() == file.entries()) || again->start() != file.start() ||
      again->end() != file.end() || again->version() != file.version()) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::unique_ptr<StatsFile> asFile(StatsFile::readFromFileBytes(bytes, size));
  if (asFile) checkRoundTrip(*asFile);
  std::unique_ptr<StatsFile> asBuffer(StatsFile::readFromBuffer(bytes, size));
  if (asBuffer) checkRoundTrip(*asBuffer);
  // The same bytes behind the magic, as a gzip stream would hide them.
  std::string withMagic = std::string(StatsFile::kMagic, StatsFile::kMagicSize) + std::string(bytes, size);
  std::unique_ptr<StatsFile> behindMagic(StatsFile::readFromFileBytes(withMagic.data(), withMagic.size()));
  if (behindMagic) checkRoundTrip(*behindMagic);
  return 0;
}
