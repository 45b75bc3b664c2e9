// Replays every input kept in tests/fuzz/corpus/ (seeds and past findings) through the fuzz
// targets' property checks, so that each fixed finding stays fixed in the ordinary test run.

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/bm25_load_check.h"
#include "fuzz/jieba_analyzer_check.h"
#include "fuzz/jieba_check.h"
#include "fuzz/jieba_loader_check.h"
#include "fuzz/json_check.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CorpusFiles(const std::string& target) {
  std::vector<fs::path> files;
  const fs::path dir = fs::path(ORVEL_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / target;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Check>
void Replay(const std::string& target, Check check) {
  const std::vector<fs::path> files = CorpusFiles(target);
  ASSERT_FALSE(files.empty()) << "no corpus for " << target;
  for (const fs::path& file : files) {
    try {
      check(ReadBytes(file));
    } catch (const std::exception& error) {
      ADD_FAILURE() << file.filename() << ": " << error.what();
    }
  }
}

TEST(FuzzCorpus, JsonParserAndWriter) {
  Replay("json_fuzz", [](const std::string& data) { orvel::fuzz::CheckJsonText(data); });
}

TEST(FuzzCorpus, ModelLoad) {
  Replay("bm25_load_fuzz", [](const std::string& data) { orvel::fuzz::CheckModelText(data); });
}

TEST(FuzzCorpus, EngineCuts) {
  Replay("jieba_cut_fuzz", [](const std::string& data) { orvel::fuzz::CheckCuts(data); });
}

TEST(FuzzCorpus, EngineAnalyzer) {
  Replay("jieba_analyzer_fuzz", [](const std::string& data) { orvel::fuzz::CheckAnalyzer(data); });
}

TEST(FuzzCorpus, DataFileLoaders) {
  Replay("jieba_loader_fuzz", [](const std::string& data) { orvel::fuzz::CheckDataFile(data); });
}

}  // namespace
