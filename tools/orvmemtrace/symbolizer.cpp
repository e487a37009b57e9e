#include "symbolizer.h"

#include <cxxabi.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t kPageMask = ~uint64_t{0xfff};

// A read-only view of a whole file.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) {
        _data = static_cast<const uint8_t*>(p);
        _size = static_cast<size_t>(st.st_size);
      }
    }
    close(fd);
  }
  ~MappedFile() {
    if (_data != nullptr) munmap(const_cast<uint8_t*>(_data), _size);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // [offset, offset + length) lies inside the file.
  bool has(uint64_t offset, uint64_t length) const {
    return _data != nullptr && offset <= _size && length <= _size - offset;
  }
  template <typename T>
  bool get(uint64_t offset, T* out) const {
    if (!has(offset, sizeof(T))) return false;
    std::memcpy(out, _data + offset, sizeof(T));
    return true;
  }
  const uint8_t* data() const { return _data; }
  size_t size() const { return _size; }

 private:
  const uint8_t* _data = nullptr;
  size_t _size = 0;
};

std::string demangle(const char* name) {
  int status = 0;
  char* out = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  if (status != 0 || out == nullptr) return name;
  std::string s(out);
  std::free(out);
  return s;
}

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
  return buf;
}

}  // namespace

struct Symbolizer::ElfImage {
  bool elf = false;
  bool haveExecSegment = false;
  uint64_t execVaddr = 0;  // page-aligned start of the first executable segment
  struct Symbol {
    uint64_t address;
    uint64_t size;
    std::string name;
  };
  std::vector<Symbol> symbols;  // sorted by address
  std::string buildId;           // hex

  void load(const std::string& path, bool readSymbols);
  bool loadSymbols(const MappedFile& f, const Elf64_Ehdr& eh);
  const Symbol* find(uint64_t address) const;
};

void Symbolizer::ElfImage::load(const std::string& path, bool readSymbols) {
  MappedFile f(path);
  Elf64_Ehdr eh;
  if (!f.get(0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB) {
    return;
  }
  elf = true;
  for (uint16_t i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    if (!f.get(eh.e_phoff + uint64_t{i} * sizeof ph, &ph)) break;
    if (ph.p_type == PT_LOAD && (ph.p_flags & PF_X) && !haveExecSegment) {
      haveExecSegment = true;
      execVaddr = ph.p_vaddr & kPageMask;
    }
    if (ph.p_type == PT_NOTE && buildId.empty()) {
      // Notes: namesz, descsz, type, name (4-aligned), desc (4-aligned).
      uint64_t at = ph.p_offset;
      uint64_t end = ph.p_offset + ph.p_filesz;
      while (at + 12 <= end) {
        uint32_t nameSize, descSize, type;
        if (!f.get(at, &nameSize) || !f.get(at + 4, &descSize) || !f.get(at + 8, &type)) break;
        uint64_t name = at + 12;
        uint64_t desc = name + ((uint64_t{nameSize} + 3) & ~uint64_t{3});
        uint64_t next = desc + ((uint64_t{descSize} + 3) & ~uint64_t{3});
        if (next > end || !f.has(desc, descSize)) break;
        if (type == NT_GNU_BUILD_ID && nameSize == 4 && std::memcmp(f.data() + name, "GNU", 4) == 0) {
          for (uint32_t k = 0; k < descSize; ++k) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", f.data()[desc + k]);
            buildId += two;
          }
          break;
        }
        at = next;
      }
    }
  }
  if (!readSymbols) return;
  if (!loadSymbols(f, eh) && buildId.size() > 2) {
    // Symbols stripped into a debug package.
    MappedFile debug("/usr/lib/debug/.build-id/" + buildId.substr(0, 2) + "/" + buildId.substr(2) + ".debug");
    Elf64_Ehdr dh;
    if (debug.get(0, &dh) && std::memcmp(dh.e_ident, ELFMAG, SELFMAG) == 0 && dh.e_ident[EI_CLASS] == ELFCLASS64) {
      (void)loadSymbols(debug, dh);
    }
  }
}

