// Every line of the reference segmenter's golden outputs, in both modes, and the same corpus
// cut concurrently by two threads sharing one engine.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "golden_file.h"
#include "jieba_test_support.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::tokenizer::jieba {
namespace {

using testing::GoldenLine;
using testing::PathsIn;
using testing::ReadGoldenFile;
using testing::SharedDir;
using testing::StandardDataFiles;

struct GoldenCase {
  const char* golden_file;
  const char* user_dict_files;  // '|'-joined names inside jieba/data
};

class JiebaGoldenTest : public ::testing::TestWithParam<GoldenCase> {
 protected:
  void SetUp() override {
    const auto shared = SharedDir();
    if (!shared) GTEST_SKIP() << "shared segmentation data not found";
    const auto data = *shared / "jieba" / "data";
    const std::string user_paths = PathsIn(data, GetParam().user_dict_files);
    const auto files = StandardDataFiles(*shared);
    engine_ =
        std::make_unique<Jieba>(files.dict, files.hmm, user_paths, files.idf, files.stop_words);
    lines_ = ReadGoldenFile((*shared / "jieba" / "golden" / GetParam().golden_file).string());
    ASSERT_EQ(lines_.size(), 639u);
  }

  std::unique_ptr<Jieba> engine_;
  std::vector<GoldenLine> lines_;
};

TEST_P(JiebaGoldenTest, EveryLineMatchesInBothModes) {
  std::size_t cut_matches = 0;
  std::size_t search_matches = 0;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const GoldenLine& line = lines_[i];
    engine_->Cut(line.sentence, words);
    cut_matches += words == line.cut;
    EXPECT_EQ(words, line.cut) << "cut, line " << i + 1;
    engine_->CutForSearch(line.sentence, words);
    search_matches += words == line.search;
    EXPECT_EQ(words, line.search) << "search, line " << i + 1;
  }
  std::cout << GetParam().golden_file << ": cut " << cut_matches << "/" << lines_.size()
            << ", search " << search_matches << "/" << lines_.size() << " lines match\n";
}

TEST_P(JiebaGoldenTest, TwoThreadsSharingOneEngineMatch) {
  std::vector<std::size_t> mismatches(2, 0);
  auto work = [this, &mismatches](std::size_t thread_index) {
    std::vector<std::string> words;
    for (int repeat = 0; repeat < 3; ++repeat) {
      for (const GoldenLine& line : lines_) {
        engine_->Cut(line.sentence, words);
        mismatches[thread_index] += words != line.cut;
        engine_->CutForSearch(line.sentence, words);
        mismatches[thread_index] += words != line.search;
      }
    }
  };
  std::thread first(work, 0);
  std::thread second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(mismatches[0], 0u);
  EXPECT_EQ(mismatches[1], 0u);
}

INSTANTIATE_TEST_SUITE_P(Jieba, JiebaGoldenTest,
                         ::testing::Values(GoldenCase{"public-userdict.jsonl", "user.dict.utf8"},
                                           GoldenCase{"public-extra-userdict.jsonl",
                                                      "user.dict.utf8|extra_user.dict.utf8"}),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) {
                           return info.index == 0 ? std::string("UserDict")
                                                  : std::string("ExtraUserDict");
                         });

}  // namespace
}  // namespace orvel::tokenizer::jieba
