#include "foundation/os_shutdown.h"

#include <atomic>
#include <memory>

#include "foundation/diagnostics.h"

namespace {

struct ShutdownNode {
  ShutdownHandler* handler;
  ShutdownNode* next;
};

// Pushed with a compare-and-swap and taken whole with an exchange: the signal
// thread fires the list while other threads may still be adding to it, and no
// lock may be held while a handler runs.
std::atomic<ShutdownNode*> shutDownList{nullptr};

}  // namespace

extern "C" void s_addShutdownHandler(ShutdownHandler* handler) {
  if (handler == nullptr) return;
  auto* node = new ShutdownNode{handler, shutDownList.load(std::memory_order_relaxed)};
  while (!shutDownList.compare_exchange_weak(node->next, node, std::memory_order_release,
                                             std::memory_order_relaxed)) {
  }
}

extern "C" void s_fireShutdownHandlers() {
  __atomic_store_n(&_shutdown, true, __ATOMIC_RELEASE);
  ShutdownNode* node = shutDownList.exchange(nullptr, std::memory_order_acquire);
  while (node != nullptr) {
    std::unique_ptr<ShutdownNode> owned(node);
    node = node->next;
    owned->handler->shutdown();
  }
}
