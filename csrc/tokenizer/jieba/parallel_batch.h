#pragma once

#include <cstddef>
#include <functional>

namespace orvel::tokenizer::jieba {

// Cores this process may run on (its CPU affinity mask), at least 1. A container or `taskset`
// may allow fewer cores than the machine has, and more threads than that only take turns.
int UsableCores();

// A huge request for threads must not start one thread per item.
constexpr int kMaxBatchThreads = 256;

// The number of threads a batch of `items` runs on when the caller asks for `requested`:
// 0 means every usable core; never more than items or kMaxBatchThreads, never fewer than one.
int BatchThreads(int requested, std::size_t items);

// Calls `work(index, worker)` once for every index in [0, count), on `threads` threads as
// BatchThreads(threads, count) resolves it; `worker` in [0, that number) names the thread, so
// callers can keep one scratch buffer per thread. The calling thread is worker 0, so a single
// thread runs everything in the caller. Indexes are handed out in small blocks on demand, which
// keeps both threads busy when item sizes vary. Calls on different threads never share an index.
// The first exception thrown by `work` stops the hand-out and is rethrown here once every thread
// has stopped.
void ForEachIndexInParallel(std::size_t count, int threads,
                            const std::function<void(std::size_t, int)>& work);

}  // namespace orvel::tokenizer::jieba
