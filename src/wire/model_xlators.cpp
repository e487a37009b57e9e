// Registration of the data-model translators and the object codec through
// which Any copies the objects it holds and decodes its opaque values.
#include "wire/model_xlators.h"

#include "model/object_codec.h"
#include "model/translatable.h"
#include "wire/message.h"
#include "wire/message_base.h"
#include "wire/principal_xlator.h"

namespace {

// A deep copy through the encoding: write, then read back.
int copyObject(int type, const Translatable* object, Translatable** copy) {
  Message m(0);
  if (m.writeObject(type, object) != 0 || m.switchToRead() != 0) return -1;
  Translatable* out = nullptr;
  if (m.readObject(type, &out) != 0) return -1;
  *copy = out;
  return 0;
}

// The bytes belong to the Any, which keeps them until the decode is done:
// they are read in place.
int decodeObject(int type, const char* bytes, size_t length, Translatable** object) {
  Message m(bytes, length, true);
  Translatable* out = nullptr;
  if (m.readObject(type, &out) != 0) return -1;
  *object = out;
  return 0;
}

}  // namespace

void MessageBase::discardObject(Translatable* object) { delete object; }

void registerModelXlators() {
  struct Entry {
    int type;
    Xlator fn;
    const char* name;
  };
  static const Entry kEntries[] = {
      {1000, AnyXlator, "AnyXlator"},
      {1001, AttributesXlator, "AttributesXlator"},
      {1002, AttributesAXlator, "AttributesAXlator"},
      {1003, AttributesALXlator, "AttributesALXlator"},
      {1030, AnyArrayXlator, "AnyArrayXlator"},
  };
  for (const Entry& e : kEntries) MessageBase::registerObjectXlator(e.type, e.fn, e.name);
  ObjectCodec codec;
  codec.copyObject = copyObject;
  codec.decodeObject = decodeObject;
  setObjectCodec(codec);
}
