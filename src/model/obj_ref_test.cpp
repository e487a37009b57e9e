#include "model/obj_ref.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "model/any.h"
#include "model/attributes.h"

namespace {

// Counts its own destructions; its destructor also drops a reference it
// holds, which must work because targets die after the lock is released.
struct Probe : Translatable {
  explicit Probe(std::atomic<int>* deaths, Translatable* inner = nullptr) : deaths(deaths), inner(inner) {}
  ~Probe() override { deaths->fetch_add(1); }
  char* toString(Parser*) override { return strdup("probe"); }
  std::atomic<int>* deaths;
  ObjRef inner;
};

TEST(ObjRef, CountsAndDeletesTheLastHolder) {
  std::atomic<int> deaths{0};
  auto* p = new Probe(&deaths);
  {
    ObjRef a(p);
    EXPECT_EQ(p->refCount, 1);
    ObjRef b(a);
    EXPECT_EQ(p->refCount, 2);
    ObjRef c;
    c = b;
    EXPECT_EQ(p->refCount, 3);
    c = c;
    EXPECT_EQ(p->refCount, 3);
    c.set(p);  // same target: no change
    EXPECT_EQ(p->refCount, 3);
    c.set(nullptr);
    EXPECT_EQ(p->refCount, 2);
    EXPECT_EQ(c.getTarget(), nullptr);
  }
  EXPECT_EQ(deaths, 1);
}

TEST(ObjRef, NullTargetBecomesANullAny) {
  ObjRef r(nullptr);
  ASSERT_NE(r.getTarget(), nullptr);
  EXPECT_EQ(r.getTarget()->getObjectID(), OBJ_ANY_ID);
  char* s = r.toString(nullptr);
  EXPECT_STREQ(s, "null");
  free(s);
  ObjRef none;
  EXPECT_EQ(none.toString(nullptr), nullptr);
}

TEST(ObjRef, DestructorsMayReleaseFurtherReferences) {
  std::atomic<int> deaths{0};
  auto* inner = new Probe(&deaths);
  auto* outer = new Probe(&deaths, inner);
  { ObjRef r(outer); }
  EXPECT_EQ(deaths, 2);
}

TEST(ObjRef, ReleaseAndAdoptMoveACount) {
  std::atomic<int> deaths{0};
  auto* p = new Probe(&deaths);
  auto* q = new Probe(&deaths);
  ObjRef a(p);
  ObjRef b(q);
  Translatable* moved = a.release();
  EXPECT_EQ(moved, p);
  EXPECT_EQ(a.getTarget(), nullptr);
  EXPECT_EQ(p->refCount, 1);  // the count travels with the pointer
  b.adopt(moved);             // b's old target loses its last holder
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(b.getTarget(), p);
  EXPECT_EQ(p->refCount, 1);
  a.adopt(nullptr);
  b.adopt(b.release());  // the same target back: nothing released
  EXPECT_EQ(p->refCount, 1);
  EXPECT_EQ(deaths, 1);
  b.set(nullptr);
  EXPECT_EQ(deaths, 2);
}

TEST(ObjRef, AdjustLockPins) {
  std::atomic<int> deaths{0};
  auto* p = new Probe(&deaths);
  ObjRef pin(p);
  pin.adjustLock(1);
  { ObjRef other(p); }
  pin.set(nullptr);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(p->refCount, 1);
  delete p;
}

TEST(ObjRef, SharedAcrossThreads) {
  std::atomic<int> deaths{0};
  auto* p = new Probe(&deaths);
  auto* root = new ObjRef(p);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([root] {
      for (int i = 0; i < 5000; i++) {
        ObjRef copy(*root);
        ObjRef again;
        again = copy;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(p->refCount, 1);
  delete root;
  EXPECT_EQ(deaths, 1);
}

// The last two holders let go on two threads at once, round after round:
// whichever comes second (seeing a count of 1, or bringing it there) deletes
// the target, exactly once per round. A fresh target's first count is taken
// without an atomic step; the next ones are added to it.
TEST(ObjRef, LastHoldersReleaseTogether) {
  constexpr int kRounds = 2000;
  std::atomic<int> deaths{0};
  for (int round = 0; round < kRounds; round++) {
    auto* p = new Probe(&deaths);
    auto* first = new ObjRef(p);
    EXPECT_EQ(p->refCount, 1);
    auto* second = new ObjRef(*first);
    EXPECT_EQ(p->refCount, 2);
    std::atomic<bool> go{false};
    std::thread other([&go, second] {
      while (!go.load()) {
      }
      delete second;
    });
    go.store(true);
    delete first;
    other.join();
    ASSERT_EQ(deaths, round + 1);
  }
}

}  // namespace
