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

}  // namespace
