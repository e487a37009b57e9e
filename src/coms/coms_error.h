// Status codes of the communication layer (negative) and their fixed texts.
// -11 to -19 are the message decoder's error states, reported through the
// same table. Stateless and thread-safe.
#pragma once

enum : int {
  COMS_REFUSED_BY_SERVER = -1,
  COMS_NO_SOCKET = -2,
  COMS_NO_SUCH_HOST = -3,
  COMS_NO_SUCH_SERVICE = -4,
  COMS_CERTIFICATE = -5,
  COMS_KEY = -6,
  COMS_UNABLE_TO_CONNECT = -7,
  COMS_CONNECTION_REFUSED = -8,
  COMS_CONNECTION_RESET = -9,
  COMS_NOT_CONNECTED = -10,
  COMS_HANDSHAKE_TIMEOUT = -20,
  COMS_AUTH_FAILURE = -21,
  COMS_NETWORK_UNREACHABLE = -22,
  COMS_HOST_UNREACHABLE = -23,
};

// The text of a status code (-1 to -23); any other code gives "".
[[nodiscard]] const char* comsErrorText(int code);

// The code for a socket error met while connecting: -8, -9, -22, -23, else
// `fallback`.
[[nodiscard]] int comsErrorFromErrno(int err, int fallback);
