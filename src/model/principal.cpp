#include "model/principal.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "model/string_builder.h"
#include "model/text_util.h"

Principal* (*_makeServerPrincipal)() = nullptr;
int _debug_security = LOG_INFO;

namespace {

struct Span {
  const char* b;
  const char* e;
  [[nodiscard]] size_t size() const { return (size_t)(e - b); }
  [[nodiscard]] std::string str() const { return std::string(b, size()); }
};

// Section k (from 1) of the encoded text. A text without any backquote has
// no sections at all.
bool section(const char* text, int k, Span* out) {
  if (!text || !strchr(text, '`')) return false;
  const char* p = text;
  for (int i = 1; i < k; i++) {
    p = strchr(p, '`');
    if (!p) return false;
    p++;
  }
  const char* e = strchr(p, '`');
  if (!e) e = p + strlen(p);
  *out = {p, e};
  return true;
}

std::vector<Span> items(Span s) {
  std::vector<Span> out;
  const char* p = s.b;
  for (;;) {
    const char* comma = static_cast<const char*>(memchr(p, ',', (size_t)(s.e - p)));
    const char* e = comma ? comma : s.e;
    out.push_back({p, e});
    if (!comma) break;
    p = comma + 1;
  }
  return out;
}

// Names in the text may write '@' as ';'.
std::string atForm(Span s) {
  std::string r = s.str();
  for (char& c : r) {
    if (c == ';') c = '@';
  }
  return r;
}

bool equalAtForm(Span s, const char* name) {
  size_t n = strlen(name);
  if (s.size() != n) return false;
  for (size_t i = 0; i < n; i++) {
    char a = s.b[i] == ';' ? '@' : s.b[i];
    char b = name[i] == ';' ? '@' : name[i];
    if (a != b) return false;
  }
  return true;
}

bool equalExact(Span s, const char* name) { return s.size() == strlen(name) && strncmp(s.b, name, s.size()) == 0; }

// Copies `text` into dst only when it fits.
int copyWhole(const std::string& text, char* dst, size_t len) {
  if (!dst || text.size() + 1 > len) return -1;
  memcpy(dst, text.c_str(), text.size() + 1);
  return 0;
}

// Copies as much of `text` as fits (the reader contracts that cut).
void copyCut(const std::string& text, char* dst, size_t len) {
  if (!dst || len == 0) return;
  size_t n = text.size() < len - 1 ? text.size() : len - 1;
  memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

char** newList(const std::vector<std::string>& values) {
  char** list = static_cast<char**>(malloc(sizeof(char*) * (values.size() + 1)));
  if (!list) abort();
  for (size_t i = 0; i < values.size(); i++) list[i] = modeltext::dup(values[i].c_str());
  list[values.size()] = nullptr;
  return list;
}

char** groupsOf(const char* text, int k) {
  Span s;
  if (!section(text, k, &s)) return nullptr;
  std::vector<Span> all = items(s);
  std::vector<std::string> groups;
  for (size_t i = 2; i < all.size(); i++) groups.push_back(atForm(all[i]));
  return newList(groups);
}

int userOf(const char* text, int k, char* dst, size_t len) {
  Span s;
  if (!section(text, k, &s)) return -1;
  return copyWhole(atForm(items(s)[0]), dst, len);
}

const char* orNull(const char* s) { return s ? s : "NULL"; }

// The octet-string data of the extension `oid` of `cert`, or false.
bool extensionData(X509* cert, const char* oid, std::string* out) {
  ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
  if (!obj) return false;
  int at = X509_get_ext_by_OBJ(cert, obj, -1);
  ASN1_OBJECT_free(obj);
  if (at < 0) return false;
  X509_EXTENSION* ext = X509_get_ext(cert, at);
  ASN1_OCTET_STRING* data = ext ? X509_EXTENSION_get_data(ext) : nullptr;
  if (!data) return false;
  out->assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)), (size_t)ASN1_STRING_length(data));
  return true;
}

}  // namespace

Principal::Principal() : signature_(modeltext::dup("PV")) {}

Principal::Principal(const char* encoded, const char* domain, const char* signature, long long sessionId)
    : encoded_(modeltext::dup(encoded)),
      domain_(modeltext::dup(domain)),
      signature_(modeltext::dup(signature ? signature : "PV")),
      sessionId_(sessionId) {
  log(_debug_security, LOG_DEBUG, 0, 0, "Created a new principal, s = '%s', domain = '%s', sig = '%s', sesn = %llx",
      orNull(encoded), orNull(domain), orNull(signature), (unsigned long long)sessionId);
}

Principal::Principal(const Principal& other)
    : Translatable(),
      encoded_(modeltext::dup(other.encoded_)),
      domain_(modeltext::dup(other.domain_)),
      signature_(modeltext::dup(other.signature_)),
      sessionId_(other.sessionId_),
      peerVersion_(other.peerVersion_) {}

