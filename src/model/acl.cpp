#include "model/acl.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/principal.h"
#include "model/text_util.h"

char* orv_strtok_r(char* text, const char* delimiters, char** save) {
  char* p = text ? text : *save;
  if (!p) return nullptr;
  char* end = p + strcspn(p, delimiters);
  if (*end == '\0') {
    *save = nullptr;
  } else {
    *end = '\0';
    *save = end + 1;
  }
  return p;
}

namespace {

std::vector<std::string> split(const char* text, const char* delimiters) {
  std::vector<std::string> out;
  if (!text) return out;
  std::string copy = text;
  char* save = nullptr;
  for (char* t = orv_strtok_r(copy.data(), delimiters, &save); t; t = orv_strtok_r(nullptr, delimiters, &save)) {
    out.emplace_back(t);
  }
  return out;
}

bool containsAny(const Principal* principal, const char* list) {
  for (const std::string& name : split(list, ",")) {
    if (!name.empty() && principal->containsPrincipalName(name.c_str())) return true;
  }
  return false;
}

}  // namespace

Acl::Acl(const char* text) : text_(modeltext::dup(text)) {}

Acl::Acl(const Acl& other) : Translatable(), text_(modeltext::dup(other.text_)) {}

Acl::~Acl() { free(text_); }

bool Acl::isPrincipalMatch(const Principal* principal, const char* owners, const char* groupOwners,
                           const char* spec) {
  if (!principal || !spec) return false;
  const char* at = strchr(spec, '@');
  if (!at) return false;
  std::string domain = at + 1;
  if (domain.size() < 3 || domain[domain.size() - 2] != '/') return false;
  domain.resize(domain.size() - 2);
  if (strcasecmp(domain.c_str(), "builtin") != 0) {
    if (domain.compare(0, 2, "H-") == 0) return false;
    return principal->containsPrincipalName(spec);
  }
  std::string name(spec, (size_t)(at - spec));
  if (strcasecmp(name.c_str(), "everyone") == 0) return true;
  if (strcasecmp(name.c_str(), "owner") == 0) return containsAny(principal, owners);
  if (strcasecmp(name.c_str(), "groupowner") == 0) return containsAny(principal, groupOwners);
  return false;
}

bool Acl::hasPermission(const Principal* principal, const char* acl, const char* permission,
                        const char* const* extraGroups) {
  if (!principal || !acl || !permission) return false;
  if (principal->containsOrvanexGroup("Administrators")) return true;
  for (int i = 0; extraGroups && extraGroups[i]; i++) {
    if (principal->containsOrvanexGroup(extraGroups[i])) return true;
  }
  std::vector<std::string> fields = split(acl, "`");
  const char* owners = fields.size() > 1 ? fields[1].c_str() : "";
  const char* groupOwners = fields.size() > 2 ? fields[2].c_str() : "";
  for (size_t f = 5; f < fields.size(); f++) {
    std::vector<std::string> entry = split(fields[f].c_str(), ",");
    if (entry.size() < 3) continue;
    bool listed = false;
    for (size_t i = 2; i < entry.size() && !listed; i++) listed = entry[i] == permission;
    if (!listed || !isPrincipalMatch(principal, owners, groupOwners, entry[1].c_str())) continue;
    return entry[0].compare(0, 1, "A") == 0;
  }
  return false;
}

bool Acl::hasAclPermission(const Principal* principal, const Acl* acl) {
  if (!principal || !acl || !acl->text_) return false;
  if (principal->containsOrvanexGroup("Administrators")) return true;
  const char* first = strchr(acl->text_, '`');
  if (!first || !strchr(first + 1, '`')) return false;
  std::vector<std::string> fields = split(acl->text_, "`");
  char login[257];
  char product[257];
  bool haveLogin = principal->getLoginUser(login, sizeof(login)) == 0;
  bool haveProduct = principal->getOrvanexUser(product, sizeof(product)) == 0;
  for (const std::string& owner : split(fields[1].c_str(), ",")) {
    if (owner.empty()) continue;
    if ((haveLogin && owner == login) || (haveProduct && owner == product)) return true;
  }
  return false;
}

char* Acl::toString(Parser*) { return modeltext::dup(text_ ? text_ : ""); }

int Acl::clone(const Principal*, Translatable** out) const {
  *out = new Acl(*this);
  return 0;
}

int Acl::isEqual(const Principal*, bool* out, const Translatable* other) const {
  if (!other || other->getObjectID() != OBJ_ACL_ID) {
    *out = false;
    return 0;
  }
  const char* b = static_cast<const Acl*>(other)->text_;
  *out = (!text_ || !b) ? text_ == b : strcmp(text_, b) == 0;
  return 0;
}
