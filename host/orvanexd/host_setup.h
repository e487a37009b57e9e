// The host daemon's own settings, taken from the configuration: what the
// host singleton tells the module (serves, asset name, server mode, ...), the
// sizing figures of the Java heap, and the Java modules to start. Used on the
// start-up thread only.
#pragma once

#include <string>
#include <vector>

#include "module_library.h"

// Fills the host singleton and the sizing globals from the configuration
// (keys host_*), with `home` as the installation home and `exePath` as the
// path re-executed for credential look-ups.
void configureHost(const ModuleLibrary& lib, const std::string& home, const std::string& exePath);

// The Java modules listed by java_modules (names separated by commas or
// blanks), in order, duplicates removed.
[[nodiscard]] std::vector<std::string> configuredModules(const ModuleLibrary& lib);

// Starts each configured module with its properties: every key
// java_module.<name>.<key> of the configuration becomes <key>.
void startConfiguredModules(const ModuleLibrary& lib);

// Splits a list at commas and blanks, dropping empty items.
[[nodiscard]] std::vector<std::string> splitList(const std::string& text);
