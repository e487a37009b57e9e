#include "model/any_batch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
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

namespace {

// A document built as the JSON reader builds it (holders first, their
// containers after them, a placed location on the set), then taken apart:
// parts kept through a shared reference, a copy and a moved reference
// outlive the document and the batch; the sanitizer builds check that every
// piece and block goes back exactly once.
TEST(AnyBatch, PlacedReferencesAndLocationsOutliveTheirDocument) {
  ObjRef keptList;
  std::unique_ptr<Any> copied;
  std::unique_ptr<Any> moved(new Any());
  std::unique_ptr<Attributes> setCopy;
  {
    AnyBatch batch;
    std::unique_ptr<Any> document(batch.makeRef(nullptr));
    ASSERT_NE(document->getRef(), nullptr);
    EXPECT_EQ(document->getRefTarget(), nullptr);
    Attributes* set = Attributes::create(batch, 3, 3);
    document->getRef()->set(set);
    Any* listHolder = batch.makeRef(nullptr);
    AnyArray* list = AnyArray::create(batch, 2);
    listHolder->getRef()->set(list);
    list->append(batch.makeString("kept", 4));
    list->append(batch.make(7));
    set->appendAttribute("list", listHolder);
    set->appendAttribute("other", batch.makeRef(AnyArray::create(batch, 0)));
    set->appendAttribute("moved", batch.makeRef(Attributes::create(batch, 0, 0)));
    // Any Translatable stands for the kel location here.
    set->adoptPlacedLocation(batch.place<Any>(42));
    ASSERT_NE(set->getLocation(), nullptr);
    EXPECT_EQ(static_cast<const Any*>(set->getLocation())->getInt32(), 42);

    keptList.set(list);
    copied.reset(new Any(*set->getAttribute("other")));  // shares the target
    moved->takeFrom(*set->getAttribute("moved"));        // the placed ObjRef moves
    setCopy.reset(new Attributes(*set));                 // its own location
    ASSERT_NE(setCopy->getLocation(), nullptr);
    EXPECT_NE(setCopy->getLocation(), set->getLocation());
  }
  auto* list = static_cast<AnyArray*>(keptList.getTarget());
  EXPECT_EQ(list->refCount, 2);  // kept here and by the copy of the set
  EXPECT_EQ(text(list->toString(nullptr)), "[ \"kept\", 7 ]");
  list->append(new Any(8));
  EXPECT_EQ(list->size(), 3);
  EXPECT_EQ(text(copied->toString(nullptr)), "[  ]");
  EXPECT_EQ(moved->getType(), ANY_REF);
  EXPECT_EQ(text(moved->toString(nullptr)), "{  }");
  EXPECT_EQ(static_cast<const Any*>(setCopy->getLocation())->getInt32(), 42);
  EXPECT_EQ(setCopy->size(), 3);
  keptList.set(nullptr);
  moved->set(1);  // the moved placed reference goes back here
}

// Texts of every length around the largest that shares its value's piece,
// moved out and copied: each reads back whole, and the moved ones outlive
// their values and the batch.
TEST(AnyBatch, TextsAroundThePieceLimit) {
  std::vector<std::unique_ptr<Any>> moved;
  {
    AnyBatch batch;
    for (size_t n = AnyBatch::kMaxPiece - sizeof(Any) - 4; n < AnyBatch::kMaxPiece + 4; n++) {
      std::string want(n, static_cast<char>('a' + n % 26));
      std::unique_ptr<Any> made(batch.makeString(want.data(), n));
      ASSERT_EQ(made->getString(), want) << n;
      Any copy(*made);
      EXPECT_TRUE(copy == *made);
      moved.emplace_back(new Any());
      moved.back()->takeFrom(*made);
      EXPECT_EQ(made->getString(), nullptr);
      made->setString("again");  // the value stays usable
      EXPECT_STREQ(made->getString(), "again");
    }
  }
  for (auto& value : moved) {
    size_t n = strlen(value->getString());
    EXPECT_EQ(value->getString(), std::string(n, static_cast<char>('a' + n % 26)));
  }
}

// A set made in a batch releases only what it owns: a value it does not own
// (setAttributeDontFree) and a value someone else also counts survive it.
TEST(AnyBatch, PlacedSetsReleaseOnlyTheirOwnValues) {
  Any foreign(5);
  ObjRef shared;
  {
    AnyBatch batch;
    std::unique_ptr<Any> holder(batch.makeRef(Attributes::create(batch, 3, 3)));
    auto* set = static_cast<Attributes*>(holder->getRefTarget());
    set->setAttributeDontFree("f", &foreign);
    Any* value = batch.makeString("s", 1);
    set->appendAttribute("s", value);
    shared.set(value);
    set->setLocation(nullptr);
    set->adoptPlacedLocation(batch.place<Any>(1));
    set->adoptPlacedLocation(nullptr);  // dropped: the piece goes back now
    EXPECT_EQ(set->getLocation(), nullptr);
  }
  EXPECT_EQ(foreign.getInt32(), 5);
  EXPECT_STREQ(static_cast<Any*>(shared.getTarget())->getString(), "s");
  EXPECT_EQ(shared.getTarget()->refCount, 1);
}

// Releases tallied in runs: nested runs, pieces of many blocks in one run,
// runs on several threads over the same blocks at once, and releases outside
// any run mixed in. Every block is freed once (asan) and the hand-over
// between threads is ordered (tsan); values not yet released stay intact.
TEST(AnyBatch, ReleaseRunsOverManyBlocksAndThreads) {
  constexpr int kThreads = 3;
  constexpr int kValues = 6000;  // well over one block's worth
  std::vector<std::vector<Any*>> perThread(kThreads);
  std::vector<Any*> late;
  {
    AnyBatch batch;
    for (int i = 0; i < kValues; i++) {
      Any* value = i % 3 == 0 ? batch.makeRef(AnyArray::create(batch, 1)) : batch.makeString("abcdefgh", 8);
      if (i % 3 == 0) static_cast<AnyArray*>(value->getRefTarget())->append(batch.make(i));
      if (i % 97 == 0) {
        late.push_back(value);
      } else {
        perThread[(i / 50) % kThreads].push_back(value);
      }
    }
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([&perThread, t] {
      std::vector<Any*>& mine = perThread[t];
      size_t half = mine.size() / 2;
      {
        AnyBatch::ReleaseRun outer;
        for (size_t i = 0; i < half; i++) {
          AnyBatch::ReleaseRun inner;
          delete mine[i];
        }
      }
      for (size_t i = half; i < mine.size(); i++) delete mine[i];  // no run
    });
  }
  for (auto& t : threads) t.join();
  for (Any* value : late) {
    if (value->getType() == ANY_REF) {
      EXPECT_EQ(static_cast<AnyArray*>(value->getRefTarget())->size(), 1);
    } else {
      EXPECT_STREQ(value->getString(), "abcdefgh");
    }
    delete value;
  }
}

// A thread that frees document after document reuses the block it kept; a
// thread that ends frees the block it kept.
TEST(AnyBatch, DocumentAfterDocumentOnManyThreads) {
  auto readAndFree = [] {
    for (int round = 0; round < 20; round++) {
      AnyBatch batch;
      std::unique_ptr<Any> holder(batch.makeRef(nullptr));
      AnyArray* list = AnyArray::create(batch, 0);
      holder->getRef()->set(list);
      for (int i = 0; i < 2000; i++) list->append(batch.makeString("value", 5));
      ASSERT_EQ(list->size(), 2000);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; t++) threads.emplace_back(readAndFree);
  for (auto& t : threads) t.join();
  readAndFree();
}

}  // namespace
