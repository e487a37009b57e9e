#include "jni/decode_list.h"

#include <atomic>

namespace {

struct DecodeEntry {
  int objectId;
  jclass cls;
  DecodeEntry* next;
};

std::atomic<DecodeEntry*> head{nullptr};

}  // namespace

void addDecodeListEntry(JNIEnv* env, int objectId, jclass cls) {
  if (cls == nullptr) return;
  auto* e = new DecodeEntry{objectId, static_cast<jclass>(env->NewGlobalRef(cls)), nullptr};
  DecodeEntry* old = head.load(std::memory_order_relaxed);
  do {
    e->next = old;
  } while (!head.compare_exchange_weak(old, e, std::memory_order_release, std::memory_order_relaxed));
}

jclass findDecodeListClass(int objectId) {
  for (DecodeEntry* e = head.load(std::memory_order_acquire); e != nullptr; e = e->next) {
    if (e->objectId == objectId) return e->cls;
  }
  return nullptr;
}
