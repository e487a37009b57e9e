#include "runtime/thread_pool.h"

#include <cstdio>

#include "foundation/os_perf.h"
#include "runtime/thread_context.h"

namespace {
constexpr int kIdleWaitMs = 1000;
}

ThreadPoolThread::ThreadPoolThread(ThreadPool* pool, const char* name) : DaemonThread(name), pool(pool) {
  setDeleteOnExit(false);  // the pool joins and deletes its threads
}

void ThreadPoolThread::run() {
  setInitialized();
  do {
    processLaterList();
  } while (pool->poolRun());
  processLaterList();
}

ThreadPool::ThreadPool(const char* name, int threads) {
  registerProcessStats();
  statSet(_processStats.poolThreads, threads);
  for (int i = 0; i < threads; i++) {
    char threadName[DaemonThread::kNameSize];
    std::snprintf(threadName, sizeof(threadName), "%s-%d", name != nullptr ? name : "pool", i);
    auto* t = new ThreadPoolThread(this, threadName);
    if (t->start() != 0) {
      delete t;
      continue;
    }
    threads_.push_back(t);
  }
}

ThreadPool::~ThreadPool() {
  queueLock_.lock();
  bool stopped = stopping_;
  queueLock_.unlock();
  if (!stopped) (void)shutdown(false, -1);
  for (ThreadPoolThread* t : threads_) {
    t->join();
    delete t;
  }
}

int ThreadPool::queue(DeferredOp* op) {
  auto* item = new Item{op, nullptr};
  queueLock_.lock();
  if (stopping_) {
    queueLock_.unlock();
    delete item;
    return -1;
  }
  if (tail_ != nullptr) tail_->next = item;
  else head_ = item;
  tail_ = item;
  count_++;
  statInc(_processStats.poolAdded);
  queueLock_.signal();
  queueLock_.unlock();
  return 0;
}

int ThreadPool::queued() {
  queueLock_.lock();
  int n = count_;
  queueLock_.unlock();
  return n;
}

bool ThreadPool::poolRun() {
  queueLock_.lock();
  while (head_ == nullptr || (stopping_ && !runQueued_)) {
    if (stopping_) {
      queueLock_.unlock();
      return false;
    }
    (void)queueLock_.wait(kIdleWaitMs);
  }
  Item* item = head_;
  head_ = item->next;
  if (head_ == nullptr) tail_ = nullptr;
  count_--;
  statInc(_processStats.poolRemoved);
  queueLock_.unlock();
  DeferredOp* op = item->op;
  delete item;
  run(op);
  delete op;
  return true;
}

bool ThreadPool::shutdown(bool runQueued, int timeoutMs) {
  queueLock_.lock();
  Item* dropped = nullptr;
  if (!stopping_) {
    stopping_ = true;
    runQueued_ = runQueued;
    if (!runQueued) {
      dropped = head_;
      head_ = tail_ = nullptr;
      count_ = 0;
    }
  }
  queueLock_.broadcast();
  queueLock_.unlock();
  while (dropped != nullptr) {
    Item* next = dropped->next;
    delete dropped->op;
    delete dropped;
    dropped = next;
  }
  int64_t deadline = timeoutMs < 0 ? INT64_MAX : ThreadContext::nowMicros() + int64_t{timeoutMs} * 1000;
  bool all = true;
  for (ThreadPoolThread* t : threads_) {
    int64_t left = deadline == INT64_MAX ? -1 : (deadline - ThreadContext::nowMicros()) / 1000;
    if (left < -1) left = 0;
    if (!t->join(static_cast<int>(left))) all = false;
  }
  return all;
}
