// The federate procedure: how a directory provider written in Java is handed
// to the process that hosts the bridge (the agent installs its own at
// start-up). Set once before Java code runs; read without a lock.
#pragma once

class DirectorySPI;

// Federates `provider` under `name` and returns the provider's domain GUID
// (owned by the provider), or null.
using FederateProc = const char* (*)(DirectorySPI* provider, const char* name, bool flag);

void setFederateProc(FederateProc proc);
// The installed procedure, or null.
[[nodiscard]] FederateProc getFederateProc();
