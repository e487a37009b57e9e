// The allocator entry points of the process and the memory tracing behind
// them. This file must work before any constructor has run and must never
// allocate through itself: all state is constant-initialised, the guard table
// lives in mmap'd memory, records are encoded on the stack and written with
// plain system calls, and diagnostics go to standard error without stdio.
//
// Re-entrancy: taking a stack (the first backtrace loads the unwinder), the
// dynamic loader and fork handlers may call back into the allocator while a
// hook is at work. A per-thread flag sends such calls straight to the C
// library, untraced, and the hook lock counts its depth per thread, so no
// thread ever waits for a lock it holds itself. The stack is taken before the
// lock, so the loader's own lock is never taken while the hook lock is held.
//
// Guarded blocks are known by the BlockTable, never by their contents: a block
// from before guards were on, from the aligned functions, or whose guard bytes
// were overwritten is still released the right way.
#include "foundation/memhooks/mem_hooks.h"

#include <dlfcn.h>
#include <errno.h>
#include <execinfo.h>
#include <link.h>
#include <malloc.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

#include "foundation/memhooks/block_table.h"
#include "foundation/memhooks/maps_scanner.h"
#include "foundation/memhooks/record_encoder.h"
#include "foundation/memhooks/trace_format.h"
#include "foundation/memhooks/trace_sink.h"

#define ORV_EXPORT __attribute__((visibility("default")))

// The C library's allocator under its own names.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void __libc_free(void* ptr);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace {

using namespace memtrace;

// ---------------------------------------------------------------- state

// Bits of the one word the hooks test on every call: zero means "forward to
// the C library", which is all that happens while nothing is on.
constexpr unsigned kTracing = 1;        // records are written
constexpr unsigned kGuardedBlocks = 2;  // guarded blocks may be alive
std::atomic<unsigned> g_mode{0};

// Serialises every traced call and the trace stream. Statically initialised:
// usable before constructors run.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;

// Guarded blocks start 8 bytes into the C library's block, so that the user
// data, 24 bytes further, keeps the 16-byte alignment malloc promises.
constexpr size_t kAlignPad = 8;
constexpr size_t kGuardedExtra = kGuardOverhead + kAlignPad;
constexpr size_t kMaxGuardedSize = SIZE_MAX - kGuardedExtra;

// Under g_lock.
bool pattern_check = false;  // new blocks get guard patterns
int _fd_ = -1;               // the trace destination
bool g_fdIsSocket = false;
BlockTable g_blocks;
unsigned long long g_loadCount = 0;  // loader's count of loaded objects at the last map scan

struct KnownMapping {
  uint64_t start;
  uint64_t end;
  uint64_t pathHash;
};
constexpr size_t kMaxKnownMappings = 2048;
KnownMapping g_known[kMaxKnownMappings];
size_t g_knownCount = 0;

// Written once by orv_init_mem_hooks before tracing goes on.
uintptr_t g_selfStart = 0;  // this library's executable segment
uintptr_t g_selfEnd = 0;
std::atomic<bool> g_initStarted{false};

// The C library's malloc_usable_size, which has no other name.
using UsableSizeFn = size_t (*)(void*);
std::atomic<UsableSizeFn> g_libcUsableSize{nullptr};

// Per thread, in the static TLS block so that reaching them never allocates.
__attribute__((tls_model("initial-exec"))) thread_local bool t_busy = false;
__attribute__((tls_model("initial-exec"))) thread_local int t_lockDepth = 0;

bool tracingOn() { return (g_mode.load(std::memory_order_relaxed) & kTracing) != 0; }
bool guardedBlocksMayExist() { return (g_mode.load(std::memory_order_relaxed) & kGuardedBlocks) != 0; }
// A call is traced when tracing is on and the thread is not already inside a
// hook. Acquire: what orv_init_mem_hooks set up before turning tracing on is
// visible to every traced call.
bool shouldTrace() { return (g_mode.load(std::memory_order_acquire) & kTracing) != 0 && !t_busy; }

void lockHooks() {
  if (t_lockDepth++ == 0) pthread_mutex_lock(&g_lock);
}

void unlockHooks() {
  if (--t_lockDepth == 0) pthread_mutex_unlock(&g_lock);
}

// ---------------------------------------------------------------- stacks and mappings

