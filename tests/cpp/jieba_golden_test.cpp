// Every line of the reference segmenter's golden outputs, in both modes, and the same corpus
// cut concurrently by two threads sharing one engine.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "jieba_test_support.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::tokenizer::jieba {
namespace {

using testing::PathsIn;
using testing::SharedDir;
using testing::StandardDataFiles;

struct GoldenLine {
  std::string sentence;
  std::vector<std::string> cut;
  std::vector<std::string> search;
};

// Just enough JSON for the golden lines: one object per line whose members are strings or
// arrays of strings, with every string escape including surrogate pairs.
class GoldenLineParser {
 public:
  explicit GoldenLineParser(const std::string& text) : text_(text) {}

  GoldenLine Parse() {
    GoldenLine line;
    Expect('{');
    do {
      const std::string key = ParseString();
      Expect(':');
      if (key == "s") {
        line.sentence = ParseString();
      } else if (key == "cut") {
        line.cut = ParseStringArray();
      } else if (key == "search") {
        line.search = ParseStringArray();
      } else {
        Fail("unknown key " + key);
      }
    } while (Accept(','));
    Expect('}');
    SkipSpace();
    if (pos_ != text_.size()) Fail("trailing characters");
    return line;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("golden JSON at byte " + std::to_string(pos_) + ": " + what);
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool Accept(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Accept(c)) Fail(std::string("expected '") + c + "'");
  }

  std::vector<std::string> ParseStringArray() {
    std::vector<std::string> items;
    Expect('[');
    if (Accept(']')) return items;
    do {
      items.push_back(ParseString());
    } while (Accept(','));
    Expect(']');
    return items;
  }

  std::uint32_t ParseHex4() {
    if (pos_ + 4 > text_.size()) Fail("short \\u escape");
    const std::uint32_t value = std::stoul(text_.substr(pos_, 4), nullptr, 16);
    pos_ += 4;
    return value;
  }

  static void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string ParseString() {
    Expect('"');
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) Fail("dangling backslash");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = ParseHex4();
          if (cp >= 0xD800 && cp < 0xDC00 && text_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            const std::uint32_t low = ParseHex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("unpaired high surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(cp, out);
          break;
        }
        default:
          Fail(std::string("bad escape \\") + escape);
      }
    }
    Expect('"');
    return out;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

std::vector<GoldenLine> ReadGoldenFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<GoldenLine> lines;
  std::string text;
  while (std::getline(in, text)) lines.push_back(GoldenLineParser(text).Parse());
  return lines;
}

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
