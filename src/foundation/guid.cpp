#include "foundation/guid.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <ossp/uuid.h>

#include "foundation/log.h"
#include "runtime/critical_block.h"

namespace {

struct GuidState {
  CriticalBlock lock;
  uuid_t* uuid = nullptr;
  unsigned int counter = 0;
};

GuidState& guidState() {
  // Never destroyed: identifiers may be made while static destructors run.
  static GuidState* state = new GuidState;
  return *state;
}

}  // namespace

char* makeGuid() {
  GuidState& s = guidState();
  char text[UUID_LEN_STR + 1];
  unsigned int cntr;
  {
    CriticalGuard guard(s.lock);
    if (!s.uuid && uuid_create(&s.uuid) != UUID_RC_OK) {
      s.uuid = nullptr;
      return nullptr;
    }
    if (uuid_make(s.uuid, UUID_MAKE_V1) != UUID_RC_OK) return nullptr;
    void* out = text;
    size_t length = sizeof(text);
    if (uuid_export(s.uuid, UUID_FMT_STR, &out, &length) != UUID_RC_OK) return nullptr;
    cntr = s.counter++;
  }
  text[UUID_LEN_STR] = '\0';
  // The counter letters make every text of this process unique even if the
  // UUID library hands out the same value twice.
  int digit = 0;
  for (char* p = text; *p && digit < 32; p++) {
    if (*p == '-') continue;
    if (cntr & (1u << digit)) {
      int value = (*p >= 'a') ? *p - 'a' + 10 : (*p >= 'A') ? *p - 'A' + 10 : *p - '0';
      *p = (char)('g' + value);
    }
    digit++;
  }
  return strdup(text);
}

void freeGuid(char* guid) { free(guid); }

int getFirstMac(char* dst, size_t length) {
  if (!dst || length < 18) return -1;
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    log(errno, "Unable to obtain list of interfaces (getifaddrs)");
    return -1;
  }
  int rv = -1;
  for (struct ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
    if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_name) continue;
    uint32_t addr = ntohl(reinterpret_cast<struct sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr);
    if (addr == 0 || addr == 0xFFFFFFFFu || addr == 0x7F000001u || (addr & 0xF0000000u) == 0xE0000000u) continue;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct ifreq req;
    memset(&req, 0, sizeof(req));
    snprintf(req.ifr_name, sizeof(req.ifr_name), "%s", ifa->ifa_name);
    if (fd < 0 || ioctl(fd, SIOCGIFHWADDR, &req) != 0) {
      log(errno, "Unable to call SIOCGIFHWADDR to get hardware address of interface");
      if (fd >= 0) close(fd);
      break;
    }
    close(fd);
    const auto* mac = reinterpret_cast<const unsigned char*>(req.ifr_hwaddr.sa_data);
    snprintf(dst, length, "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    rv = 0;
    break;
  }
  freeifaddrs(list);
  return rv;
}
