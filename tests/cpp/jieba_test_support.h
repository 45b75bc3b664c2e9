#pragma once

// Helpers shared by the segmentation engine's tests: locating the shared data files and
// writing small data files of a test's own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace orvel::tokenizer::jieba::testing {

// The shared data directory (the one holding jieba/data and jieba/golden), or nothing when this
// checkout has none. ORVEL_SHARED_DIR overrides the default next to the source tree.
inline std::optional<std::filesystem::path> SharedDir() {
  const char* override_dir = std::getenv("ORVEL_SHARED_DIR");
  std::filesystem::path dir = override_dir != nullptr && *override_dir != '\0' ? override_dir
                                                                               : ORVEL_SOURCE_DIR
                                  "/../shared";
  if (!std::filesystem::is_regular_file(dir / "jieba" / "data" / "jieba.dict.utf8")) {
    return std::nullopt;
  }
  return dir;
}

// Paths of the five standard data files.
struct DataFiles {
  std::string dict;
  std::string hmm;
  std::string user;
  std::string idf;
  std::string stop_words;
};

inline DataFiles StandardDataFiles(const std::filesystem::path& shared_dir) {
  const std::filesystem::path data = shared_dir / "jieba" / "data";
  return {(data / "jieba.dict.utf8").string(), (data / "hmm_model.utf8").string(),
          (data / "user.dict.utf8").string(), (data / "idf.utf8").string(),
          (data / "stop_words.utf8").string()};
}

// "a|b" with each name replaced by its path inside `dir`: a user dictionary argument.
inline std::string PathsIn(const std::filesystem::path& dir, const std::string& names) {
  std::string paths;
  for (std::size_t start = 0; start <= names.size();) {
    std::size_t end = names.find('|', start);
    if (end == std::string::npos) end = names.size();
    if (!paths.empty()) paths += '|';
    paths += (dir / names.substr(start, end - start)).string();
    start = end + 1;
  }
  return paths;
}

// A fresh directory removed with everything in it when the object goes away.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "orvel_jieba_";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Writes `content` byte for byte to a file in this directory and returns its path.
  std::string Write(const std::string& name, std::string_view content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return file.string();
  }

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace orvel::tokenizer::jieba::testing
