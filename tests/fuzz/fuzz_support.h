#pragma once

// Shared by the libFuzzer targets and by the GoogleTest suite that replays their corpora.

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "cpp/cerr_capture.h"

namespace orvel::fuzz {

// A broken property. Derives from std::exception alone so that no handler for the documented
// exceptions of the code under test (runtime_error, logic_error) can swallow it: under libFuzzer
// it escapes and aborts, which is a finding; the replay test reports it as a failure.
class PropertyFailure : public std::exception {
 public:
  explicit PropertyFailure(std::string what) : what_(std::move(what)) {}
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string what_;
};

inline void Require(bool holds, const std::string& property) {
  if (!holds) throw PropertyFailure(property);
}

using ::CerrCapture;  // parser diagnostics would otherwise flood the fuzzer's output

}  // namespace orvel::fuzz
