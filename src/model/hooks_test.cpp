// The data model's calls into the layers above it, driven through stand-in
// hooks: the kel parser's questions (pretty printing, prototypes, class names,
// assignable slots) and the wire layer's copy and decode of held objects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "model/any.h"
#include "model/any_array.h"
#include "model/attributes.h"
#include "model/obj_ref.h"
#include "model/object_codec.h"
#include "model/script_hooks.h"

// The parser is opaque to the model; this stand-in carries what the hooks
// report.
class Parser {
 public:
  bool pretty = false;
  int depth = 0;
  Translatable* prototype = nullptr;
};

namespace {

std::string text(char* s) {
  if (!s) return "<null>";
  std::string r(s);
  free(s);
  return r;
}

// A slot whose value the parser reads on the model's behalf.
struct Slot : Translatable {
  explicit Slot(Any* v) : value(v) {}
  ~Slot() override { delete value; }
  bool isAssignable() const override { return true; }
  char* toString(Parser*) override { return strdup("slot"); }
  Any* value;
};

struct Proto : Translatable {
  bool isPrototype() const override { return true; }
  char* toString(Parser*) override { return strdup("proto"); }
};

class ScriptHooksTest : public testing::Test {
 protected:
  void SetUp() override {
    ScriptHooks hooks;
    hooks.isPrettyPrint = [](Parser* p) { return p->pretty; };
    hooks.adjustIndent = [](Parser* p, int delta) { return p->depth += delta; };
    hooks.prototypeFor = [](Parser* p, int id) { return id == OBJ_ANYARRAY_ID ? p->prototype : nullptr; };
    hooks.classNameFor = [](Parser*, int id) -> const char* { return id == OBJ_ATTRIBUTES_ID ? "Map" : nullptr; };
    hooks.readAssignable = [](Parser*, Translatable* t, Any** out) {
      *out = new Any(*static_cast<Slot*>(t)->value);
      return 0;
    };
    setScriptHooks(hooks);
  }
  void TearDown() override { setScriptHooks(ScriptHooks()); }
  Parser parser;
};

TEST_F(ScriptHooksTest, PrettyPrintingIndentsNestedContainers) {
  Attributes outer;
  outer.setAttribute("a", 1);
  auto* inner = new Attributes();
  inner->setAttribute("k", "v");
  auto* when = new Any(0LL);
  when->setSubtype(ANY_SUBTYPE_DATE);
  inner->addAttribute("t", when);
  outer.addAttribute("in", new Any(new ObjRef(inner)));
  auto* list = new AnyArray(0);
  list->append(new Any(2));
  list->append(new Any(OBJ_ANYARRAY_ID, new AnyArray(0)));
  outer.addAttribute("list", new Any(OBJ_ANYARRAY_ID, list));
  parser.pretty = true;
  EXPECT_EQ(text(outer.toString(&parser)),
            "{\n"
            "    \"list\" : [\n"
            "        2, \n"
            "        [\n"
            "        ]\n"
            "    ], \n"
            "    \"in\" : {\n"
            "        \"t\" : \"1970-01-01T00:00:00.000Z\", \n"
            "        \"t_mts\" : 13, \n"
            "        \"k\" : \"v\"\n"
            "    }, \n"
            "    \"a\" : 1\n"
            "}");
  EXPECT_EQ(parser.depth, 0);
  // Compact mode with a parser moves the depth the same way but prints none.
  parser.pretty = false;
  EXPECT_EQ(text(outer.toString(&parser)),
            "{ \"list\" : [ 2, [  ] ], \"in\" : { \"t\" : \"1970-01-01T00:00:00.000Z\", \"t_mts\" : 13, "
            "\"k\" : \"v\" }, \"a\" : 1 }");
  EXPECT_EQ(parser.depth, 0);
}

TEST_F(ScriptHooksTest, PrototypesAndClassNames) {
  // The parser's registry keeps its prototypes alive with a reference.
  auto* proto = new Proto();
  ObjRef registry(proto);
  parser.prototype = proto;
  AnyArray array(0);
  Any* result = nullptr;
  ASSERT_EQ(array.getField(&parser, &result, "prototype"), 0);
  EXPECT_EQ(result->getRefTarget(), proto);
  EXPECT_EQ(proto->refCount, 2);
  delete result;
  EXPECT_EQ(proto->refCount, 1);
  Attributes attrs;
  ASSERT_EQ(attrs.getField(&parser, &result, "prototype"), 0);
  EXPECT_TRUE(result->isUndefined());  // no prototype registered for it
  delete result;
  EXPECT_STREQ(attrs.getClassOf(&parser), "Map");
  EXPECT_STREQ(attrs.getClassOf(nullptr), "object");
  EXPECT_STREQ(proto->getClassOf(&parser), "prototype");
  EXPECT_STREQ(proto->getTypeOf(&parser), "undefined");
  Any ref(new ObjRef(new Attributes()));
  EXPECT_STREQ(ref.getClassOf(&parser), "Map");
}

TEST_F(ScriptHooksTest, ConversionsReadAssignableSlots) {
  auto* text64 = new Any("2k");
  text64->setSubtype(ANY_SUBTYPE_INT64_TEXT);
  Any ref(new ObjRef(new Slot(text64)));
  long long l = 0;
  EXPECT_TRUE(ref.convertToInt64(&parser, l));
  EXPECT_EQ(l, 2048);
  EXPECT_FALSE(ref.convertToInt64(l));  // without the parser it is just a reference
  Any plain(5);
  int i = 0;
  EXPECT_TRUE(plain.convertToInt32(&parser, i));
  EXPECT_EQ(i, 5);
  char* s = nullptr;
  EXPECT_FALSE(ref.convertToString(&parser, s));
}

// A stand-in for the wire layer: copies by clone(), decodes "N:<digits>".
int fakeCopy(int, const Translatable* object, Translatable** copy) { return object->clone(nullptr, copy); }
int fakeDecode(int type, const char* bytes, size_t n, Translatable** out) {
  if (type != OBJ_ATTRIBUTES_ID || n < 2 || bytes[0] != 'N') return -1;
  auto* attrs = new Attributes();
  attrs->setAttribute("n", atoi(std::string(bytes + 2, n - 2).c_str()));
  *out = attrs;
  return 0;
}

class ObjectCodecTest : public testing::Test {
 protected:
  void SetUp() override {
    ObjectCodec codec;
    codec.copyObject = fakeCopy;
    codec.decodeObject = fakeDecode;
    setObjectCodec(codec);
  }
  void TearDown() override { setObjectCodec(ObjectCodec()); }
};

TEST_F(ObjectCodecTest, HeldObjectsAreCopiedThroughTheCodec) {
  auto* attrs = new Attributes();
  attrs->setAttribute("k", 1);
  Any held(OBJ_ATTRIBUTES_ID, attrs);
  Any copy(held);
  ASSERT_NE(copy.getHeldObject(), nullptr);
  EXPECT_NE(copy.getHeldObject(), attrs);
  EXPECT_TRUE(*static_cast<Attributes*>(copy.getHeldObject()) == *attrs);
}

TEST_F(ObjectCodecTest, OpaqueValuesDecodeOnFirstUse) {
  Any opaque;
  opaque.adoptOpaque(OBJ_ATTRIBUTES_ID, strdup("N:42"), 4);
  Any copy(opaque);
  EXPECT_EQ(text(opaque.toString(nullptr)), "{ \"n\" : 42 }");
  EXPECT_FALSE(opaque.isOpaque());  // kept decoded
  Translatable* object = nullptr;
  ASSERT_TRUE(opaque.getObject(&object));
  EXPECT_EQ(object, opaque.getHeldObject());
  // takeObject decodes a new object for the caller and keeps the bytes.
  ASSERT_TRUE(copy.takeObject(&object));
  EXPECT_TRUE(copy.isOpaque());
  delete object;
  Any broken;
  broken.adoptOpaque(OBJ_ATTRIBUTES_ID, strdup("garbage"), 7);
  EXPECT_FALSE(broken.getObject(&object));
  EXPECT_TRUE(broken.isOpaque());  // may be retried
  EXPECT_EQ(broken.toString(nullptr), nullptr);
}

}  // namespace
