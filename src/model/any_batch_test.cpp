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

namespace {

// Texts made in a batch move between values like heap texts; sets and arrays
// made in a batch grow past the room they were made with.
TEST(AnyBatch, PlacedTextsSetsAndArraysGrowAndMove) {
  std::unique_ptr<Any> taker(new Any());
  std::unique_ptr<Attributes> set;
  std::unique_ptr<AnyArray> array;
  {
    AnyBatch batch;
    std::unique_ptr<Any> made(batch.makeString("abc\xC3\xA9", 5));
    EXPECT_STREQ(made->getString(), "abc\xC3\xA9");
    EXPECT_EQ(made->getSubtype(), ANY_SUBTYPE_PLAIN_STRING);
    taker->takeFrom(*made);  // the placed text moves to a heap value
    EXPECT_EQ(made->getString(), nullptr);
    made->setString("own");  // and the batch value takes a heap text
    std::string big(5000, 'b');  // too large for a block: from the heap
    std::unique_ptr<Any> large(batch.makeString(big.data(), big.size()));
    EXPECT_EQ(large->getString(), big);

    set.reset(Attributes::create(batch, 2, 2));
    set->appendAttribute("a", batch.make(1));
    set->appendAttribute("b", batch.make(2));
    for (int i = 0; i < 30; i++) set->addAttribute(("n" + std::to_string(i)).c_str(), batch.make(i));
    array.reset(AnyArray::create(batch, 2));
    array->append(batch.make(1));
    array->append(batch.makeString("x", 1));
    for (int i = 0; i < 20; i++) array->append(batch.make(i));
    std::unique_ptr<AnyArray> huge(AnyArray::create(batch, 100000));  // from the heap
    huge->append(batch.make());
    EXPECT_EQ(huge->size(), 1);
  }
  EXPECT_STREQ(taker->getString(), "abc\xC3\xA9");
  EXPECT_EQ(set->size(), 32);
  EXPECT_EQ(set->getAttribute("b")->getInt32(), 2);
  EXPECT_EQ(set->getAttribute("n29")->getInt32(), 29);
  Attributes copy(*set);
  EXPECT_TRUE(copy == *set);
  EXPECT_EQ(array->size(), 22);
  EXPECT_STREQ(array->get(1)->getString(), "x");
  AnyArray arrayCopy(*array);
  EXPECT_TRUE(arrayCopy == *array);
  array->clear();
  array->append(new Any(5));
  EXPECT_EQ(array->get(0)->getInt32(), 5);
  std::unique_ptr<Attributes> empty;
  {
    AnyBatch batch;
    empty.reset(Attributes::create(batch, 0, 0));
  }
  empty->setAttribute("late", 1);
  EXPECT_EQ(empty->getAttribute("late")->getInt32(), 1);
}

}  // namespace
