// The host's check of login tokens: a host may issue a one-off token that
// stands for a user's password. Thread-safe.
#pragma once

class DirServ {
 public:
  // True when (user, password) is a login token the host issued.
  [[nodiscard]] static bool isValidXLogin(const char* user, const char* password);
  // Stand-in only: makes (user, token) a valid login token.
  static void addXLogin(const char* user, const char* token);
};
