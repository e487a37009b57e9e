#include "host/host_globals.h"

extern "C" {
double _perf_share_factor = 1.0;
int _perf_dh = 0;
int _perf_sh = 0;
int _perf_dm = 0;
double _perf_eden = 0.0;
char commandPath[132] = "";
}
