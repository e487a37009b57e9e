#include "foundation/os_init.h"

#include <csignal>
#include <mutex>
#include <openssl/ssl.h>
#include <vector>

#include "foundation/os_perf.h"

namespace {

std::mutex& hookLock() {
  static std::mutex m;
  return m;
}
std::vector<OrvanexInitHook>& initHooks() {
  static std::vector<OrvanexInitHook> v;
  return v;
}
std::vector<OrvanexCloseHook>& closeHooks() {
  static std::vector<OrvanexCloseHook> v;
  return v;
}

}  // namespace

void addOrvanexInitHook(OrvanexInitHook hook) {
  std::lock_guard<std::mutex> hold(hookLock());
  initHooks().push_back(hook);
}

void addOrvanexCloseHook(OrvanexCloseHook hook) {
  std::lock_guard<std::mutex> hold(hookLock());
  closeHooks().push_back(hook);
}

extern "C" void orvanex_init() {
  static std::once_flag once;
  std::call_once(once, [] {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    OPENSSL_init_ssl(0, nullptr);
    // A peer that goes away must give EPIPE on the socket, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    registerProcessStats();
    std::vector<OrvanexInitHook> hooks;
    {
      std::lock_guard<std::mutex> hold(hookLock());
      hooks = initHooks();
    }
    for (OrvanexInitHook h : hooks) h();
  });
}

extern "C" void orvanex_close() {
  std::vector<OrvanexCloseHook> hooks;
  {
    std::lock_guard<std::mutex> hold(hookLock());
    hooks = closeHooks();
  }
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
}
