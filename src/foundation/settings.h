// Process-wide settings that the configuration reload (s_testOrvanexProperties)
// refreshes for subsystems above this layer: the connection code reads the
// listen backlogs and the certificate-upgrade flag, the credentials code the
// look-up buffer size, the libnss-sss work-around and the group lock.
//
// Thread-safe: the values are atomics written by the reload and read by any
// thread; the group-lock text is copied out under a lock.
#pragma once

#include <atomic>
#include <optional>
#include <string>

// Property upgrade_certs (default false): a server replaces an agent
// certificate that does not match the one on file, through the identify hook.
extern std::atomic<bool> _upgrade_certs;
// Property ft_listen_queue_size (default 25): listen backlog of the
// file-transfer listener.
extern std::atomic<int> _ft_listen_queue_size;
// Property listen_queue_size (default 10): listen backlog of other listeners.
extern std::atomic<int> _listen_queue_size;
// Property creds_buffer_size (default 0: the system's suggested size): buffer
// size of the user and group look-ups.
extern std::atomic<int> _creds_buffer_size;
// Set when a configuration holding the key libnss-sss_creds_workaround (any
// value) is loaded; never cleared again. The credential child then counts a
// getgrgid_r that fails with ERANGE but returns the requested gid as found.
extern std::atomic<bool> _creds_nss_workaround;

// Property auth_group_lock: the groups (separated by commas and blanks) of
// which a user must be a member to log in. Empty optional when the key is
// absent; a present but empty value is an empty text (no group passes).
[[nodiscard]] std::optional<std::string> authGroupLock();
// Replaces the group-lock text; null clears it.
void setAuthGroupLock(const char* text);

class Properties;
// Refreshes every process-wide setting from `props` (the thresholds _debug_*,
// _hourlyLogs and the settings above): a missing key gives its default, an
// invalid value is logged and keeps the previous setting. Logs
// "libnss-sss creds workaround engaged" and "auth_group_lock: '%s'" when those
// keys are present. Called by s_testOrvanexProperties after each reload.
void refreshOrvanexSettings(const Properties& props);
