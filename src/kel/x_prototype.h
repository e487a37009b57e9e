// XPrototype: the `X` utility object of kel (object id 9229): range,
// versionNumber, sqlEquals, asCommaString, levelArray, findIn, filterList,
// getLogin and getPassword. The credential lookups go through a hook the
// host registers at start-up (the vault is not kel's). Stateless apart from
// that hook; registered once.
#pragma once

#include "model/translatable.h"

class Principal;

// The host's credential checkout: fills `login` (and `password` unless it
// is null) for `name` as seen by `principal`; 0 on success, else a
// directory error code. Buffers are of the sizes given; the texts must be
// NUL-terminated within them (kel terminates the last byte regardless).
using KelCredentialCheckout = int (*)(const Principal* principal, const char* name, char* login, int loginSize,
                                      char* password, int passwordSize);
// Installs (or, with null, removes) the checkout function. Thread-safe.
void setKelCredentialCheckout(KelCredentialCheckout checkout);

class XPrototype : public Translatable {
 public:
  static constexpr int kObjectId = 9229;
  static constexpr int kIllegalArgument = 24;
  static constexpr int kResource = 39;
  // Code of getLogin/getPassword when no checkout function is installed
  // ("Not Implemented").
  static constexpr int kNoCheckout = 21;

  // Failures: 24 for missing or unusable arguments; 39 for a result beyond
  // the parser's array bound or nesting deeper than 200; the code of a
  // called function or of the checkout. sqlEquals doubles single quotes in
  // the texts it quotes, so a value cannot end the SQL literal early.
  int callMemberFn(Parser* parser, Any** result, Translatable* self, const char* name, Any** args) override;
  bool isPrototype() const override { return true; }
  int getObjectID() const override { return kObjectId; }
  char* toString(Parser* parser) override;
};
