#pragma once

#include <cstddef>

namespace orvel::typing::text {

// For a run of lookups into a hash table far larger than the core's cache, whose keys are
// hashed before the run: each lookup waits for two dependent misses, the slot and then the
// entry it points to. Called before looking item i up, this asks for the slot of item i + 8
// and for the entry of item i + 4 (whose slot has arrived by then), so that the misses of
// several lookups overlap. `slot(k)` and `entry(k)` issue the prefetches for item k.
template <typename Slot, typename Entry>
inline void PrefetchAhead(std::size_t i, std::size_t count, Slot slot, Entry entry) {
  constexpr std::size_t kSlotAhead = 8;
  constexpr std::size_t kEntryAhead = 4;
  if (i + kSlotAhead < count) slot(i + kSlotAhead);
  if (i + kEntryAhead < count) entry(i + kEntryAhead);
}

}  // namespace orvel::typing::text
