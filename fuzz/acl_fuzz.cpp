// Evaluates arbitrary ACL texts against arbitrary principal texts. The input
// is split at the first NUL byte: principal text, then ACL text, then the
// permission (after a second NUL). Malformed texts must simply deny.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/log.h"
#include "model/acl.h"
#include "model/principal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool quiet = [] {
    _debug_security = LOG_CRITICAL + 1;
    return true;
  }();
  (void)quiet;
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t a = input.find('\0');
  std::string encoded = input.substr(0, a);
  std::string acl = a == std::string::npos ? "" : input.substr(a + 1);
  size_t b = acl.find('\0');
  std::string permission = b == std::string::npos ? "read" : acl.substr(b + 1);
  if (b != std::string::npos) acl.resize(b);
  permission = permission.c_str();
  Principal principal(encoded.c_str(), "fuzz", nullptr, 1);
  const char* extra[] = {"ops", nullptr};
  (void)Acl::hasPermission(&principal, acl.c_str(), permission.c_str(), extra);
  (void)Acl::hasPermission(&principal, acl.c_str(), permission.c_str(), nullptr);
  Acl object(acl.c_str());
  (void)Acl::hasAclPermission(&principal, &object);
  (void)Acl::isPrincipalMatch(&principal, acl.c_str(), encoded.c_str(), permission.c_str());
  char buffer[16];
  (void)principal.getLoginUser(buffer, sizeof(buffer));
  (void)principal.getPolicy(permission.c_str(), buffer, sizeof(buffer));
  Principal::freeList(principal.getOrvanexGroups());
  Principal::freeList(principal.getNativeUsers());
  const char* services[] = {"sshd", "ftp", nullptr};
  char l[8], t[8], s[8], o[8];
  (void)principal.getBestNativeLogin(services, nullptr, l, sizeof(l), t, sizeof(t), s, sizeof(s), o, sizeof(o));
  return 0;
}
