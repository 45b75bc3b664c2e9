#include "tokenizer/jieba/memory_release.h"

#include <cstdlib>  // defines __GLIBC__ when the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvel::tokenizer::jieba {

void ReleaseFreedMemory() {
#if defined(__GLIBC__)
  // Also advises the system to drop whole free pages inside the heap, not only its top.
  malloc_trim(0);
#endif
}

}  // namespace orvel::tokenizer::jieba