struct Stack {
  void* pc[kStackDepth + 4];  // room for the hooks' own frames
  int first = 0;
  int count = 0;
};

bool inSelf(void* pc) {
  uintptr_t a = reinterpret_cast<uintptr_t>(pc);
  return a >= g_selfStart && a < g_selfEnd;
}

// The caller's stack without the hooks' own frames, however many of them
// inlining and tail calls left.
__attribute__((noinline)) void takeStack(Stack* s) {
  int n = backtrace(s->pc, kStackDepth + 4);
  int i = 0;
  while (i < n && inSelf(s->pc[i])) ++i;
  s->first = i;
  s->count = n - i > kMaxFrames ? kMaxFrames : n - i;
}

int readLoadCount(dl_phdr_info* info, size_t size, void* data) {
  if (size >= offsetof(dl_phdr_info, dlpi_adds) + sizeof info->dlpi_adds) {
    *static_cast<unsigned long long*>(data) = info->dlpi_adds;
  }
  return 1;  // the first object is enough
}

// How many objects the loader has loaded so far; changes when one is dlopen'd.
unsigned long long loadCount() {
  unsigned long long count = 0;
  dl_iterate_phdr(readLoadCount, &count);
  return count;
}

int findSelf(dl_phdr_info* info, size_t, void* data) {
  uintptr_t probe = *static_cast<uintptr_t*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type != PT_LOAD || (ph.p_flags & PF_X) == 0) continue;
    uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
    if (probe >= lo && probe < lo + ph.p_memsz) {
      g_selfStart = lo;
      g_selfEnd = lo + ph.p_memsz;
      return 1;
    }
  }
  return 0;
}

void emit(const void* data, size_t length) {
  if (!writeAll(_fd_, g_fdIsSocket, data, length)) {
    // Nothing sensible can follow inside an allocator: no exit handlers (they
    // would allocate into a hook holding its lock), and a status that says
    // the run failed.
    printLine("\nERROR write to memory analyzer failed");
    _exit(1);
  }
}

uint64_t hashPath(const char* p, size_t n) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<unsigned char>(p[i])) * 1099511628211ull;
  return h;
}

// Writes a mapping record for an executable mapping not announced before.
void announceMapping(void*, const MapsLine& m) {
  if (!m.executable) return;
  uint64_t h = hashPath(m.path, m.pathLength);
  for (size_t i = 0; i < g_knownCount; ++i) {
    if (g_known[i].start == m.start && g_known[i].end == m.end && g_known[i].pathHash == h) return;
  }
  // A full table only costs repeated records, which readers take in their stride.
  if (g_knownCount < kMaxKnownMappings) g_known[g_knownCount++] = KnownMapping{m.start, m.end, h};
  uint8_t header[kMappingHeaderBytes];
  size_t pathLength = m.pathLength > UINT32_MAX ? UINT32_MAX : m.pathLength;
  emit(header, encodeMappingHeader(header, m.start, m.end, static_cast<uint32_t>(pathLength)));
  if (pathLength > 0) emit(m.path, pathLength);
}

// Announces the code of objects loaded since the last scan, so that frames in
// a library dlopen'd after tracing started can still be resolved.
void noteNewMappings(unsigned long long loads) {
  if (loads <= g_loadCount) return;
  g_loadCount = loads;
  (void)scanOwnMaps(announceMapping, nullptr);
}

// ---------------------------------------------------------------- one traced call

// Brackets a traced call: keeps errno, marks the thread busy, takes the stack
// and the hook lock, and undoes all of it at the end.
class TracedCall {
 public:
  TracedCall() : _errno(errno) {
    t_busy = true;
    takeStack(&_stack);
    unsigned long long loads = loadCount();
    lockHooks();
    noteNewMappings(loads);
  }
  ~TracedCall() {
    unlockHooks();
    t_busy = false;
    errno = _errno;
  }
  TracedCall(const TracedCall&) = delete;
  TracedCall& operator=(const TracedCall&) = delete;

  // The errno the caller sees afterwards (for a failed call).
  void failWith(int error) { _errno = error; }

