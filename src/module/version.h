// The module's version text, reported in logs and to peers.
#pragma once

extern "C" const char* orvjava_version();
