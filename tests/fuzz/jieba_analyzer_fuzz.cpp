// libFuzzer target: the analyzer calls (positions, full mode, tags, keywords) on arbitrary bytes
// (fuzz/jieba_analyzer_check.h). Seeds: the cut target's corpus.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/jieba_analyzer_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvel::fuzz::jieba_detail::FuzzEngine();  // loaded before the first input is timed
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel::fuzz::CheckAnalyzer({reinterpret_cast<const char*>(data), size});
  return 0;
}
