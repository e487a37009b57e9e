// DeferredOp: the arguments of one call handed to another thread, through an
// OpTarget (run on the target's thread) or a ThreadPool (run on a pool
// thread). A plain record with no virtual operations: the target or pool
// interprets its argument words.
//
// Ownership: allocated by the caller with new. A synchronous OpTarget leaves
// it with the caller; an AsyncOpTarget or a ThreadPool deletes it after the
// run (or when it is dropped unrun at shutdown).
#pragma once

class OpTarget;

struct DeferredOp {
  DeferredOp() = default;
  DeferredOp(void* object, void* message = nullptr, long long value = 0)
      : object(object), message(message), value(value) {}

  // target->doExecute(this).
  int execute(OpTarget* target);

  void* reserved = nullptr;
  void* object = nullptr;   // the object to act on
  void* message = nullptr;  // a message or second object
  long long value = 0;      // a number
  void* extra = nullptr;    // a further argument
};
