#include "host/hostspi.h"

#include <atomic>

#include "../common/host_log.h"

namespace {
std::atomic<int> federated{0};
}

int HostSPI::federate(const char* name, bool flag, DirectorySPI* provider) {
  federated.fetch_add(1);
  hostLog("Host: federated provider for %s (flag %d)", name ? name : "(null)", flag ? 1 : 0);
  return 0;
}

int HostSPI::federatedCount() { return federated.load(); }