bool Symbolizer::ElfImage::loadSymbols(const MappedFile& f, const Elf64_Ehdr& eh) {
  if (eh.e_shentsize != sizeof(Elf64_Shdr)) return false;
  std::vector<Elf64_Shdr> sections(eh.e_shnum);
  for (uint16_t i = 0; i < eh.e_shnum; ++i) {
    if (!f.get(eh.e_shoff + uint64_t{i} * sizeof(Elf64_Shdr), &sections[i])) return false;
  }
  for (uint32_t wanted : {uint32_t{SHT_SYMTAB}, uint32_t{SHT_DYNSYM}}) {
    for (const Elf64_Shdr& sh : sections) {
      if (sh.sh_type != wanted || sh.sh_entsize != sizeof(Elf64_Sym) || sh.sh_link >= sections.size()) continue;
      const Elf64_Shdr& strings = sections[sh.sh_link];
      if (!f.has(sh.sh_offset, sh.sh_size) || !f.has(strings.sh_offset, strings.sh_size)) continue;
      const char* names = reinterpret_cast<const char*>(f.data() + strings.sh_offset);
      for (uint64_t at = 0; at + sizeof(Elf64_Sym) <= sh.sh_size; at += sizeof(Elf64_Sym)) {
        Elf64_Sym sym;
        (void)f.get(sh.sh_offset + at, &sym);
        int type = ELF64_ST_TYPE(sym.st_info);
        if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_value == 0 || sym.st_shndx == SHN_UNDEF) continue;
        if (sym.st_name >= strings.sh_size) continue;
        const char* name = names + sym.st_name;
        size_t length = strnlen(name, strings.sh_size - sym.st_name);
        if (length == strings.sh_size - sym.st_name) continue;  // not terminated inside the table
        symbols.push_back(Symbol{sym.st_value, sym.st_size, demangle(name)});
      }
    }
    if (!symbols.empty()) break;
  }
  std::sort(symbols.begin(), symbols.end(), [](const Symbol& a, const Symbol& b) {
    return a.address < b.address || (a.address == b.address && a.size > b.size);
  });
  return !symbols.empty();
}

const Symbolizer::ElfImage::Symbol* Symbolizer::ElfImage::find(uint64_t address) const {
  auto it = std::upper_bound(symbols.begin(), symbols.end(), address,
                             [](uint64_t a, const Symbol& s) { return a < s.address; });
  if (it == symbols.begin()) return nullptr;
  --it;
  // Symbols of unknown size reach to the next symbol.
  if (it->size != 0 && address >= it->address + it->size) return nullptr;
  return &*it;
}

Symbolizer::Symbolizer() = default;
Symbolizer::~Symbolizer() = default;

void Symbolizer::addMapping(uint64_t start, uint64_t end, const std::string& path) {
  _mappings.push_back(Mapping{start, end, path});
}

Symbolizer::ElfImage* Symbolizer::image(const std::string& path) {
  auto it = _images.find(path);
  if (it != _images.end()) return it->second.get();
  auto img = std::make_unique<ElfImage>();
  // "[vdso]" and other bracketed names are not files.
  if (!path.empty() && path[0] == '/') img->load(path, _useSymbols);
  ElfImage* raw = img.get();
  _images.emplace(path, std::move(img));
  return raw;
}

Symbolizer::Frame Symbolizer::resolve(uint64_t pc) {
  Frame frame;
  const Mapping* m = nullptr;
  for (auto it = _mappings.rbegin(); it != _mappings.rend(); ++it) {
    if (pc >= it->start && pc < it->end) {
      m = &*it;
      break;
    }
  }
  if (m == nullptr) return frame;
  frame.mapped = true;
  frame.module = m->path;
  frame.fileAddress = pc - m->start;
  ElfImage* img = image(m->path);
  if (img->elf && img->haveExecSegment) {
    frame.fileAddress = pc - m->start + img->execVaddr;
    // A return address points behind its call: look up the call itself.
    if (const ElfImage::Symbol* s = img->find(frame.fileAddress - 1)) {
      frame.function = s->name;
      frame.functionOffset = frame.fileAddress - s->address;
    }
  }
  return frame;
}

std::string Symbolizer::describe(uint64_t pc) {
  Frame f = resolve(pc);
  if (!f.mapped) return hex(pc);
  std::string module = f.module.empty() ? "anonymous code" : f.module;
  if (!f.function.empty()) return f.function + "+" + hex(f.functionOffset) + " (" + module + ")";
  return module + "+" + hex(f.fileAddress);
}