  void writeAlloc(uint64_t size, const void* address) {
    uint8_t buf[kMaxAllocRecordBytes];
    emit(buf, encodeAlloc(buf, frames(), _stack.count, size, reinterpret_cast<uintptr_t>(address)));
  }
  void writeRelease(const void* address) {
    uint8_t buf[kMaxAllocRecordBytes];
    emit(buf, encodeRelease(buf, frames(), _stack.count, reinterpret_cast<uintptr_t>(address)));
  }
  void writeMessage(const char* text, size_t length) {
    uint8_t buf[kMaxAllocRecordBytes];
    emit(buf, encodeMessageHeader(buf, frames(), _stack.count, length));
    if (length > 0) emit(text, length);
  }

 private:
  void* const* frames() const { return _stack.pc + _stack.first; }

  Stack _stack;
  int _errno;
};

// ---------------------------------------------------------------- guarded blocks

constexpr unsigned kPreDamaged = 1;
constexpr unsigned kPostDamaged = 2;

char* startOf(void* user) { return static_cast<char*>(user) - kUserOffset; }
char* baseOf(void* user) { return startOf(user) - kAlignPad; }

void writeGuards(char* start, size_t size) {
  uint64_t s = size;
  memcpy(start, &s, sizeof s);
  memcpy(start + kSizeFieldBytes, kPreGuard, kGuardBytes);
  memcpy(start + kUserOffset + size, kPostGuard, kGuardBytes);
}

// `size` is the one the table kept, so a smashed size field can neither hide
// damage nor send the check outside the block.
unsigned checkGuards(const char* start, size_t size) {
  unsigned damage = 0;
  uint64_t stored;
  memcpy(&stored, start, sizeof stored);
  if (stored != size || memcmp(start + kSizeFieldBytes, kPreGuard, kGuardBytes) != 0) damage |= kPreDamaged;
  if (memcmp(start + kUserOffset + size, kPostGuard, kGuardBytes) != 0) damage |= kPostDamaged;
  return damage;
}

// Allocates `size` bytes, guarded when guards are on. *user is what the
// program gets, *named what the trace calls the block. REQUIRES: hook lock.
void allocateBlock(size_t size, bool zero, void** user, void** named) {
  if (pattern_check) {
    if (size > kMaxGuardedSize) {
      errno = ENOMEM;
      *user = *named = nullptr;
      return;
    }
    void* base = zero ? __libc_calloc(1, size + kGuardedExtra) : __libc_malloc(size + kGuardedExtra);
    if (base == nullptr) {
      *user = *named = nullptr;
      return;
    }
    char* start = static_cast<char*>(base) + kAlignPad;
    char* u = start + kUserOffset;
    if (g_blocks.insert(reinterpret_cast<uintptr_t>(u), size)) {
      writeGuards(start, size);
      *user = u;
      *named = start;
      return;
    }
    // No memory to remember the block by: hand out a plain one instead.
    __libc_free(base);
  }
  void* p = zero ? __libc_calloc(1, size) : __libc_malloc(size);
  *user = *named = p;
}

// Releases a guarded block already taken out of the table; returns the damage.
unsigned releaseGuarded(void* user, size_t size) {
  char* start = startOf(user);
  unsigned damage = checkGuards(start, size);
  memset(start, kFreedFill, size + kGuardOverhead);
  __libc_free(start - kAlignPad);
  return damage;
}

// Reallocates a guarded block of `oldSize` (REQUIRES: hook lock, `user` in the
// table). On success the table and the guards follow the block; on failure
// the old block is left as it was. Writes the damage found in the old block.
void* reallocGuarded(void* user, size_t oldSize, size_t size, unsigned* damage) {
  *damage = checkGuards(startOf(user), oldSize);
  if (size > kMaxGuardedSize) {
    errno = ENOMEM;
    return nullptr;
  }
  void* base = __libc_realloc(baseOf(user), size + kGuardedExtra);
  if (base == nullptr) return nullptr;
  size_t ignored;
  (void)g_blocks.take(reinterpret_cast<uintptr_t>(user), &ignored);
  char* start = static_cast<char*>(base) + kAlignPad;
  char* u = start + kUserOffset;
  // Cannot fail: the entry just taken keeps the table below its growth point.
  (void)g_blocks.insert(reinterpret_cast<uintptr_t>(u), size);
  writeGuards(start, size);
  return u;
}

// Without a trace to write to, damage is still worth a line.
void reportDamageUntraced(unsigned damage, const char* pre, const char* post) {
  if (damage & kPreDamaged) printLine(pre);
  if (damage & kPostDamaged) printLine(post);
}

