// BlockCache: a small per-thread stack of freed memory blocks of one size,
// for the objects the interpreter makes and drops on every kel function
// call (the call's scope and its parameter entries), so that a call does
// not go to the allocator for them. A block freed on another thread than
// the one that took it simply joins that thread's stack. A thread that
// ends releases what its stack holds. AddressSanitizer builds skip the
// cache so that every block is checked by the sanitizer's allocator.
#pragma once

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KEL_BLOCK_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEL_BLOCK_CACHE 0
#endif
#endif
#ifndef KEL_BLOCK_CACHE
#define KEL_BLOCK_CACHE 1
#endif

template <size_t kSize>
class BlockCache {
 public:
  static constexpr size_t kBlockSize = kSize;

  // A block of kSize bytes (never null: the allocator throws when out of
  // memory, as operator new does).
  [[nodiscard]] static void* take() {
#if KEL_BLOCK_CACHE
    Stack& stack = stack_;
    if (stack.head != nullptr) {
      Node* node = stack.head;
      stack.head = node->next;
      stack.count--;
      return node;
    }
#endif
    return ::operator new(kSize);
  }

  // Gives a block from take() back.
  static void give(void* block) {
#if KEL_BLOCK_CACHE
    Stack& stack = stack_;
    if (stack.count < kKeep && !stack.closed) {
      if (stack.count == 0) drainer_.arm();  // the release at thread end
      auto* node = static_cast<Node*>(block);
      node->next = stack.head;
      stack.head = node;
      stack.count++;
      return;
    }
#endif
    ::operator delete(block);
  }

 private:
  static constexpr int kKeep = 32;
  struct Node {
    Node* next;
  };
  // Plain data (no destructor), so that reaching it costs no guard and it
  // stays usable while the thread ends.
  struct Stack {
    Node* head;
    int count;
    bool closed;
  };
  // Releases the stack's blocks when the thread ends; blocks given back
  // after that go to the allocator.
  struct Drainer {
    void arm() {}
    ~Drainer() {
      Stack& stack = stack_;
      stack.closed = true;
      while (stack.head != nullptr) {
        Node* node = stack.head;
        stack.head = node->next;
        ::operator delete(node);
      }
      stack.count = 0;
    }
  };
  static thread_local Stack stack_;
  static thread_local Drainer drainer_;
};

template <size_t kSize>
thread_local typename BlockCache<kSize>::Stack BlockCache<kSize>::stack_{nullptr, 0, false};
template <size_t kSize>
thread_local typename BlockCache<kSize>::Drainer BlockCache<kSize>::drainer_;