Principal::~Principal() {
  free(encoded_);
  free(domain_);
  free(signature_);
}

void Principal::setEncoded(const char* encoded) {
  free(encoded_);
  encoded_ = modeltext::dup(encoded);
}

void Principal::setDomain(const char* domain) {
  free(domain_);
  domain_ = modeltext::dup(domain);
}

void Principal::setSignature(const char* signature) {
  free(signature_);
  signature_ = modeltext::dup(signature ? signature : "PV");
}

Principal* Principal::createFromCertificate(X509* cert) {
  if (!cert) return nullptr;
  std::string encoded;
  if (!extensionData(cert, "1.1.1.1", &encoded)) return nullptr;
  std::string signature;
  bool signed_ = extensionData(cert, "1.1.1.2", &signature);
  char issuer[256] = "";
  X509_NAME* name = X509_get_issuer_name(cert);
  if (!name || X509_NAME_get_text_by_NID(name, NID_commonName, issuer, sizeof(issuer)) < 0) issuer[0] = '\0';
  long long session = 0;
  const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
  int64_t value = 0;
  if (serial && ASN1_INTEGER_get_int64(&value, serial) == 1) {
    session = value;
  } else if (serial) {
    // Longer serials keep their low 64 bits.
    BIGNUM* bn = ASN1_INTEGER_to_BN(serial, nullptr);
    if (bn) {
      unsigned char bytes[64] = {0};
      int n = BN_num_bytes(bn);
      if (n <= (int)sizeof(bytes)) {
        BN_bn2binpad(bn, bytes, (int)sizeof(bytes));
        unsigned long long low = 0;
        for (int i = (int)sizeof(bytes) - 8; i < (int)sizeof(bytes); i++) low = (low << 8) | bytes[i];
        session = (long long)low;
      }
      BN_free(bn);
    }
  }
  return new Principal(encoded.c_str(), issuer, signed_ ? signature.c_str() : "PV", session);
}

Principal* Principal::createServerPrincipal() {
  Principal* p = _makeServerPrincipal ? _makeServerPrincipal() : nullptr;
  if (!p) p = new Principal();
  log(_debug_security, LOG_DEBUG, 0, 0, "Created a new server principal, s = '%s'", orNull(p->encoded_));
  return p;
}

Principal* Principal::createTrialRunToken() const {
  auto* copy = new Principal(*this);
  if (isPolicySet(FLAG_TRIALRUN) || !encoded_ || !encoded_[0]) return copy;
  // The version becomes 2 and the trial-run policy goes in front.
  std::string text = std::string("2,") + FLAG_TRIALRUN + (encoded_ + 1);
  copy->setEncoded(text.c_str());
  return copy;
}

int Principal::getLoginUser(char* dst, size_t len) const { return userOf(encoded_, 2, dst, len); }

int Principal::getOrvanexUser(char* dst, size_t len) const { return userOf(encoded_, 3, dst, len); }

char** Principal::getLoginGroups() const { return groupsOf(encoded_, 2); }

char** Principal::getOrvanexGroups() const { return groupsOf(encoded_, 3); }

void Principal::freeList(char** list) {
  if (!list) return;
  for (char** p = list; *p; p++) free(*p);
  free(list);
}

bool Principal::containsOrvanexGroup(const char* group) const {
  Span s;
  if (!group || !section(encoded_, 3, &s)) return false;
  std::string want = group;
  size_t at = want.find_first_of("@;");
  if (at != std::string::npos) want.resize(at);
  std::vector<Span> all = items(s);
  for (size_t i = 2; i < all.size(); i++) {
    std::string g = all[i].str();
    size_t gat = g.find_first_of("@;");
    if (gat != std::string::npos) g.resize(gat);
    if (g == want) return true;
  }
  return false;
}

bool Principal::containsPrincipalName(const char* name) const {
  if (!name) return false;
  Span s;
  for (int k = 2; section(encoded_, k, &s); k++) {
    std::vector<Span> all = items(s);
    if (equalExact(all[0], name)) return true;
    for (size_t i = 1; i < all.size(); i++) {
      if (equalAtForm(all[i], name)) return true;
    }
  }
  return false;
}

bool Principal::getPolicy(const char* name, char* dst, size_t len) const {
  Span s;
  if (!name || !section(encoded_, 1, &s)) return false;
  std::vector<Span> all = items(s);
  for (size_t i = 1; i < all.size(); i++) {
    const char* colon = static_cast<const char*>(memchr(all[i].b, ':', all[i].size()));
    Span key{all[i].b, colon ? colon : all[i].e};
    if (!equalExact(key, name)) continue;
    copyCut(colon ? std::string(colon + 1, (size_t)(all[i].e - colon - 1)) : std::string(), dst, len);
    return true;
  }
  return false;
}