// ---------------------------------------------------------------- the calls

void freeUntraced(void* p) {
  if (guardedBlocksMayExist()) {
    size_t size;
    lockHooks();
    bool guarded = g_blocks.take(reinterpret_cast<uintptr_t>(p), &size);
    unlockHooks();
    if (guarded) {
      reportDamageUntraced(releaseGuarded(p, size), kPreGuardDamagedInFree, kPostGuardDamagedInFree);
      return;
    }
  }
  __libc_free(p);
}

__attribute__((noinline)) void hookedFree(void* p) {
  if (p == nullptr) return;
  if (!shouldTrace()) {
    int saved = errno;
    freeUntraced(p);
    errno = saved;
    return;
  }
  TracedCall call;
  size_t size;
  bool guarded = guardedBlocksMayExist() && g_blocks.take(reinterpret_cast<uintptr_t>(p), &size);
  if (!guarded) {
    call.writeRelease(p);
    __libc_free(p);
    return;
  }
  call.writeRelease(startOf(p));
  unsigned damage = releaseGuarded(p, size);
  // Right behind the release record, so a reader knows which block it was.
  if (damage & kPreDamaged) call.writeMessage(kPreGuardDamagedInFree, sizeof kPreGuardDamagedInFree - 1);
  if (damage & kPostDamaged) call.writeMessage(kPostGuardDamagedInFree, sizeof kPostGuardDamagedInFree - 1);
}

__attribute__((noinline)) void* hookedMalloc(size_t size) {
  if (!shouldTrace()) return __libc_malloc(size);
  TracedCall call;
  void* user;
  void* named;
  allocateBlock(size, false, &user, &named);
  if (user == nullptr) call.failWith(errno);
  call.writeAlloc(size, named);
  return user;
}

__attribute__((noinline)) void* hookedCalloc(size_t count, size_t size) {
  if (!shouldTrace()) return __libc_calloc(count, size);
  TracedCall call;
  size_t total;
  if (__builtin_mul_overflow(count, size, &total)) {
    call.failWith(ENOMEM);
    call.writeAlloc(UINT64_MAX, nullptr);
    return nullptr;
  }
  void* user;
  void* named;
  allocateBlock(total, true, &user, &named);
  if (user == nullptr) call.failWith(errno);
  call.writeAlloc(total, named);
  return user;
}

void* reallocUntraced(void* p, size_t size) {
  if (guardedBlocksMayExist()) {
    size_t oldSize;
    lockHooks();
    if (g_blocks.find(reinterpret_cast<uintptr_t>(p), &oldSize)) {
      unsigned damage;
      void* q = reallocGuarded(p, oldSize, size, &damage);
      unlockHooks();
      reportDamageUntraced(damage, kPreGuardDamagedInRealloc, kPostGuardDamagedInRealloc);
      return q;
    }
    unlockHooks();
  }
  return __libc_realloc(p, size);
}

__attribute__((noinline)) void* hookedRealloc(void* p, size_t size) {
  if (p == nullptr) return hookedMalloc(size);
  // The C library's meaning: the block is released and there is no new one.
  if (size == 0) {
    hookedFree(p);
    return nullptr;
  }
  if (!shouldTrace()) return reallocUntraced(p, size);
  TracedCall call;
  size_t oldSize;
  if (!guardedBlocksMayExist() || !g_blocks.find(reinterpret_cast<uintptr_t>(p), &oldSize)) {
    void* q = __libc_realloc(p, size);
    if (q == nullptr) {
      // The old block lives on: only the failed allocation is recorded.
      call.failWith(errno);
      call.writeAlloc(size, nullptr);
      return nullptr;
    }
    call.writeRelease(p);
    call.writeAlloc(size, q);
    return q;
  }
  unsigned damage;
  void* q = reallocGuarded(p, oldSize, size, &damage);
  if (q == nullptr) call.failWith(errno);
  // The guard messages go right behind the release of the old block.
  if (q != nullptr) call.writeRelease(startOf(p));
  if (damage & kPreDamaged) call.writeMessage(kPreGuardDamagedInRealloc, sizeof kPreGuardDamagedInRealloc - 1);
  if (damage & kPostDamaged) {
    call.writeMessage(kPostGuardDamagedInRealloc, sizeof kPostGuardDamagedInRealloc - 1);
  }
  call.writeAlloc(size, q == nullptr ? nullptr : startOf(q));
  return q;
}

