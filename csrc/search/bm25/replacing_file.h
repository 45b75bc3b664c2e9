#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace orvel::typing::text {

// Where a dump goes. Regular files (and paths with nothing there yet) are replaced by
// renaming a finished temporary file over them, so a failed dump never leaves a truncated
// model; devices and pipes cannot be renamed over and are written in place.
struct DumpTarget {
  std::filesystem::path path;
  bool replace_by_rename;
  bool existed;
  std::filesystem::perms permissions;
};

DumpTarget choose_target(const std::string& path);

// A new file beside `target`, opened for exclusive writing, removed again unless committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target);
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  // The open stream, for the caller to write and close; nullptr when none could be made.
  std::FILE* stream() const { return file_; }

  // Renames the written file over the target, giving it the target's permissions.
  bool commit(const DumpTarget& target);

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

}  // namespace orvel::typing::text
