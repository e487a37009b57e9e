// Feeds arbitrary bytes to both ends of the credential child's pipe
// protocol: the child's request parser and the parent's five reply parsers.
// The first byte picks the parser. Checks what must hold for any input: no
// overrun, nothing beyond the protocol's bounds is accepted, and a request
// that parses encodes back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/creds_protocol.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

void request(const uint8_t* data, size_t size) {
  CredBufferReader in(data, size);
  CredRequest req;
  CredSecretBuffer password(kCredMaxPassword + 1);
  if (!readCredRequest(in, &req, &password)) return;
  check(credValidOp(req.op));
  check(req.name.size() <= static_cast<size_t>(kCredMaxName));
  check(req.name.find('\0') == std::string::npos);
  const char* pw = nullptr;
  if (req.op == kCredVerifyLogin) {
    check(password.size() >= 1 && password.size() <= static_cast<size_t>(kCredMaxPassword) + 1);
    check(password.data()[password.size() - 1] == '\0');
    check(strlen(password.data()) == password.size() - 1);
    pw = password.data();
  }
  std::unique_ptr<CredSecretBuffer> again;
  check(encodeCredRequest(req, pw, &again));
  const size_t used = size - in.remaining();
  check(again->size() == used);
  check(memcmp(again->data(), data, used) == 0);
}

void replies(uint8_t which, const uint8_t* data, size_t size) {
  CredBufferReader in(data, size);
  switch (which % 5) {
    case 0: {
      CredUserReply r;
      if (readCredUserReply(in, &r) == 0 && r.code == 0) {
        check(r.name.size() <= static_cast<size_t>(kCredMaxText));
        check(r.dir.size() <= static_cast<size_t>(kCredMaxText));
        check(r.groups.size() <= static_cast<size_t>(kCredMaxGroups));
      }
      break;
    }
    case 1: {
      CredGroupReply r;
      if (readCredGroupReply(in, &r) == 0) check(r.name.size() <= static_cast<size_t>(kCredMaxText));
      break;
    }
    case 2: {
      CredHostReply r;
      (void)readCredHostReply(in, &r);
      break;
    }
    case 3: {
      std::vector<CredUserRecord> out;
      (void)readCredAllUsersReply(in, &out, 1000, 1 << 16);
      check(out.size() <= 1000);
      break;
    }
    default: {
      std::vector<CredGroupRecord> out;
      (void)readCredAllGroupsReply(in, &out, nullptr, 1000, 1 << 16);
      check(out.size() <= 1000);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] == 0) {
    request(data + 1, size - 1);
  } else {
    replies(data[0], data + 1, size - 1);
  }
  return 0;
}
