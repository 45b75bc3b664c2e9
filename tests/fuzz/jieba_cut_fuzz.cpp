// libFuzzer target: the segmentation engine's two cuts on arbitrary bytes (fuzz/jieba_check.h).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/jieba_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvel::fuzz::jieba_detail::FuzzEngine();  // loaded before the first input is timed
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel::fuzz::CheckCuts({reinterpret_cast<const char*>(data), size});
  return 0;
}
