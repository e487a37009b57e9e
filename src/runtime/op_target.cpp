#include "runtime/op_target.h"

#include <cstdint>

#include "foundation/log.h"
#include "foundation/os_perf.h"
#include "runtime/delayed_event.h"
#include "runtime/thread_context.h"

namespace {
constexpr int kWaitSliceMs = 1000;
}

int DeferredOp::execute(OpTarget* target) { return target->doExecute(this); }

OpTarget::OpTarget() : signal(this) {}

OpTarget::~OpTarget() {
  lock.enter();
  Node* n = head_;
  head_ = tail_ = nullptr;
  lock.exit();
  while (n != nullptr) {
    Node* next = n->next;
    if (n->result != nullptr) {
      n->result->setValue(reinterpret_cast<void*>(static_cast<intptr_t>(kTargetGone)));
    } else {
      delete n->op;
      delete n;
    }
    n = next;
  }
}

void OpTarget::handleEvent(Event*) { processQueue(); }

void OpTarget::enqueue(Node* node) {
  node->next = nullptr;
  lock.enter();
  if (tail_ != nullptr) tail_->next = node;
  else head_ = node;
  tail_ = node;
  signal.advanceWriteCount();
  statInc(_processStats.opAdded);
  lock.exit();
}

OpTarget::Node* OpTarget::takeHead() {
  lock.enter();
  Node* n = head_;
  if (n != nullptr) {
    head_ = n->next;
    if (head_ == nullptr) tail_ = nullptr;
  } else {
    // Every enqueue signalled once; a drained queue consumes one signal, so
    // the handler is called once per operation and the later calls find
    // nothing to do.
    signal.advanceReadCount();
    statInc(_processStats.opRemoved);
  }
  lock.exit();
  return n;
}

bool OpTarget::withdraw(Node* node) {
  lock.enter();
  Node* prev = nullptr;
  Node* n = head_;
  while (n != nullptr && n != node) {
    prev = n;
    n = n->next;
  }
  if (n != nullptr) {
    if (prev != nullptr) prev->next = n->next;
    else head_ = n->next;
    if (tail_ == n) tail_ = prev;
  }
  lock.exit();
  return n != nullptr;
}

int OpTarget::doExecute(DeferredOp* op) {
  if (ThreadContext::current() == signal.owningContext) return execute(op);
  DelayedEvent2 result;
  Node node{op, &result, nullptr};
  enqueue(&node);
  int64_t deadline = ThreadContext::nowMicros() + int64_t{waitLimitMs_} * 1000;
  for (;;) {
    int64_t left = (deadline - ThreadContext::nowMicros()) / 1000;
    int slice = left > kWaitSliceMs ? kWaitSliceMs : left < 1 ? 1 : static_cast<int>(left);
    if (result.waitResult(slice)) break;
    if (ThreadContext::nowMicros() < deadline) continue;
    if (withdraw(&node)) {
      log(0, "OpTarget %p: operation not taken within %d ms", static_cast<void*>(this), waitLimitMs_);
      return kTimedOut;
    }
    // Taken: it is running now, and its own waits are bounded.
  }
  return static_cast<int>(reinterpret_cast<intptr_t>(result.getValue()));
}

void OpTarget::processQueue() {
  while (Node* n = takeHead()) {
    int rv = execute(n->op);
    n->result->setValue(reinterpret_cast<void*>(static_cast<intptr_t>(rv)));
  }
}

int AsyncOpTarget::doExecute(DeferredOp* op) {
  enqueue(new Node{op, nullptr, nullptr});
  return 0;
}

void AsyncOpTarget::processQueue() {
  while (Node* n = takeHead()) {
    (void)execute(n->op);
    delete n->op;
    delete n;
  }
}
