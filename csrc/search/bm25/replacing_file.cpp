#include "search/bm25/replacing_file.h"

#include <cerrno>
#include <random>
#include <system_error>

namespace orvel::typing::text {

namespace fs = std::filesystem;

DumpTarget choose_target(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool is_link = fs::is_symlink(fs::symlink_status(path, error));
  if (status.type() == fs::file_type::not_found) {
    // A dangling link is written through, as a plain open would.
    return {path, !is_link, false, fs::perms::unknown};
  }
  if (status.type() != fs::file_type::regular) return {path, false, true, fs::perms::unknown};
  if (!is_link) return {path, true, true, status.permissions()};
  // Replace the file the link points to, keeping the link.
  fs::path resolved = fs::canonical(path, error);
  if (error) return {path, false, true, fs::perms::unknown};
  return {resolved, true, true, status.permissions()};
}

TemporaryFile::TemporaryFile(const fs::path& target) {
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    path_ = target.parent_path() / ("." + target.filename().string() + ".tmp-" + suffix);
    file_ = std::fopen(path_.c_str(), "wbx");
    if (file_ || errno != EEXIST) return;
  }
}

TemporaryFile::~TemporaryFile() {
  if (!committed_ && file_) {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
}

bool TemporaryFile::commit(const DumpTarget& target) {
  std::error_code error;
  if (target.existed) fs::permissions(path_, target.permissions, error);
  fs::rename(path_, target.path, error);
  committed_ = !error;
  return committed_;
}

}  // namespace orvel::typing::text
