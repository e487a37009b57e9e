// Plain globals of the host runtime: the sizing figures the module turns into
// the Java heap sizes, and the path of the host executable. Set by the host
// before it loads the module; read-only afterwards.
#pragma once

extern "C" {
// The share of the machine's memory this agent may use (1.0: its full share).
extern double _perf_share_factor;
// Host overrides of the heap parts in megabytes; 0 means "not set".
extern int _perf_dh;
extern int _perf_sh;
extern int _perf_dm;
// Host override of the young-generation factor; 0.0 means "not set".
extern double _perf_eden;
// The host executable, re-executed for credential look-ups.
extern char commandPath[132];
}
