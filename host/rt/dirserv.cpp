#include "host/dirserv.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::mutex& tokenLock() {
  static std::mutex m;
  return m;
}

std::vector<std::pair<std::string, std::string>>& tokens() {
  static auto* t = new std::vector<std::pair<std::string, std::string>>();
  return *t;
}

}  // namespace

bool DirServ::isValidXLogin(const char* user, const char* password) {
  if (user == nullptr || password == nullptr) return false;
  std::lock_guard<std::mutex> g(tokenLock());
  for (const auto& [u, t] : tokens()) {
    if (u == user && t == password) return true;
  }
  return false;
}

void DirServ::addXLogin(const char* user, const char* token) {
  if (user == nullptr || token == nullptr) return;
  std::lock_guard<std::mutex> g(tokenLock());
  tokens().emplace_back(user, token);
}
