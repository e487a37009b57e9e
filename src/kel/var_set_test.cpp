// The frame of a call scope (VarSet::makeFrame): entries made with the set
// that no lookup finds until a definition names them, and that behave as
// ordinary entries afterwards; the spare frame a thread keeps for the next
// call of the same function.
#include "kel/var_set.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"

namespace {

std::vector<std::string> localNames(VarSet& set) {
  std::vector<std::string> out;
  char** names = set.getLocalVariables();
  for (char** p = names; *p != nullptr; p++) {
    out.emplace_back(*p);
    std::free(*p);
  }
  delete[] names;
  return out;
}

const std::vector<std::string> kNames = {"a", "b", "r"};

TEST(VarSetFrame, EntriesAreInvisibleUntilDefined) {
  ObjRef parentRef(new VarSet());
  auto* parent = static_cast<VarSet*>(parentRef.getTarget());
  ASSERT_TRUE(parent->define("r", new Any(7)));
  ObjRef setRef(new VarSet());
  auto* set = static_cast<VarSet*>(setRef.getTarget());
  set->setParent(parent);
  set->makeFrame(kNames.data(), kNames.size(), 900001);

  // Nothing defined: every name reaches the parent, or nothing.
  EXPECT_EQ(set->get("r"), parent->get("r"));
  EXPECT_EQ(set->get("a"), nullptr);
  EXPECT_TRUE(localNames(*set).empty());
  EXPECT_EQ(set->frameIndexOf("r"), -1);
  // An assignment never creates: it reaches the parent's variable.
  Any nine(9);
  EXPECT_TRUE(set->assignValue("r", nine));
  EXPECT_EQ(parent->get("r")->getInt32(), 9);
  Any one(1);
  EXPECT_FALSE(set->assignValue("a", one));

  // Parameters are defined by index, most recent first as ever.
  set->defineFrame(0, Any(1));
  set->defineFrame(1, Any(2));
  EXPECT_EQ(localNames(*set), (std::vector<std::string>{"b", "a"}));
  // A definition by name lands in the frame entry of that name.
  Any three(3);
  ASSERT_TRUE(set->defineValue("r", three));
  EXPECT_EQ(set->frameIndexOf("r"), 2);
  EXPECT_EQ(set->get("r")->getInt32(), 3);
  EXPECT_EQ(parent->get("r")->getInt32(), 9);
  EXPECT_EQ(localNames(*set), (std::vector<std::string>{"r", "b", "a"}));
  // A name outside the frame gets an entry of its own.
  ASSERT_TRUE(set->define("other", new Any(4)));
  EXPECT_EQ(localNames(*set), (std::vector<std::string>{"other", "r", "b", "a"}));

  // Cleared, an entry is not defined again, and can be defined again.
  set->clear("b");
  EXPECT_EQ(set->get("b"), nullptr);
  EXPECT_EQ(set->frameIndexOf("b"), -1);
  EXPECT_EQ(localNames(*set), (std::vector<std::string>{"other", "r", "a"}));
  ASSERT_TRUE(set->define("b", new Any(5)));
  EXPECT_EQ(set->get("b")->getInt32(), 5);
  EXPECT_EQ(set->frameIndexOf("b"), 1);
}

TEST(VarSetFrame, FoundAgainByIndex) {
  VarSet set;
  set.makeFrame(kNames.data(), kNames.size(), 900002);
  set.defineFrame(0, Any(10));
  int own = -1;
  Any* a = set.resolveSlot("a", &own);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(own & VarSet::kFrameIndex, 0);
  EXPECT_EQ(set.slotAt(own, "a"), a);
  EXPECT_EQ(set.slotAt(own, "b"), nullptr);  // another name at that index is not it
  EXPECT_EQ(set.frameValue(own), a);
  // An entry not defined: no variable for readers, its (null) value for
  // the flat programs that neither read nor store null.
  int rIndex = VarSet::kFrameIndex | 2;
  EXPECT_EQ(set.frameValue(rIndex), nullptr);
  Any* r = set.frameSlot(rIndex);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->isNull());
  Any v(4);
  ASSERT_TRUE(set.defineFrameValue(2, v));
  EXPECT_EQ(set.frameSlot(rIndex), r);  // the same variable once defined
  EXPECT_EQ(r->getInt32(), 4);
  // A sub-set entry has no value to give.
  ObjRef sub(new VarSet());
  ASSERT_TRUE(set.define("b", static_cast<AbstractVarSet*>(sub.getTarget())));
  EXPECT_EQ(set.frameSlot(VarSet::kFrameIndex | 1), nullptr);
  EXPECT_EQ(set.getSubSet("b"), sub.getTarget());
  // Read-only: nothing to change in place.
  set.setReadOnly(true);
  EXPECT_EQ(set.frameValue(own), nullptr);
  EXPECT_EQ(set.frameSlot(own), nullptr);
  Any w(1);
  EXPECT_FALSE(set.defineFrameValue(2, w));
}