enum class AlignedKind { kMemalign, kValloc, kPvalloc };

void* alignedRaw(AlignedKind kind, size_t alignment, size_t size) {
  switch (kind) {
    case AlignedKind::kValloc:
      return __libc_valloc(size);
    case AlignedKind::kPvalloc:
      return __libc_pvalloc(size);
    case AlignedKind::kMemalign:
      break;
  }
  return __libc_memalign(alignment, size);
}

// Aligned blocks are never guarded (the guard layout cannot keep an arbitrary
// alignment), but they are traced like any other.
__attribute__((noinline)) void* hookedAligned(AlignedKind kind, size_t alignment, size_t size) {
  if (!shouldTrace()) return alignedRaw(kind, alignment, size);
  TracedCall call;
  void* p = alignedRaw(kind, alignment, size);
  if (p == nullptr) call.failWith(errno);
  call.writeAlloc(size, p);
  return p;
}

size_t libcUsableSize(void* p) {
  UsableSizeFn fn = g_libcUsableSize.load(std::memory_order_acquire);
  if (fn == nullptr) {
    fn = reinterpret_cast<UsableSizeFn>(dlsym(RTLD_NEXT, "malloc_usable_size"));
    if (fn == nullptr) return 0;
    g_libcUsableSize.store(fn, std::memory_order_release);
  }
  return fn(p);
}

// ---------------------------------------------------------------- fork

void forkPrepare() { lockHooks(); }

void forkParent() { unlockHooks(); }

// The child starts with one thread: the lock is made fresh (whoever held it
// is gone), and tracing stops, since the child's records would be mixed into
// the parent's stream.
void forkChild() {
  pthread_mutex_init(&g_lock, nullptr);
  t_lockDepth = 0;
  t_busy = false;
  g_mode.fetch_and(~kTracing, std::memory_order_relaxed);
  if (_fd_ >= 0) close(_fd_);
  _fd_ = -1;
}

// ---------------------------------------------------------------- start

char g_envPath[4096];

void startFromEnvironment() {
  const char* file = getenv("ORV_MEMTRACE_FILE");
  const char* socketPath = getenv("ORV_MEMTRACE_SOCKET");
  const char* guards = getenv("ORV_MEMTRACE_GUARDS");
  if (file == nullptr && socketPath == nullptr) return;
  const char* path = socketPath != nullptr ? socketPath : file;
  size_t length = strlen(path);
  bool usable = file == nullptr || socketPath == nullptr;
  if (!usable) printLine("Memory tracing: set ORV_MEMTRACE_FILE or ORV_MEMTRACE_SOCKET, not both");
  if (length >= sizeof g_envPath) {
    printLine("Memory tracing: trace path too long");
    usable = false;
  }
  if (usable) memcpy(g_envPath, path, length + 1);
  // Programs started from this one must not overwrite the trace.
  unsetenv("ORV_MEMTRACE_FILE");
  unsetenv("ORV_MEMTRACE_SOCKET");
  unsetenv("ORV_MEMTRACE_GUARDS");
  if (!usable) return;
  if (guards != nullptr && guards[0] != '\0' && strcmp(guards, "0") != 0) orv_init_mem_guards();
  (void)orv_init_mem_hooks(g_envPath, socketPath != nullptr);
}

__attribute__((constructor)) void loadHooks() {
  (void)libcUsableSize(nullptr);  // resolve it while nothing is traced
  pthread_atfork(forkPrepare, forkParent, forkChild);
  startFromEnvironment();
}

}  // namespace

// ---------------------------------------------------------------- exported

extern "C" {

ORV_EXPORT void* malloc(size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_malloc(size);
  return hookedMalloc(size);
}

ORV_EXPORT void free(void* ptr) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_free(ptr);
  hookedFree(ptr);
}

ORV_EXPORT void* calloc(size_t count, size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_calloc(count, size);
  return hookedCalloc(count, size);
}

ORV_EXPORT void* realloc(void* ptr, size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_realloc(ptr, size);
  return hookedRealloc(ptr, size);
}

