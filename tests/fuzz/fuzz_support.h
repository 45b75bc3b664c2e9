#pragma once

// Shared by the libFuzzer targets and by the GoogleTest suite that replays their corpora.

#include <exception>
#include <iostream>
#include <sstream>
#include <string>

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

// Collects what std::cerr receives while alive: parser diagnostics would otherwise flood the
// fuzzer's output, and some properties are about them.
class CerrCapture {
 public:
  CerrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(saved_); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

}  // namespace orvel::fuzz
