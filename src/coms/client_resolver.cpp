#include "coms/client_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "coms/tls_util.h"
#include "foundation/os_info.h"
#include "runtime/thread_pool.h"

namespace {

struct Request {
  std::string host;
  ClientResolver::Done done;
  bool prepareAnonymous;
};

class ResolverPool : public ThreadPool {
 public:
  ResolverPool() : ThreadPool("coms-resolve", 1) {}
  void run(DeferredOp* op) override {
    std::unique_ptr<Request> request(static_cast<Request*>(op->object));
    auto start = std::chrono::steady_clock::now();
    in_addr_t address = 0;
    int status = ClientResolver::resolve(request->host.c_str(), &address);
    if (request->prepareAnonymous) {
      X509* cert = nullptr;
      EVP_PKEY* key = nullptr;
      if (comsAnonymousPair(&cert, &key) == 0) {
        X509_free(cert);
        EVP_PKEY_free(key);
      }
    }
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    request->done(status, address, static_cast<int>(elapsed.count()));
  }
};

ResolverPool& pool() {
  static auto* p = new ResolverPool();  // never destroyed: its thread outlives statics
  return *p;
}

}  // namespace

int ClientResolver::resolve(const char* host, in_addr_t* address) {
  in_addr literal;
  if (inet_pton(AF_INET, host, &literal) == 1) {
    *address = literal.s_addr;
    return 0;
  }
  struct hostent entry;
  char buffer[8192];
  struct hostent* h = s_gethostbyname(host, &entry, buffer, sizeof buffer);
  if (h == nullptr || h->h_addrtype != AF_INET || h->h_length != 4 || h->h_addr_list[0] == nullptr) return -3;
  std::memcpy(address, h->h_addr_list[0], 4);
  return 0;
}

void ClientResolver::resolveAsync(const std::string& host, Done done, bool prepareAnonymous) {
  in_addr literal;
  if (prepareAnonymous && comsAnonymousPairReady()) prepareAnonymous = false;
  if (!prepareAnonymous && inet_pton(AF_INET, host.c_str(), &literal) == 1) {
    done(0, literal.s_addr, 0);
    return;
  }
  auto* op = new DeferredOp(new Request{host, std::move(done), prepareAnonymous});
  if (pool().queue(op) != 0) {
    std::unique_ptr<Request> request(static_cast<Request*>(op->object));
    delete op;
    request->done(-3, 0, 0);
  }
}
