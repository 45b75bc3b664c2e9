// libFuzzer target: BM25::load on arbitrary text (fuzz/bm25_load_check.h).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/bm25_load_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel::fuzz::CheckModelText({reinterpret_cast<const char*>(data), size});
  return 0;
}
