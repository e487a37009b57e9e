// The translators of the data-model objects and the one call that registers
// them all. Stateless; registration is meant for start-up (see MessageBase).
#pragma once

class MessageBase;
class Translatable;

// Registers every translator below under its object id (and the principal's
// under 7 and 97), and installs the hook through which `Any` deep-copies the
// objects it holds. Safe to call more than once.
void registerModelXlators();

class Any;
// Writes `value` as object 1000 in field `field`, as writeObjectField does,
// faster for scalar and text values.
int writeAnyField(MessageBase* m, int field, const Any* value);

int AnyXlator(MessageBase* m, Translatable** object, int direction);                       // 1000
int AttributesXlator(MessageBase* m, Translatable** object, int direction);                // 1001
int AttributesAXlator(MessageBase* m, Translatable** object, int direction);               // 1002
int AttributesALXlator(MessageBase* m, Translatable** object, int direction);              // 1003
int DirNameEntryXlator(MessageBase* m, Translatable** object, int direction);              // 1004
int DirNameEntryAXlator(MessageBase* m, Translatable** object, int direction);             // 1005
int DirNameEntryAlXlator(MessageBase* m, Translatable** object, int direction);            // 1006
int DirNameXlator(MessageBase* m, Translatable** object, int direction);                   // 1007
int DirNameNXlator(MessageBase* m, Translatable** object, int direction);                  // 1008
int DirNameNLXlator(MessageBase* m, Translatable** object, int direction);                 // 1009
int DirectoryEnumerationXlator(MessageBase* m, Translatable** object, int direction);      // 1010
int DirectoryEnumerationEEXlator(MessageBase* m, Translatable** object, int direction);    // 1011
int DirectoryEnumerationEELXlator(MessageBase* m, Translatable** object, int direction);   // 1012
int AclXlator(MessageBase* m, Translatable** object, int direction);                       // 1014
int ClassEnumerationXlator(MessageBase* m, Translatable** object, int direction);          // 1020
int ClassEnumerationEEXlator(MessageBase* m, Translatable** object, int direction);        // 1021
int ClassEnumerationEELXlator(MessageBase* m, Translatable** object, int direction);       // 1022
int AnyArrayXlator(MessageBase* m, Translatable** object, int direction);                  // 1030
int ExpectEntryXlator(MessageBase* m, Translatable** object, int direction);               // 2390
int ExpectListXlator(MessageBase* m, Translatable** object, int direction);                // 2391
int ExpectListLXlator(MessageBase* m, Translatable** object, int direction);               // 2392
int ExpectEntryListXlator(MessageBase* m, Translatable** object, int direction);           // 2393
int JavaObjectXlator(MessageBase* m, Translatable** object, int direction);                // 2431
int EmbDeviceChallengeXlator(MessageBase* m, Translatable** object, int direction);        // 50501
