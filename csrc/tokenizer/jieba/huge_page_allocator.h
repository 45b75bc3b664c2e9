#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace orvel::tokenizer::jieba {

// Allocator for large read-mostly tables that are probed at random, like the dictionary trie:
// with 4 KiB pages nearly every probe of a table of many megabytes also misses the TLB. Blocks
// of 2 MiB and more are aligned to 2 MiB and offered to the kernel for transparent huge pages
// (Linux, when enabled in "madvise" or "always" mode); elsewhere, or for smaller blocks, this is
// plain malloc. The block is rounded up to whole huge pages, so resident memory grows by less
// than one of them.
template <typename T>
class HugePageAllocator {
 public:
  using value_type = T;

  HugePageAllocator() = default;
  template <typename U>
  HugePageAllocator(const HugePageAllocator<U>&) {}  // NOLINT: allocators convert implicitly

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = n * sizeof(T);
    void* block = nullptr;
    if (bytes >= kHugePage) {
      block = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
      // Only advice: where huge pages are unavailable the block stays on small pages.
      if (block != nullptr) madvise(block, bytes, MADV_HUGEPAGE);
#endif
    } else {
      block = std::malloc(bytes == 0 ? 1 : bytes);
    }
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }

  void deallocate(T* block, std::size_t) noexcept {
    std::free(block);
  }

  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) {
    return true;
  }
  friend bool operator!=(const HugePageAllocator&, const HugePageAllocator&) {
    return false;
  }

 private:
  static constexpr std::size_t kHugePage = std::size_t{2} << 20;
};

}  // namespace orvel::tokenizer::jieba
