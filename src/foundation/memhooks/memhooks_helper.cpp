// The program the memory-hook tests trace. It links liborvmemhooks first, as
// orvanexd does, runs one scenario and exits. Each step of a scenario begins
// with a message record "step <name>" and reports what it got back with a
// message "result <name> ...", so a test can find every step's records.
//
//   memhooks_helper off                  tracing never on: the C library's behaviour
//   memhooks_helper guarded <file>       guards and tracing to a file, every step
//   memhooks_helper plain <file>         tracing without guards
//   memhooks_helper socket <path>        tracing to a listening Unix socket
//   memhooks_helper threads <file>       several threads allocating at once
//   memhooks_helper env                  tracing started by ORV_MEMTRACE_FILE
//   memhooks_helper failwrite <file>     a destination that refuses the bytes
//
// Exit status: 0 every check held, 1 one failed (said on standard error), 2
// bad usage, 77 the hooks are not the process's allocator (sanitizer builds).
#include <dlfcn.h>
#include <errno.h>
#include <malloc.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "foundation/memhooks/mem_hooks.h"
#include "foundation/memhooks/trace_format.h"

namespace {

int g_failures = 0;

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "memhooks_helper: check failed: %s\n", what);
    ++g_failures;
  }
}

void step(const char* name) {
  char text[128];
  snprintf(text, sizeof text, "step %s", name);
  _orv_mem_mesg(text);
}

void result(const char* name, const void* a, const void* b = nullptr) {
  char text[160];
  snprintf(text, sizeof text, "result %s %p %p", name, a, b);
  _orv_mem_mesg(text);
}

// Hides where a pointer or a size came from, so the compiler neither drops
// nor complains about the deliberate misuse below.
template <typename T>
T opaque(T v) {
  __asm__ volatile("" : "+r"(v));
  return v;
}

void poke(void* p, ptrdiff_t at, char value) { static_cast<volatile char*>(opaque(p))[at] = value; }

bool allZero(const void* p, size_t n) {
  const unsigned char* c = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (c[i] != 0) return false;
  }
  return true;
}

bool aligned(const void* p, size_t alignment) { return reinterpret_cast<uintptr_t>(p) % alignment == 0; }

bool hooksAreTheAllocator() {
  Dl_info info;
  void* m = dlsym(RTLD_DEFAULT, "malloc");
  return m != nullptr && dladdr(m, &info) != 0 && info.dli_fname != nullptr &&
         strstr(info.dli_fname, "liborvmemhooks") != nullptr;
}

void announceExe() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return;
  exe[n] = '\0';
  char text[4200];
  snprintf(text, sizeof text, "exe %s", exe);
  _orv_mem_mesg(text);
}

