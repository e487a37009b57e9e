// ClientResolver: host-name look-ups for connecting clients, done on a
// thread of their own ("coms-resolve") so that a slow name server never
// stalls the connections of a coms thread. A dotted IPv4 address needs no
// look-up and is answered at once.
//
// Thread-safety: any thread.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>

class ClientResolver {
 public:
  using Done = std::function<void(int status, in_addr_t address, int elapsedMs)>;

  // Blocking look-up through s_gethostbyname: 0 with *address (network
  // order), or -3 ("No such host").
  [[nodiscard]] static int resolve(const char* host, in_addr_t* address);

  // Looks `host` up on the resolver thread and calls `done` there (or at
  // once, on the calling thread, for a dotted address). With
  // `prepareAnonymous`, the anonymous login pair is made there too before
  // `done` is called, so that the coms thread never waits for a key to be
  // generated.
  static void resolveAsync(const std::string& host, Done done, bool prepareAnonymous = false);
};
