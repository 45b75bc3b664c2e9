#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

namespace orvel::typing::text::pybind {

// Sentences shorter than this are cut (tokenized, tagged, searched for keywords) with the
// interpreter lock held, the way numpy keeps
// the lock for small arrays. Cutting runs at about 17 ns per byte; an uncontended release and
// retake of the lock costs about 0.2 us, but when two threads call cut, each release hands the
// lock to the other thread, a futex wake and a context switch of several microseconds, which
// is the engine work of a few hundred bytes. Golden lines (about 50 bytes) therefore gain
// nothing from releasing and two threads ran at 0.7x one thread; 4 KB pieces gain nearly 2x.
// benchmarks/gil_threshold.py measures both sides (build with -DORVEL_RELEASE_BYTES=0 and
// =1000000000 and compare 2T/1T per piece size); our first run was on a heavily loaded
// machine and could only bound the crossover to a few hundred bytes, so 512 is chosen to keep
// every short sentence on the locked path with a margin. On a quiet machine, two threads
// sharing one Jieba then ran at 1.00x one thread on the corpus's short lines and 1.98x on
// 4 KB pieces (benchmarks/batch_bench.py). Results never depend on it.
#ifndef ORVEL_RELEASE_BYTES
#define ORVEL_RELEASE_BYTES 512
#endif
inline constexpr std::size_t kReleaseLockBytes = ORVEL_RELEASE_BYTES;

// Runs `work` (which must not touch Python) without the interpreter lock when the sentence of
// `bytes` is long enough for the release to pay, else with it held. Called with the lock held.
template <typename Work>
void RunReleasingLockIfLong(std::size_t bytes, Work&& work) {
  if (bytes < kReleaseLockBytes) {
    work();
  } else {
    pybind11::gil_scoped_release unlocked;
    work();
  }
}

}  // namespace orvel::typing::text::pybind
