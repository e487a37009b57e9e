#include "coms/coms_error.h"

#include <cerrno>

const char* comsErrorText(int code) {
  switch (code) {
    case -1: return "Connection refused by server";
    case -2: return "Unable to allocate a socket";
    case -3: return "No such host";
    case -4: return "No such service";
    case -5: return "Certificate problem";
    case -6: return "Public/Private Key problem";
    case -7: return "Unable to connect";
    case -8: return "Connection refused";
    case -9: return "Connection reset by peer";
    case -10: return "Not Connected (lost or closed)";
    case -11: return "Unexpected end of file";
    case -12: return "Incomplete message";
    case -13: return "Missing type in message";
    case -14: return "Invalid or unexpected type";
    case -15: return "Missing field in object";
    case -16: return "Missing field code";
    case -17: return "Unexpected field code";
    case -18: return "No translator for this object";
    case -19: return "Unexpected NULL object";
    case -20: return "Server did not complete handshake in a timely fashion";
    case -21: return "Authentication failure";
    case -22: return "No route to network";
    case -23: return "No route to host";
    default: return "";
  }
}

int comsErrorFromErrno(int err, int fallback) {
  switch (err) {
    case ECONNREFUSED: return COMS_CONNECTION_REFUSED;
    case ECONNRESET: return COMS_CONNECTION_RESET;
    case ENETUNREACH: return COMS_NETWORK_UNREACHABLE;
    case EHOSTUNREACH: return COMS_HOST_UNREACHABLE;
    default: return fallback;
  }
}
