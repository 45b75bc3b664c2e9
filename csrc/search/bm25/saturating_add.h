#pragma once

#include <cstdint>
#include <limits>

namespace orvel::typing::text {

// Adds `amount` to `counter`, stopping at the 64-bit limits instead of overflowing. Training
// alone never gets there, but a loaded model text may hold any 64-bit count, and merging
// adds whole counters.
inline void saturating_add(int64_t& counter, int64_t amount) {
  if (__builtin_add_overflow(counter, amount, &counter)) {
    counter =
        amount > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
}

}  // namespace orvel::typing::text