char** Principal::getAllPolicies() const {
  Span s;
  if (!section(encoded_, 1, &s)) return nullptr;
  std::vector<Span> all = items(s);
  std::vector<std::string> policies;
  for (size_t i = 1; i < all.size(); i++) {
    if (all[i].size() > 0) policies.push_back(all[i].str());
  }
  return newList(policies);
}

char** Principal::getNativeUsers() const {
  Span s;
  if (!section(encoded_, 1, &s)) return nullptr;
  std::vector<std::string> users;
  for (int k = 4; section(encoded_, k, &s); k++) {
    Span first = items(s)[0];
    const char* at = static_cast<const char*>(memchr(first.b, '@', first.size()));
    if (at) users.push_back(atForm({first.b, at}));
  }
  return newList(users);
}

char** Principal::getNativeGroups(const char* service) const {
  Span s;
  if (!service || !section(encoded_, 1, &s)) return nullptr;
  std::vector<std::string> groups;
  for (int k = 4; section(encoded_, k, &s); k++) {
    std::vector<Span> all = items(s);
    const char* at = static_cast<const char*>(memchr(all[0].b, '@', all[0].size()));
    if (!at || all[0].e - at - 1 < 2) continue;
    std::string svc(at + 1, (size_t)(all[0].e - at - 1 - 2));
    if (strcasecmp(svc.c_str(), service) != 0) continue;
    for (size_t i = 2; i < all.size(); i++) groups.push_back(atForm(all[i]));
  }
  return newList(groups);
}

int Principal::getBestNativeLogin(const char* const* services, const char* lockedUser, char* login, size_t loginLen,
                                  char* token, size_t tokenLen, char* service, size_t serviceLen, char* ownService,
                                  size_t ownServiceLen) const {
  log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity called: ");
  for (int i = 0; services && services[i]; i++) {
    log(_debug_security, LOG_DEBUG, 0, 0, "    service[%d] = '%s'", i, services[i]);
  }
  log(_debug_security, LOG_DEBUG, 0, 0, "    locked user = '%s'", orNull(lockedUser));
  log(_debug_security, LOG_DEBUG, 0, 0, "    principal = '%s'", orNull(encoded_));
  if (!encoded_) {
    log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: encoding is NULL, failing");
    return -1;
  }
  Span s;
  for (int k = 4; services && section(encoded_, k, &s); k++) {
    std::vector<Span> all = items(s);
    log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: at CP1, c = '%s'", s.str().c_str());
    const char* at = static_cast<const char*>(memchr(all[0].b, '@', all[0].size()));
    if (!at) {
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: bad login user, failing");
      return -1;
    }
    if (all.size() < 2) {
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: bad token after orvanex user, failing");
      return -1;
    }
    std::string own(at + 1, (size_t)(all[0].e - at - 1));
    std::string svc = own.size() >= 2 ? own.substr(0, own.size() - 2) : std::string();
    log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: at CP2, c = '%s'", own.c_str());
    std::string user = atForm({all[0].b, at});
    for (int i = 0; services[i]; i++) {
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: testing service '%s' using '%s' with length %d",
          services[i], svc.c_str(), (int)svc.size());
      if (strcasecmp(services[i], svc.c_str()) != 0) continue;
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: found it");
      if (lockedUser && strcasecmp(lockedUser, user.c_str()) != 0) {
        log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: at CP3, c = '%s'", user.c_str());
        break;
      }
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: login = '%s'", user.c_str());
      copyCut(user, login, loginLen);
      copyCut(all[1].str(), token, tokenLen);
      copyCut(services[i], service, serviceLen);
      copyCut(own, ownService, ownServiceLen);
      log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: returning success!");
      return 0;
    }
    log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: at CP4, c = '%s'", svc.c_str());
  }
  log(_debug_security, LOG_DEBUG, 0, 0, "getBestNativeIdentity: No matching identity, will fail");
  return -1;
}

char* Principal::asAuthString() const {
  std::string plain = std::string(domain_ ? domain_ : "") + "|" + (encoded_ ? encoded_ : "") + "|" +
                      std::to_string(sessionId_) + "|" + (signature_ ? signature_ : "");
  plain.push_back('\0');  // the receiver reads the terminating zero too
  size_t outLen = 4 * ((plain.size() + 2) / 3) + 1;
  auto* out = static_cast<unsigned char*>(malloc(outLen));
  if (!out) abort();
  EVP_EncodeBlock(out, reinterpret_cast<const unsigned char*>(plain.data()), (int)plain.size());
  return reinterpret_cast<char*>(out);
}

char* Principal::toString(Parser*) {
  StringBuilder out;
  out.append('{');
  out.append(orNull(domain_));
  out.append(", ");
  out.append(orNull(encoded_));
  out.append(", ");
  out.append(orNull(signature_));
  out.append('}');
  return out.take();
}

int Principal::clone(const Principal*, Translatable** out) const {
  *out = new Principal(*this);
  return 0;
}
