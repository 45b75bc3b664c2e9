#include "tokenizer/jieba/data_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "tokenizer/jieba/errors.h"

namespace orvel::tokenizer::jieba {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void ThrowOpenError(const std::string& path, int error_number) {
  throw FileOpenError(
      path, error_number,
      "cannot read '" + path + "': " + std::generic_category().message(error_number));
}

FileHandle OpenForReading(const std::string& path) {
  // fopen("") already fails with ENOENT, but say so explicitly rather than rely on it.
  if (path.empty()) ThrowOpenError(path, ENOENT);
  // The C library would stop at a NUL byte and open a different, shorter path.
  if (path.find('\0') != std::string::npos) ThrowOpenError(path, EINVAL);
  errno = 0;
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) ThrowOpenError(path, errno != 0 ? errno : EIO);
  return file;
}

// Reads up to `size` bytes; throws with the system error (EISDIR for a directory, which opens
// fine but cannot be read) when the stream fails.
std::size_t ReadChunk(std::FILE* file, const std::string& path, char* buffer, std::size_t size) {
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, size, file);
  if (got < size && std::ferror(file)) ThrowOpenError(path, errno != 0 ? errno : EIO);
  return got;
}

}  // namespace

std::string ReadDataFile(const std::string& path) {
  FileHandle file = OpenForReading(path);
  std::error_code ignored;
  const auto size_hint = std::filesystem::file_size(path, ignored);
  std::string content;
  // One extra byte so that a file of exactly the hinted size reaches end-of-file in one pass.
  content.resize(ignored ? 1 << 16 : static_cast<std::size_t>(size_hint) + 1);
  std::size_t used = 0;
  for (;;) {
    used += ReadChunk(file.get(), path, content.data() + used, content.size() - used);
    if (used < content.size()) break;
    content.resize(content.size() * 2);
  }
  content.resize(used);
  return content;
}

void ReadDataFileDiscarding(const std::string& path) {
  FileHandle file = OpenForReading(path);
  auto buffer = std::make_unique<char[]>(1 << 16);
  while (ReadChunk(file.get(), path, buffer.get(), 1 << 16) == 1 << 16) {
  }
}

void ThrowDataFormatError(const std::string& path, std::size_t line, std::string_view problem) {
  std::string message = path;
  message += ':';
  message += std::to_string(line);
  message += ": ";
  message += problem;
  throw DataFormatError(message);
}

}  // namespace orvel::tokenizer::jieba
