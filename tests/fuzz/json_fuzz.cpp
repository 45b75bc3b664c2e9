// libFuzzer target: the JSON parser and the writer round trip (fuzz/json_check.h).

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/json_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvel::fuzz::CheckJsonText({reinterpret_cast<const char*>(data), size});
  return 0;
}
