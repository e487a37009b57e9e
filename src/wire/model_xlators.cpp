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
      {7, PrincipalXlator, "PrincipalXlator"},
      {97, PrincipalXlator, "PrincipalXlator"},
      {1000, AnyXlator, "AnyXlator"},
      {1001, AttributesXlator, "AttributesXlator"},
      {1002, AttributesAXlator, "AttributesAXlator"},
      {1003, AttributesALXlator, "AttributesALXlator"},
      {1004, DirNameEntryXlator, "DirNameEntryXlator"},
      {1005, DirNameEntryAXlator, "DirNameEntryAXlator"},
      {1006, DirNameEntryAlXlator, "DirNameEntryAlXlator"},
      {1007, DirNameXlator, "DirNameXlator"},
      {1008, DirNameNXlator, "DirNameNXlator"},
      {1009, DirNameNLXlator, "DirNameNLXlator"},
      {1010, DirectoryEnumerationXlator, "DirectoryEnumerationXlator"},
      {1011, DirectoryEnumerationEEXlator, "DirectoryEnumerationEEXlator"},
      {1012, DirectoryEnumerationEELXlator, "DirectoryEnumerationEELXlator"},
      {1014, AclXlator, "AclXlator"},
      {1020, ClassEnumerationXlator, "ClassEnumerationXlator"},
      {1021, ClassEnumerationEEXlator, "ClassEnumerationEEXlator"},
      {1022, ClassEnumerationEELXlator, "ClassEnumerationEELXlator"},
      {1030, AnyArrayXlator, "AnyArrayXlator"},
      {2390, ExpectEntryXlator, "ExpectEntryXlator"},
      {2391, ExpectListXlator, "ExpectListXlator"},
      {2392, ExpectListLXlator, "ExpectListLXlator"},
      {2393, ExpectEntryListXlator, "ExpectEntryListXlator"},
      {2431, JavaObjectXlator, "JavaObjectXlator"},
      {50501, EmbDeviceChallengeXlator, "EmbDeviceChallengeXlator"},
  };
  for (const Entry& e : kEntries) MessageBase::registerObjectXlator(e.type, e.fn, e.name);
  ObjectCodec codec;
  codec.copyObject = copyObject;
  codec.decodeObject = decodeObject;
  setObjectCodec(codec);
}
