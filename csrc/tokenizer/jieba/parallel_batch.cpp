#include "tokenizer/jieba/parallel_batch.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace orvel::tokenizer::jieba {
namespace {

// Items per hand-out: large enough that the shared counter is touched rarely, small enough
// that the last blocks do not leave one thread working alone for long.
constexpr std::size_t kBlockItems = 8;

}  // namespace

int UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return count;
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

int BatchThreads(int requested, std::size_t items) {
  std::size_t threads =
      requested > 0 ? static_cast<std::size_t>(requested) : static_cast<std::size_t>(UsableCores());
  threads = std::min(
      {threads, std::max<std::size_t>(items, 1), static_cast<std::size_t>(kMaxBatchThreads)});
  return static_cast<int>(std::max<std::size_t>(threads, 1));
}

void ForEachIndexInParallel(std::size_t count, int threads,
                            const std::function<void(std::size_t, int)>& work) {
  const int thread_count = BatchThreads(threads, count);
  if (thread_count == 1) {
    for (std::size_t index = 0; index < count; ++index) work(index, 0);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  const auto run = [&](int worker) {
    while (!failed.load(std::memory_order_relaxed)) {
      const std::size_t begin = next.fetch_add(kBlockItems, std::memory_order_relaxed);
      if (begin >= count) return;
      const std::size_t end = std::min(count, begin + kBlockItems);
      try {
        for (std::size_t index = begin; index < end; ++index) work(index, worker);
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!first_error) first_error = std::current_exception();
        failed.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(thread_count - 1));
  for (int i = 1; i < thread_count; ++i) helpers.emplace_back(run, i);
  run(0);
  for (std::thread& helper : helpers) helper.join();
  if (first_error) std::rethrow_exception(first_error);
}

}  // namespace orvel::tokenizer::jieba