// Waits for a child for at most ten seconds; returns its wait status or -1.
int waitBounded(pid_t pid) {
  for (int i = 0; i < 2000; ++i) {
    int status;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return -1;
    struct timespec ts = {0, 5 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// ---------------------------------------------------------------- steps, each its own frame

__attribute__((noinline)) void step_calloc() {
  step("calloc");
  char* p = static_cast<char*>(calloc(10, 4));
  check(p != nullptr && allZero(p, 40), "calloc(10, 4) gives 40 zeroed bytes");
  check(aligned(p, 16), "guarded blocks keep malloc's alignment");
  check(malloc_usable_size(p) == 40, "a guarded block offers exactly its size");
  result("calloc", p);
  free(p);
}

__attribute__((noinline)) void step_realloc_null() {
  step("realloc_null");
  void* p = realloc(nullptr, 100);
  check(p != nullptr, "realloc(NULL, 100)");
  result("realloc_null", p);
  free(p);
}

__attribute__((noinline)) void step_overrun() {
  step("overrun");
  void* p = malloc(16);
  result("overrun", p);
  poke(p, 16, 'x');  // first byte of the post-guard
  free(p);
}

__attribute__((noinline)) void step_underrun() {
  step("underrun");
  void* p = malloc(16);
  result("underrun", p);
  poke(p, -1, 'x');  // last byte of the pre-guard
  free(p);
}

__attribute__((noinline)) void step_size_smash() {
  step("size_smash");
  void* p = malloc(16);
  result("size_smash", p);
  // The size field: trusting it would check and wipe far beyond the block.
  for (int i = 24; i > 16; --i) poke(p, -i, '\x7f');
  free(p);
}

__attribute__((noinline)) void step_free_null() {
  step("free_null");
  free(nullptr);
}

__attribute__((noinline)) void step_realloc_zero() {
  step("realloc_zero");
  void* p = malloc(50);
  result("realloc_zero", p);
  void* q = realloc(p, 0);
  check(q == nullptr, "realloc(p, 0) releases the block and returns NULL");
}

__attribute__((noinline)) void step_realloc_grow() {
  step("realloc_grow");
  char* p = static_cast<char*>(malloc(20));
  for (int i = 0; i < 20; ++i) p[i] = static_cast<char>('a' + i);
  void* old = opaque(static_cast<void*>(p));
  char* q = static_cast<char*>(realloc(p, 5000));
  bool kept = q != nullptr;
  for (int i = 0; kept && i < 20; ++i) kept = q[i] == static_cast<char>('a' + i);
  check(kept, "realloc keeps the data of a guarded block");
  check(aligned(q, 16), "a reallocated guarded block keeps malloc's alignment");
  result("realloc_grow", old, q);
  free(q);
}

__attribute__((noinline)) void step_overflow() {
  step("overflow");
  errno = 0;
  void* p = malloc(opaque(SIZE_MAX - 8));
  check(p == nullptr && errno == ENOMEM, "malloc near SIZE_MAX fails with ENOMEM");
  errno = 0;
  void* q = calloc(opaque(SIZE_MAX / 2), 4);
  check(q == nullptr && errno == ENOMEM, "calloc whose product overflows fails with ENOMEM");
  errno = 0;
  void* r = reallocarray(nullptr, opaque(SIZE_MAX / 2), 4);
  check(r == nullptr && errno == ENOMEM, "reallocarray whose product overflows fails with ENOMEM");
  result("overflow", p, q);
}

__attribute__((noinline)) void step_aligned() {
  step("aligned");
  void* a = nullptr;
  check(posix_memalign(&a, 64, 100) == 0 && aligned(a, 64), "posix_memalign(64)");
  check(malloc_usable_size(a) >= 100, "usable size of an aligned block");
  void* b = memalign(4096, 10);
  check(b != nullptr && aligned(b, 4096), "memalign(4096)");
  void* c = aligned_alloc(32, 64);
  check(c != nullptr && aligned(c, 32), "aligned_alloc(32)");
  void* d = valloc(10);
  check(d != nullptr && aligned(d, 4096), "valloc");
  void* bad = nullptr;
  check(posix_memalign(&bad, 3, 10) == EINVAL && bad == nullptr, "posix_memalign with a bad alignment");
  result("aligned", a, b);
  free(a);
  free(b);
  free(c);
  free(d);
}

__attribute__((noinline)) void step_early(void* early, void* earlyAligned) {
  step("early");
  result("early", early, earlyAligned);
  check(malloc_usable_size(early) >= 33, "usable size of a block from before tracing");
  free(early);
  free(earlyAligned);
}

__attribute__((noinline)) void step_fork(bool guards) {
  step("fork");
  char* parentBlock = static_cast<char*>(malloc(64));
  memset(parentBlock, 'p', 64);
  pid_t pid = fork();
  if (pid == 0) {
    orv_post_fork_hooks();
    // Nothing the child does may reach the parent's trace, and the parent's
    // guarded blocks must still be released the right way.
    void* mine = opaque(malloc(12345));
    free(mine);
    size_t usable = malloc_usable_size(parentBlock);
    bool ok = guards ? usable == 64 : usable >= 64;
    char* grown = static_cast<char*>(realloc(parentBlock, 128));
    ok = ok && grown != nullptr && grown[63] == 'p';
    free(grown);
    _exit(ok ? 0 : 3);
  }
  int status = waitBounded(pid);
  check(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0, "child after orv_post_fork_hooks");
  // A child that does not call it is kept out of the trace all the same.
  pid = fork();
  if (pid == 0) {
    void* mine = opaque(malloc(12346));
    free(mine);
    free(parentBlock);
    _exit(0);
  }
  status = waitBounded(pid);
  check(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0, "child without orv_post_fork_hooks");
  result("fork", parentBlock);
  free(parentBlock);
}

__attribute__((noinline)) void step_dlopen() {
  step("dlopen");
  void* handle = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
  check(handle != nullptr, "dlopen libz.so.1");
  void* p = opaque(malloc(7));
  result("dlopen", handle, p);
  free(p);
}

__attribute__((noinline)) void leak_site() {
  for (int i = 0; i < 3; ++i) {
    void* p = malloc(1000);
    poke(p, 0, 1);
  }
}

__attribute__((noinline)) void leak_new_site() {
  char* p = new char[2000];
  poke(p, 0, 1);
}

__attribute__((noinline)) void step_leak() {
  step("leak");
  leak_site();
  leak_new_site();
}

// ---------------------------------------------------------------- scenarios

int guardedScenario(const char* path, bool guards) {
  // Blocks from before tracing: freed while guards are on, they must be taken
  // for what they are.
  void* early = malloc(33);
  void* earlyAligned = memalign(256, 40);
  if (guards) orv_init_mem_guards();
  if (orv_init_mem_hooks(path, false) != 0) return 1;
  announceExe();
  step_calloc();
  step_realloc_null();
  if (guards) {
    step_overrun();
    step_underrun();
    step_size_smash();
  }
  step_free_null();
  step_realloc_zero();
  step_realloc_grow();
  step_overflow();
  step_aligned();
  step_early(early, earlyAligned);
  step_fork(guards);
  step_dlopen();
  step_leak();
  step("end");
  return g_failures == 0 ? 0 : 1;
}

int offScenario() {
  // Tracing never on: the calls must behave exactly as the C library's.
  free(nullptr);
  char* p = static_cast<char*>(calloc(10, 4));
  check(p != nullptr && allZero(p, 40), "calloc without tracing");
  check(malloc_usable_size(p) >= 40, "usable size without tracing");
  p = static_cast<char*>(realloc(p, 4000));
  check(p != nullptr, "realloc without tracing");
  check(realloc(p, 0) == nullptr, "realloc(p, 0) without tracing");
  void* a = nullptr;
  check(posix_memalign(&a, 128, 10) == 0 && aligned(a, 128), "posix_memalign without tracing");
  free(a);
  errno = 0;
  check(malloc(opaque(SIZE_MAX - 8)) == nullptr && errno == ENOMEM, "huge malloc without tracing");
  _orv_mem_mesg("ignored while tracing is off");
  return g_failures == 0 ? 0 : 1;
}

int socketScenario(const char* path) {
  orv_init_mem_guards();
  if (orv_init_mem_hooks(path, true) != 0) return 1;
  announceExe();
  step_calloc();
  step("end");
  return g_failures == 0 ? 0 : 1;
}

void* threadBody(void* arg) {
  uintptr_t seed = reinterpret_cast<uintptr_t>(arg);
  for (int i = 0; i < 2000; ++i) {
    void* p = malloc(1000 + (seed * 7 + static_cast<uintptr_t>(i)) % 64);
    poke(p, 0, 1);
    if (i % 3 == 0) p = realloc(p, 1000 + static_cast<size_t>(i) % 64);
    free(p);
  }
  return nullptr;
}

// Forks while other threads hold or wait for the hook lock: a child that
// inherited a held lock would hang in its first malloc.
void* forkerBody(void*) {
  for (int i = 0; i < 20; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      void* p = opaque(malloc(4321));
      free(p);
      _exit(0);
    }
    int status = waitBounded(pid);
    check(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0, "child forked amid traced threads");
  }
  return nullptr;
}

// Loads and unloads a library while other threads trace: the loader's lock
// and the hook lock must never be taken in opposite orders.
void* loaderBody(void*) {
  for (int i = 0; i < 30; ++i) {
    void* handle = dlopen("libz.so.1", RTLD_NOW | RTLD_LOCAL);
    check(handle != nullptr, "dlopen amid traced threads");
    if (handle != nullptr) dlclose(handle);
  }
  return nullptr;
}

int threadsScenario(const char* path) {
  orv_init_mem_guards();
  if (orv_init_mem_hooks(path, false) != 0) return 1;
  step("threads");
  pthread_t threads[6];
  for (uintptr_t i = 0; i < 4; ++i) pthread_create(&threads[i], nullptr, threadBody, reinterpret_cast<void*>(i));
  pthread_create(&threads[4], nullptr, forkerBody, nullptr);
  pthread_create(&threads[5], nullptr, loaderBody, nullptr);
  for (pthread_t t : threads) pthread_join(t, nullptr);
  step("end");
  return g_failures == 0 ? 0 : 1;
}

int envScenario() {
  check(getenv("ORV_MEMTRACE_FILE") == nullptr, "the trace variables are removed");
  check(getenv("ORV_MEMTRACE_GUARDS") == nullptr, "the guard variable is removed");
  _orv_mem_mesg("env traced");
  char* p = opaque(static_cast<char*>(malloc(16)));
  uint64_t size;
  memcpy(&size, p - memtrace::kUserOffset, sizeof size);
  check(size == 16 && memcmp(p - memtrace::kGuardBytes, memtrace::kPreGuard, memtrace::kGuardBytes) == 0,
        "guards on from the environment");
  free(p);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (!hooksAreTheAllocator()) {
    fprintf(stderr, "memhooks_helper: the hooks are not the process's allocator\n");
    return 77;
  }
  const char* command = argv[1];
  const char* dest = argc > 2 ? argv[2] : nullptr;
  if (strcmp(command, "off") == 0) return offScenario();
  if (strcmp(command, "env") == 0) return envScenario();
  if (dest == nullptr) return 2;
  if (strcmp(command, "guarded") == 0) return guardedScenario(dest, true);
  if (strcmp(command, "plain") == 0) return guardedScenario(dest, false);
  if (strcmp(command, "socket") == 0) return socketScenario(dest);
  if (strcmp(command, "threads") == 0) return threadsScenario(dest);
  if (strcmp(command, "failwrite") == 0) {
    (void)orv_init_mem_hooks(dest, false);
    void* p = malloc(10);  // the first record that cannot be written ends the process
    free(p);
    return 0;
  }
  return 2;
}
