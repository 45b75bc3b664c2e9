// libFuzzer target: the segmentation data-file loaders on arbitrary content
// (fuzz/jieba_loader_check.h).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/jieba_loader_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel::fuzz::CheckDataFile({reinterpret_cast<const char*>(data), size});
  return 0;
}
