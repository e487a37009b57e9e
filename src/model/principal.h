// Principal: the identity under which every directory request is made. It
// carries one encoded text issued by the directory server inside the session
// certificate, and offers readers over it. The text has sections separated by
// '`' and items separated by ','; in names ';' stands for '@':
//   1: version, policies ("name" or "name:value")
//   2: login user, (server item), login groups...
//   3: product user, (server item), product groups ("group" or "group@domain")
//   4+: native identities "user@service" + two characters, ",", login token
// Immutable after construction apart from the setters used by decoders;
// readers may run on several threads at once.
#pragma once

#include <openssl/x509.h>

#include <cstddef>

#include "model/translatable.h"

class Principal : public Translatable {
 public:
  static constexpr const char* FLAG_TRIALRUN = "T";

  Principal();
  // Logs the new principal at the security threshold.
  Principal(const char* encoded, const char* domain, const char* signature, long long sessionId);
  Principal(const Principal& other);
  Principal& operator=(const Principal&) = delete;
  ~Principal() override;

  // From a session certificate: the encoded text is the data of extension
  // 1.1.1.1 (none: null result), the signature that of 1.1.1.2 (none: "PV"),
  // the domain the issuer's common name, the session id the serial number.
  [[nodiscard]] static Principal* createFromCertificate(X509* certificate);
  // From the host's factory hook when installed, else an empty principal.
  [[nodiscard]] static Principal* createServerPrincipal();
  // A copy marked as a trial run: unchanged when policy "T" is set, else the
  // text becomes "2,T" followed by the old text without its first character.
  [[nodiscard]] Principal* createTrialRunToken() const;

  [[nodiscard]] const char* getEncoded() const { return encoded_; }
  [[nodiscard]] const char* getDomain() const { return domain_; }
  [[nodiscard]] const char* getSignature() const { return signature_; }
  [[nodiscard]] long long getSessionId() const { return sessionId_; }
  [[nodiscard]] int getPeerVersion() const { return peerVersion_; }
  void setEncoded(const char* encoded);
  void setDomain(const char* domain);
  // Null restores "PV".
  void setSignature(const char* signature);
  void setSessionId(long long id) { sessionId_ = id; }
  void setPeerVersion(int version) { peerVersion_ = version; }

  // The first item of section 2 / 3 with ';' turned into '@'. Returns 0, or
  // -1 when the text lacks the section or `dst` (of `len` bytes) is too small.
  [[nodiscard]] int getLoginUser(char* dst, size_t len) const;
  [[nodiscard]] int getOrvanexUser(char* dst, size_t len) const;
  // The groups of section 2 / 3 (from the third item on, ';' turned into '@')
  // as a new NULL-terminated array (free with freeList); empty when the
  // section has no groups, null when the text has no such section.
  [[nodiscard]] char** getLoginGroups() const;
  [[nodiscard]] char** getOrvanexGroups() const;
  static void freeList(char** list);

  // Whether a product group equals `group`, comparing the parts before '@'.
  [[nodiscard]] bool containsOrvanexGroup(const char* group) const;
  // Whether a section from 2 on has `name` as its first item (exactly), or
  // as a later item with '@' and ';' taken as equal.
  [[nodiscard]] bool containsPrincipalName(const char* name) const;

  // Whether a policy of that name is set (items of section 1 after the
  // version); its value (after ':', empty when none) goes to `dst`, cut to
  // len - 1 characters. `dst` may be null.
  [[nodiscard]] bool getPolicy(const char* name, char* dst, size_t len) const;
  [[nodiscard]] bool isPolicySet(const char* name) const { return getPolicy(name, nullptr, 0); }
  // Every policy item as written ("name" or "name:value"); null without
  // section 1. Free with freeList.
  [[nodiscard]] char** getAllPolicies() const;

  // The login names of the native identities (sections 4 on, before '@').
  [[nodiscard]] char** getNativeUsers() const;
  // The items after the token of the native identities for `service`
  // (compared without case).
  [[nodiscard]] char** getNativeGroups(const char* service) const;
  // The first native identity whose service equals (without case) an entry
  // of `services` (NULL-terminated) and, with `lockedUser`, whose login
  // equals it without case. Fills the login, the token, the matching list
  // entry and the identity's own service text (each cut to its buffer).
  // Returns 0, or -1 when none matches or the text is malformed.
  [[nodiscard]] int getBestNativeLogin(const char* const* services, const char* lockedUser, char* login,
                                       size_t loginLen, char* token, size_t tokenLen, char* service,
                                       size_t serviceLen, char* ownService, size_t ownServiceLen) const;

  // base64 (no line breaks) of domain|encoded|session|signature plus its NUL.
  [[nodiscard]] char* asAuthString() const;
  // "{domain, encoded, signature}".
  char* toString(Parser* parser) override;
  int clone(const Principal* principal, Translatable** out) const override;
  int getObjectID() const override { return OBJ_PRINCIPAL_ID; }

 private:
  char* encoded_ = nullptr;
  char* domain_ = nullptr;
  char* signature_ = nullptr;
  long long sessionId_ = 0;
  int peerVersion_ = 0;
};

// The host installs the factory of the server's own principal here.
extern Principal* (*_makeServerPrincipal)();
// The threshold of the security log lines (LOG_INFO by default).
extern int _debug_security;
