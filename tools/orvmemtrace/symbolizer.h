// Symbolizer: turns return addresses of a memory trace into readable frames
// through the trace's mapping records: the mapped file's ELF symbol table
// (.symtab, else .dynsym, else a debug file found by build id) gives
// "function+0xoff (module)"; a file without symbols gives "module+0xoff"
// (the address as the file's own virtual address, as addr2line takes it), an
// unmapped address its plain value. Files that cannot be read or are not ELF
// are only named, never trusted. Not thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class Symbolizer {
 public:
  Symbolizer();
  ~Symbolizer();
  Symbolizer(const Symbolizer&) = delete;
  Symbolizer& operator=(const Symbolizer&) = delete;

  // Without symbols every frame is printed as module+offset.
  void setUseSymbols(bool use) { _useSymbols = use; }
  // A later mapping over the same addresses wins.
  void addMapping(uint64_t start, uint64_t end, const std::string& path);

  struct Frame {
    bool mapped = false;
    std::string module;    // the mapped path ("" for anonymous code)
    uint64_t fileAddress = 0;  // the address as the file's virtual address (or offset in the mapping)
    std::string function;  // demangled, "" when unknown
    uint64_t functionOffset = 0;
  };
  // `pc` is a return address: the call it belongs to is looked up.
  [[nodiscard]] Frame resolve(uint64_t pc);
  // One line: "function+0x1c (module)", "module+0x1234", or "0x7f...".
  [[nodiscard]] std::string describe(uint64_t pc);

 private:
  struct ElfImage;
  struct Mapping {
    uint64_t start;
    uint64_t end;
    std::string path;
  };
  ElfImage* image(const std::string& path);

  bool _useSymbols = true;
  std::vector<Mapping> _mappings;
  std::map<std::string, std::unique_ptr<ElfImage>> _images;
};
