// DelayedEvent and DelayedEvent2: one-shot result slots with a process-unique
// id. One thread waits (always with a time limit it can extend), another sets
// a value or an error, either directly or by id through lockById()/release().
// Thread-safe. The two classes keep separate ids, registries and class locks.
#pragma once

#include <unordered_map>

#include "runtime/cond_block.h"
#include "runtime/critical_block.h"

class DelayedEvent;

class DelayedEventListener {
 public:
  virtual ~DelayedEventListener() = default;
  // Called by DelayedEvent::release() with the class lock held, once the
  // event is done. Must not wait on or destroy the event.
  virtual void onDelayedEventChange(DelayedEvent* event) = 0;
};

// The common body of both slot classes; `Registry` is the class-wide list.
class DelayedEventBase : public CondBlock {
 public:
  struct Registry {
    CriticalBlock lock;
    long long nextId = 1;  // ids start at 1, so 0 never names an event
    std::unordered_map<long long, DelayedEventBase*> live;
  };

  DelayedEventBase(const DelayedEventBase&) = delete;
  DelayedEventBase& operator=(const DelayedEventBase&) = delete;

  [[nodiscard]] long long getId() const { return _id; }

  // Stores the value, marks the slot done and wakes every waiter.
  void setValue(void* value);
  // Marks an error (with a copy of `text`, may be null), done, wakes waiters.
  void setError(int code);
  void setError(const char* text, int code);
  // Makes the timed wait now in progress start a new full period.
  void moreTime();

  // Waits until done, in bounded steps so that a completion is never missed.
  void waitResult();
  // True when done within `ms` milliseconds (restarted by moreTime()),
  // false on time-out.
  [[nodiscard]] bool waitResult(int ms);

  // Valid once done (read after a successful wait).
  [[nodiscard]] bool isDone();
  [[nodiscard]] void* getValue() const { return _value; }
  [[nodiscard]] bool isError() const { return _isError; }
  [[nodiscard]] int getErrorCode() const { return _errorCode; }
  [[nodiscard]] const char* getErrorText() const { return _errorText; }

 protected:
  explicit DelayedEventBase(Registry& registry);
  // Removes the slot from its registry under the class lock, so that a
  // completion by id in progress finishes before the slot goes away.
  ~DelayedEventBase() override;
  // Takes the slot out of the registry; idempotent. Each concrete class calls
  // it first in its destructor, so lockById() never finds a half-destroyed
  // object.
  void unregister();

  // Looks `id` up with the class lock taken; returns with it still held when
  // found, or releases it and returns null.
  static DelayedEventBase* lockById(Registry& registry, long long id);

  Registry& _registry;

 private:
  void complete(void* value, bool isError, const char* text, int code);

  long long _id;
  bool _registered = true;
  char* _errorText = nullptr;
  int _errorCode = 0;
  bool _done = false;
  bool _moreTime = false;
  void* _value = nullptr;
  bool _isError = false;
};

class DelayedEvent : public DelayedEventBase {
 public:
  explicit DelayedEvent(DelayedEventListener* listener = nullptr);
  ~DelayedEvent() override;

  // The live event with this id with the class lock held (finish with
  // release()), or null with the lock free when there is none.
  [[nodiscard]] static DelayedEvent* lockById(long long id);
  // For an event from lockById(): informs the listener when the event is done,
  // then releases the class lock.
  void release();

 private:
  static Registry& registry();
  DelayedEventListener* _listener;
};

class DelayedEvent2 : public DelayedEventBase {
 public:
  DelayedEvent2();
  ~DelayedEvent2() override;

  [[nodiscard]] static DelayedEvent2* lockById(long long id);
  // Releases the class lock taken by lockById().
  void release();

 private:
  static Registry& registry();
};
