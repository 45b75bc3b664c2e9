#pragma once

#include <stdexcept>
#include <string>

namespace orvel::tokenizer::jieba {

// A data file that cannot be opened (missing, unreadable, a directory, an empty path).
// Carries the path and the errno value so callers can report the matching OS error.
class FileOpenError : public std::runtime_error {
 public:
  FileOpenError(const std::string& path, int error_number, const std::string& what)
      : std::runtime_error(what), path_(path), error_number_(error_number) {}
  const std::string& path() const noexcept { return path_; }
  int error_number() const noexcept { return error_number_; }

 private:
  std::string path_;
  int error_number_;
};

// Malformed content in a data file; the message names the file, the 1-based line and the
// problem, e.g. "dict.txt:17: expected 3 space-separated fields, found 2". Derives from
// std::invalid_argument so that generic translators report it as a value error.
class DataFormatError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace orvel::tokenizer::jieba
