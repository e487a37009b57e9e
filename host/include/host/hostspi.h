// The host's side of directory federation: the agent hands the host every
// directory provider that Java code federates. Thread-safe.
#pragma once

class DirectorySPI;

class HostSPI {
 public:
  // Makes `provider` serve `name`. Returns 0; the stand-in only records it.
  static int federate(const char* name, bool flag, DirectorySPI* provider);
  // Stand-in only: how many providers have been federated.
  [[nodiscard]] static int federatedCount();
};
