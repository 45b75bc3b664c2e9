#pragma once

namespace orvel::tokenizer::jieba {

// Starts loading the cache line holding `address`, for reading soon.
//
// GCC counts __builtin_prefetch as a read without side effects, so a function whose only work
// is prefetching is found pure, and a call to it whose result is unused is deleted, prefetch
// and all, unless it happened to be inlined first. The empty volatile asm is an effect that
// must stay, which keeps the functions built on this from being found pure; it emits no
// instruction.
inline void PrefetchLine(const void* address) {
  __builtin_prefetch(address);
  asm volatile("" : : "r"(address));
}

}  // namespace orvel::tokenizer::jieba
