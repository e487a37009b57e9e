// The vector kernels behind AdlerRoller::rollDigests: each rolls a window
// over a run of bytes and writes the digest after every roll, lanes of 16 or
// 8 positions at a time. Internal to the checksum; stateless and thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

// What a kernel needs of the roller. `a` and `b` are reduced (below 65521)
// on the way in and on the way out.
struct AdlerRollState {
  uint32_t a;
  uint32_t b;
  uint32_t seedLow;    // (seed & 0xFFFF) mod 65521
  uint32_t windowMod;  // window length mod 65521
  uint32_t window;     // window length
};

// Each rolls over as many whole lanes as fit in `count` (roll k removes
// window[k] and adds window[st->window + k]; digests[k] gets the digest after
// it), updates `st` and returns the number of rolls done. Only to be called
// when the matching adler_have* says the processor has the instructions.
size_t adlerRollAvx512(AdlerRollState* st, const unsigned char* window, size_t count, uint32_t* digests);
size_t adlerRollAvx2(AdlerRollState* st, const unsigned char* window, size_t count, uint32_t* digests);
[[nodiscard]] bool adlerHaveAvx512();
[[nodiscard]] bool adlerHaveAvx2();