TEST(VarSetFrame, NextSetOfTheKeyStartsEmpty) {
  // Values of one call never show in the next, whether its frame is made
  // anew or is the thread's spare.
  for (int turn = 0; turn < 3; turn++) {
    ObjRef keep;
    {
      VarSet set;
      set.makeFrame(kNames.data(), kNames.size(), 900003);
      EXPECT_EQ(set.get("a"), nullptr) << turn;
      EXPECT_EQ(set.get("r"), nullptr) << turn;
      EXPECT_TRUE(set.frameSlot(VarSet::kFrameIndex | 2)->isNull()) << turn;
      auto* array = new AnyArray();
      keep.set(array);
      Any holder;
      holder.setRef(new ObjRef(array));
      set.defineFrame(0, holder);
      Any text("text");
      ASSERT_TRUE(set.defineValue("r", text));
      EXPECT_EQ(keep.getTarget()->refCount, 3);  // keep, the holder, the variable
    }
    // The set's end dropped the variable's reference.
    EXPECT_EQ(keep.getTarget()->refCount, 1) << turn;
  }
  // A frame of another key is made anew with its own names.
  const std::vector<std::string> other = {"x"};
  VarSet set;
  set.makeFrame(other.data(), other.size(), 900004);
  Any v(1);
  ASSERT_TRUE(set.defineValue("x", v));
  EXPECT_EQ(set.frameIndexOf("x"), 0);
  EXPECT_EQ(set.frameIndexOf("a"), -1);
}

TEST(VarSetFrame, CallScopesStartEmpty) {
  // A call scope ended and made again for the same function (the thread's
  // spare, where the cache is on) has nothing of the earlier call.
  ObjRef keep(new AnyArray());
  uint64_t serial = 0;
  for (int turn = 0; turn < 3; turn++) {
    VarSet* set = VarSet::makeCallScope(kNames.data(), kNames.size(), 900005);
    EXPECT_NE(set->serial(), serial) << turn;
    serial = set->serial();
    EXPECT_EQ(set->get("a"), nullptr) << turn;
    EXPECT_TRUE(localNames(*set).empty()) << turn;
    EXPECT_EQ(set->getThis(), nullptr) << turn;
    EXPECT_FALSE(set->isReadOnly()) << turn;
    EXPECT_FALSE(set->hasCallLocation()) << turn;
    EXPECT_EQ(set->refCount, 0) << turn;
    {
      Any holder;
      holder.setRef(new ObjRef(keep.getTarget()));
      set->defineFrame(0, holder);
      ASSERT_TRUE(set->define("extra", new Any(1)));
      set->setThis(new Attributes());
      set->setLocation("f", Location());
      set->setReadOnly(true);
      EXPECT_EQ(keep.getTarget()->refCount, 3);
    }
    VarSet::retire(set);
    EXPECT_EQ(keep.getTarget()->refCount, 1) << turn;
  }
  // Another function's scope is made anew.
  const std::vector<std::string> other = {"x"};
  VarSet* set = VarSet::makeCallScope(other.data(), other.size(), 900006);
  Any v(1);
  ASSERT_TRUE(set->defineValue("x", v));
  EXPECT_EQ(set->frameIndexOf("x"), 0);
  EXPECT_EQ(set->frameIndexOf("a"), -1);
  VarSet::retire(set);
}

}  // namespace
