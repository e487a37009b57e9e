// Acl: the access list of a directory object, a text of fields separated by
// '`': field 1 the owners, field 2 the group owners (comma-separated), fields
// 5 on access entries "A|D,name@domain/X,perm1,perm2..." ('A' allows,
// anything else denies). Evaluation is stateless and thread-safe.
#pragma once

#include "model/translatable.h"

class Principal;

// Like strtok_r, but empty tokens are not skipped: each call returns the text
// up to the next delimiter (possibly empty), the rest of the text when no
// delimiter follows, or null at the end.
char* orv_strtok_r(char* text, const char* delimiters, char** save);

class Acl : public Translatable {
 public:
  explicit Acl(const char* text);
  Acl(const Acl& other);
  Acl& operator=(const Acl&) = delete;
  ~Acl() override;

  [[nodiscard]] const char* getText() const { return text_; }

  // True when `principal` may use `permission` on an object with this ACL
  // text: members of "Administrators" or of any of `extraGroups` (NULL-
  // terminated, may be null) always; otherwise the first access entry that
  // lists the permission and whose principal specification matches decides.
  // False for null arguments and when nothing decides.
  [[nodiscard]] static bool hasPermission(const Principal* principal, const char* acl, const char* permission,
                                          const char* const* extraGroups);
  // Whether `spec` ("name@domain/X") names `principal`: "everyone@builtin",
  // "owner@builtin" and "groupowner@builtin" (against the comma-separated
  // owner lists), or a name of another domain known to the principal
  // (domains starting "H-" never match).
  [[nodiscard]] static bool isPrincipalMatch(const Principal* principal, const char* owners, const char* groupOwners,
                                             const char* spec);
  // True for members of "Administrators", or when the principal's login or
  // product user is among the owners (field 1); false otherwise.
  [[nodiscard]] static bool hasAclPermission(const Principal* principal, const Acl* acl);

  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int isEqual(const Principal* principal, bool* out, const Translatable* other) const override;
  int getObjectID() const override { return OBJ_ACL_ID; }

 private:
  char* text_;
};
