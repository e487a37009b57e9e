#include "runtime/delayed_event.h"

#include <cstdlib>
#include <cstring>

namespace {
// The step of an unlimited wait: a lost wake-up costs at most this long.
constexpr int kUnlimitedWaitStepMs = 1000;
}  // namespace

DelayedEventBase::DelayedEventBase(Registry& registry) : _registry(registry) {
  CriticalGuard guard(_registry.lock);
  _id = _registry.nextId++;
  _registry.live.emplace(_id, this);
}

DelayedEventBase::~DelayedEventBase() {
  unregister();
  free(_errorText);
}

void DelayedEventBase::unregister() {
  CriticalGuard guard(_registry.lock);
  if (!_registered) return;
  _registry.live.erase(_id);
  _registered = false;
}

DelayedEventBase* DelayedEventBase::lockById(Registry& registry, long long id) {
  registry.lock.enter();
  auto it = registry.live.find(id);
  if (it == registry.live.end()) {
    registry.lock.exit();
    return nullptr;
  }
  return it->second;
}

void DelayedEventBase::complete(void* value, bool isError, const char* text, int code) {
  char* copy = text ? strdup(text) : nullptr;
  Guard guard(*this);
  free(_errorText);
  _errorText = copy;
  _value = value;
  _isError = isError;
  _errorCode = code;
  _done = true;
  broadcast();
}

void DelayedEventBase::setValue(void* value) { complete(value, false, nullptr, 0); }

void DelayedEventBase::setError(int code) { complete(nullptr, true, nullptr, code); }

void DelayedEventBase::setError(const char* text, int code) { complete(nullptr, true, text, code); }

void DelayedEventBase::moreTime() {
  Guard guard(*this);
  _moreTime = true;
}

bool DelayedEventBase::isDone() {
  Guard guard(*this);
  return _done;
}

void DelayedEventBase::waitResult() {
  Guard guard(*this);
  while (!_done) (void)wait(kUnlimitedWaitStepMs);
}

bool DelayedEventBase::waitResult(int ms) {
  Guard guard(*this);
  if (_done) return true;
  for (;;) {
    _moreTime = false;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long startMs = start.tv_sec * 1000LL + start.tv_nsec / 1000000;
    long long left = ms;
    // Spurious wake-ups wait out the rest of the period, not a new one.
    while (!_done && left > 0) {
      (void)wait((int)left);
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      left = ms - (now.tv_sec * 1000LL + now.tv_nsec / 1000000 - startMs);
    }
    if (_done) return true;
    if (!_moreTime) return false;
  }
}

DelayedEvent::DelayedEvent(DelayedEventListener* listener) : DelayedEventBase(registry()), _listener(listener) {}

DelayedEvent::~DelayedEvent() { unregister(); }

DelayedEventBase::Registry& DelayedEvent::registry() {
  // Never destroyed: completions by id may still arrive on other threads
  // while the process runs its static destructors.
  static Registry* r = new Registry;
  return *r;
}

DelayedEvent* DelayedEvent::lockById(long long id) {
  return static_cast<DelayedEvent*>(DelayedEventBase::lockById(registry(), id));
}

void DelayedEvent::release() {
  if (_listener && isDone()) _listener->onDelayedEventChange(this);
  _registry.lock.exit();
}

DelayedEvent2::DelayedEvent2() : DelayedEventBase(registry()) {}

DelayedEvent2::~DelayedEvent2() { unregister(); }

DelayedEventBase::Registry& DelayedEvent2::registry() {
  static Registry* r = new Registry;
  return *r;
}

DelayedEvent2* DelayedEvent2::lockById(long long id) {
  return static_cast<DelayedEvent2*>(DelayedEventBase::lockById(registry(), id));
}

void DelayedEvent2::release() { _registry.lock.exit(); }
