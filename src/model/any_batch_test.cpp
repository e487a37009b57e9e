#include "model/any_batch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

std::string text(char* s) {
  std::string r(s ? s : "<null>");
  free(s);
  return r;
}

// Values made in blocks behave as heap values: every kind of value, deleted
// in any order, some only after the batch is gone, through a base pointer or
// the last reference; the leak checker of the sanitizer build sees that every
// block goes back.
TEST(AnyBatch, ValuesLiveAndDieOnTheirOwn) {
  std::vector<Any*> values;
  std::unique_ptr<Any> kept;
  ObjRef shared;
  {
    AnyBatch batch;
    for (int i = 0; i < 1000; i++) {
      switch (i % 5) {
        case 0: values.push_back(batch.make(i)); break;
        case 1: values.push_back(batch.make((long long)i << 40)); break;
        case 2: values.push_back(batch.make(("s" + std::to_string(i)).c_str())); break;
        case 3: values.push_back(batch.make(new ObjRef(new AnyArray(2)))); break;
        default: values.push_back(batch.make()); break;
      }
    }
    kept.reset(values[502]);
    values[502] = nullptr;
    shared.set(values[6]);  // the reference is now the value's only owner
    values[6] = nullptr;
    // Every other value goes now, in an order that is not the order made.
    for (size_t i = 0; i < values.size(); i += 2) delete values[i];
    for (size_t i = 1; i < values.size(); i += 2) {
      Translatable* base = values[i];
      delete base;
    }
  }
  EXPECT_EQ(text(kept->toString(nullptr)), "\"s502\"");
  kept->set(3.5);  // still an ordinary, changeable value
  EXPECT_EQ(text(kept->toString(nullptr)), "3.5");
  Any copy(*kept);
  EXPECT_TRUE(copy == *kept);
  auto* target = static_cast<Any*>(shared.getTarget());
  EXPECT_EQ(target->getInt64(), 6ll << 40);
  shared.set(nullptr);
}

// Values of one block released on several threads at once: the block goes
// back exactly once (the thread sanitizer build checks the hand-over).
TEST(AnyBatch, ValuesReleasedOnOtherThreads) {
  constexpr int kThreads = 4;
  constexpr int kValues = 4000;
  std::vector<std::vector<Any*>> perThread(kThreads);
  {
    AnyBatch batch;
    for (int i = 0; i < kValues; i++) perThread[i % kThreads].push_back(batch.make(("v" + std::to_string(i)).c_str()));
  }
  std::vector<std::thread> threads;
  for (auto& mine : perThread) {
    threads.emplace_back([&mine] {
      for (Any* value : mine) {
        ASSERT_NE(value->getString(), nullptr);
        delete value;
      }
    });
  }
  for (auto& t : threads) t.join();
}

// Containers filled with made values, as the JSON reader fills them.
TEST(AnyBatch, ContainersOwnMadeValues) {
  AnyBatch batch;
  auto* list = new AnyArray(0);
  std::unique_ptr<Any> holder(batch.make(new ObjRef(list)));
  auto* map = new Attributes();
  list->append(batch.make(new ObjRef(map)));
  map->appendAttribute("a", batch.make(true));
  map->addOrSetAttribute("a", batch.make(2));  // the replaced value goes back
  list->append(batch.make("x"));
  EXPECT_EQ(list->set(1, batch.make()), 0);
  EXPECT_EQ(text(holder->toString(nullptr)), "[ { \"a\" : 2 }, null ]");
}

}  // namespace