ORV_EXPORT void* reallocarray(void* ptr, size_t count, size_t size) noexcept {
  size_t total;
  if (__builtin_mul_overflow(count, size, &total)) {
    errno = ENOMEM;
    return nullptr;
  }
  return realloc(ptr, total);
}

ORV_EXPORT void* memalign(size_t alignment, size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_memalign(alignment, size);
  return hookedAligned(AlignedKind::kMemalign, alignment, size);
}

// The C library's aligned_alloc is its memalign under another name.
ORV_EXPORT void* aligned_alloc(size_t alignment, size_t size) noexcept { return memalign(alignment, size); }

ORV_EXPORT int posix_memalign(void** result, size_t alignment, size_t size) noexcept {
  if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
  void* p = memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *result = p;
  return 0;
}

ORV_EXPORT void* valloc(size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_valloc(size);
  return hookedAligned(AlignedKind::kValloc, 0, size);
}

ORV_EXPORT void* pvalloc(size_t size) noexcept {
  if (__builtin_expect(g_mode.load(std::memory_order_relaxed) == 0, 1)) return __libc_pvalloc(size);
  return hookedAligned(AlignedKind::kPvalloc, 0, size);
}

// Old programs still bound to the obsolete name reach the same free.
ORV_EXPORT void cfree(void* ptr) { free(ptr); }

// A guarded block offers exactly what was asked for: anything more would be
// the post-guard.
ORV_EXPORT size_t malloc_usable_size(void* ptr) noexcept {
  if (ptr != nullptr && guardedBlocksMayExist()) {
    size_t size;
    lockHooks();
    bool guarded = g_blocks.find(reinterpret_cast<uintptr_t>(ptr), &size);
    unlockHooks();
    if (guarded) return size;
  }
  return libcUsableSize(ptr);
}

// Our own malloc, to tell whether it is the one the process calls.
void* orv_own_malloc(size_t size) noexcept
    __attribute__((alias("malloc"), visibility("hidden"), malloc, alloc_size(1)));

ORV_EXPORT int orv_init_mem_hooks(const char* path, bool useSocket) {
  if (path == nullptr || path[0] == '\0') {
    printLine("Memory tracing: no trace destination given");
    return -1;
  }
  if (g_initStarted.exchange(true)) {
    printLine("Memory tracing is already on");
    return -1;
  }
  // Linked after the C library (or shadowed by another allocator) the hooks
  // would see only some calls: a trace of half the calls is worse than none.
  if (dlsym(RTLD_DEFAULT, "malloc") != reinterpret_cast<void*>(&orv_own_malloc)) {
    printLine("Memory tracing: the hooks are not the process's allocator (link liborvmemhooks first or preload it)");
    g_initStarted.store(false);
    return -1;
  }
  int fd = useSocket ? connectTraceSocket(path, 2000, 0) : openTraceFile(path);
  if (fd < 0) {
    if (!useSocket) printLine("Unable to open the memory trace file");
    g_initStarted.store(false);
    return -1;
  }
  uintptr_t probe = reinterpret_cast<uintptr_t>(&hookedMalloc);
  dl_iterate_phdr(findSelf, &probe);
  // The first backtrace loads the unwinder, which allocates: get that done
  // while nothing is traced.
  void* warm[4];
  (void)backtrace(warm, 4);
  unsigned long long loads = loadCount();

  lockHooks();
  _fd_ = fd;
  g_fdIsSocket = useSocket;
  g_loadCount = loads;
  (void)scanOwnMaps(announceMapping, nullptr);
  g_mode.store(kTracing | (pattern_check ? kGuardedBlocks : 0), std::memory_order_release);
  unlockHooks();
  return 0;
}

ORV_EXPORT void orv_init_mem_guards(void) {
  lockHooks();
  // The mode bit goes on before any guarded block can exist.
  if (tracingOn()) g_mode.fetch_or(kGuardedBlocks, std::memory_order_relaxed);
  pattern_check = true;
  unlockHooks();
}

ORV_EXPORT void orv_post_fork_hooks(void) { g_mode.fetch_and(~kTracing, std::memory_order_relaxed); }

ORV_EXPORT void _orv_mem_mesg(const char* text) {
  if (text == nullptr || !shouldTrace()) return;
  TracedCall call;
  call.writeMessage(text, strlen(text));
}

}  // extern "C"
