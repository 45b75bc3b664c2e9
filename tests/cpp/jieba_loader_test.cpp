// Loading rules and every loading error, on small data files written by the tests themselves,
// plus the cutting behaviour that only these files can pin down (statistics, user entries,
// the decode-error line).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "jieba_test_support.h"
#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/errors.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/keyword_extractor.h"

namespace orvel::tokenizer::jieba {
namespace {

using testing::TempDir;
using Words = std::vector<std::string>;

// A model whose emissions know only 甲 and 乙, with a header, blank and indented comment lines
// and CRLF endings, which must all be harmless.
const char* const kHmmModel =
    "# start\r\n"
    "-0.26 -3.14e+100 -3.14e+100 -1.46\r\n"
    "\r\n"
    "   # transitions\n"
    "-3.14e+100 -0.51 -0.91 -3.14e+100\n"
    "-0.58 -3.14e+100 -3.14e+100 -0.80\n"
    "-3.14e+100 -0.33 -1.26 -3.14e+100\n"
    "-0.72 -3.14e+100 -3.14e+100 -0.66\n"
    "甲:-1.0,乙:-9.0,\n"
    "甲:-9.0,乙:-1.0\n"
    "甲:-5.0\n"
    "甲:-5.0,乙:-8.0\n"
    "ignored line after the nine data lines\n";

class JiebaLoaderTest : public ::testing::Test {
 protected:
  std::string Dict(const std::string& content) { return dir_.Write("dict.txt", content); }
  std::string Hmm(const std::string& content) { return dir_.Write("hmm.txt", content); }

  // Builds an engine from the given paths; unspecified ones are valid small files.
  std::unique_ptr<Jieba> Build(std::string dict, std::string user = "", std::string hmm = "",
                               std::string idf = "", std::string stop = "") {
    if (dict.empty()) dict = Dict("甲乙 10 n\n丙 5 n\n");
    if (hmm.empty()) hmm = Hmm(kHmmModel);
    if (idf.empty()) idf = dir_.Write("idf.txt", "甲乙 1.5\n\nbad line here\n");
    if (stop.empty()) stop = dir_.Write("stop.txt", "的\n");
    return std::make_unique<Jieba>(dict, hmm, user, idf, stop);
  }

  void ExpectOpenError(const std::function<void()>& build, const std::string& path,
                       int error_number) {
    try {
      build();
      ADD_FAILURE() << "no FileOpenError for " << path;
    } catch (const FileOpenError& e) {
      EXPECT_EQ(e.path(), path);
      EXPECT_EQ(e.error_number(), error_number) << e.what();
    }
  }

  void ExpectFormatError(const std::function<void()>& build, const std::string& location) {
    try {
      build();
      ADD_FAILURE() << "no DataFormatError, expected at " << location;
    } catch (const DataFormatError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(location, 0), 0u) << e.what();
    }
  }

  TempDir dir_;
};

TEST_F(JiebaLoaderTest, UnopenableFilesRaiseWithPathAndErrno) {
  const std::string missing = dir_.Path("missing.txt");
  const std::string directory = dir_.Path("");
  for (const auto& [path, error] : {std::pair{missing, ENOENT}, std::pair{directory, EISDIR}}) {
    ExpectOpenError([&] { Build(path); }, path, error);
    ExpectOpenError([&] { Build("", path); }, path, error);
    ExpectOpenError([&] { Build("", "", path); }, path, error);
    ExpectOpenError([&] { Build("", "", "", path); }, path, error);
    ExpectOpenError([&] { Build("", "", "", "", path); }, path, error);
  }
  // A NUL byte would silently cut the path short.
  const std::string with_nul = Dict("a 1 n\n") + std::string(1, '\0') + "x";
  ExpectOpenError([&] { Build(with_nul); }, with_nul, EINVAL);
  // An empty single-file path is a file that cannot be opened.
  ExpectOpenError([&] { Jieba("", Hmm(kHmmModel), "", Dict("x 1 n\n"), Dict("x 1 n\n")); }, "",
                  ENOENT);
}

TEST_F(JiebaLoaderTest, UnreadableFileRaisesPermissionError) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  const std::string path = Dict("a 1 n\n");
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  ExpectOpenError([&] { Build(path); }, path, EACCES);
}

TEST_F(JiebaLoaderTest, FirstFailureInLoadingOrderWins) {
  const std::string missing = dir_.Path("missing.txt");
  ExpectFormatError([&] { Build(Dict("bad\n"), missing, missing, missing, missing); },
                    dir_.Path("dict.txt") + ":1:");
  ExpectOpenError([&] { Build("", dir_.Path("no_user.txt"), missing); }, dir_.Path("no_user.txt"),
                  ENOENT);
  ExpectOpenError([&] { Build("", "", "", dir_.Path("no_idf.txt"), missing); },
                  dir_.Path("no_idf.txt"), ENOENT);
}

TEST_F(JiebaLoaderTest, MainDictionaryLinesNeedExactlyThreeFields) {
  const std::string at = dir_.Path("dict.txt") + ":";
  const struct {
    const char* content;
    const char* line;
  } cases[] = {
      {"a 1 n\nb 2\n", "2:"},     {"a 1 n\nb 2 n x\n", "2:"},
      {"a 1 n\n\nb 2 n\n", "2:"}, {"a 1 n\n\n", "2:"},
      {"a  1 n\n", "1:"},         {"a\t1\tn\n", "1:"},
      {"a 1 n  \n", "1:"},        {"a 5\r\n", "1:"},
      {"\xF8 1 n\n", "1:"},       {"a 0 n\n", "1:"},
      {"a -1 n\n", "1:"},         {"a x n\n", "1:"},
      {"a nan n\n", "1:"},        {"", "1:"},
  };
  for (const auto& c : cases) {
    ExpectFormatError([&] { Build(Dict(c.content)); }, at + c.line);
  }
  // One trailing space, a CRLF tag, an empty word and a missing final LF are all accepted.
  EXPECT_NO_THROW(Build(Dict("a 1 n \nb 2 n\r\n 3 n\nc 4 n")));
}

TEST_F(JiebaLoaderTest, HmmModelErrorsNameTheLine) {
  const std::string at = dir_.Path("hmm.txt") + ":";
  const std::string rows = "0 0 0 0\n0 0 0 0\n0 0 0 0\n0 0 0 0\n0 0 0 0\n";
  const struct {
    std::string content;
    const char* line;
  } cases[] = {
      {rows + "a:1\na:1\na:1\n", "9:"},  // 8 data lines: missing the last
      {"0 0 0\n" + rows.substr(8) + "a:1\na:1\na:1\na:1\n", "1:"},
      {rows + "a:1\na:1,,b:2\na:1\na:1\n", "7:"},  // empty item
      {rows + "a:1\na:1\nab:1\na:1\n", "8:"},      // two-rune key
      {rows + "a:1\na\na:1\na:1\n", "7:"},         // no colon
      {rows + "a:1:2\na:1\na:1\na:1\n", "6:"},     // two colons
      {rows + "\xF8:1\na:1\na:1\na:1\n", "6:"},    // undecodable key
      {"0 0\t0 0\n" + rows.substr(8) + "a:1\na:1\na:1\na:1\n", "1:"},
  };
  for (const auto& c : cases)
    ExpectFormatError([&] { Build("", "", Hmm(c.content)); }, at + c.line);
  EXPECT_NO_THROW(Build("", "", Hmm(rows + "a:1,\na:1\na:1\na:1\n")));
}

// Only cutting data is validated; keyword-extraction files just have to be readable.
TEST_F(JiebaLoaderTest, IdfAndStopWordFilesMayBeEmptyOrMalformed) {
  const std::string empty = dir_.Write("empty.txt", "");
  EXPECT_NO_THROW(Build("", "", "", empty, empty));
  EXPECT_NO_THROW(Build("", "", "", dir_.Write("idf_bad.txt", " w 1\nw 1 2\nw\n\r\nx abc"), ""));
}

// Faults in the compact IDF table: a word's bytes read from the wrong offsets, words that share
// an IDF value given another's, a later line for the same word not replacing the earlier, and
// the average not taken over every line read (the skipped one included).
TEST_F(JiebaLoaderTest, IdfTableKeepsEachWordsLastValue) {
  const KeywordTables tables(
      dir_.Write("idf.txt", "甲乙 2.5\n丙 7\n甲乙丙 2.5\n丙 4\nnot a line\nab 2.5\n"),
      dir_.Write("stop.txt", "的\n"));
  EXPECT_EQ(tables.Idf("甲乙"), 2.5);
  EXPECT_EQ(tables.Idf("丙"), 4.0);
  EXPECT_EQ(tables.Idf("甲乙丙"), 2.5);
  EXPECT_EQ(tables.Idf("ab"), 2.5);
  EXPECT_EQ(tables.Idf("甲"), tables.average_idf());  // a prefix is not the word
  EXPECT_EQ(tables.average_idf(), (2.5 + 7 + 2.5 + 4 + 2.5) / 6);
}

// Fault caught: value ids of a table with more than 256 distinct IDF values cut to one byte,
// so a word reads back another word's value; and the later line for a word lost at that width.
TEST_F(JiebaLoaderTest, IdfTableKeepsValuesApartBeyondOneByteOfIds) {
  std::string idf;
  for (int i = 0; i < 300; ++i) idf += "w" + std::to_string(i) + " " + std::to_string(i) + ".5\n";
  idf += "w3 299.5\n";
  const KeywordTables tables(dir_.Write("idf.txt", idf), dir_.Write("stop.txt", ""));
  EXPECT_EQ(tables.Idf("w0"), 0.5);
  EXPECT_EQ(tables.Idf("w256"), 256.5);
  EXPECT_EQ(tables.Idf("w299"), 299.5);
  EXPECT_EQ(tables.Idf("w3"), 299.5);
}

TEST_F(JiebaLoaderTest, UserPathStringSkipsEmptyFields) {
  const std::string a = dir_.Write("a.txt", "乙丙\n");
  EXPECT_NO_THROW(Build("", ""));
  for (const std::string& paths : Words{a + "|", a + "||", "|" + a, a + ";;" + a, "|", ";"}) {
    EXPECT_NO_THROW(Build("", paths)) << paths;
  }
  ExpectOpenError([&] { Build("", a + ";" + dir_.Path("b.txt")); }, dir_.Path("b.txt"), ENOENT);
}

// Main dictionary frequencies 1, 2, 3, 4 (sum 10): median is the upper middle weight ln(3/10).
TEST_F(JiebaLoaderTest, UserEntriesTakeMedianOrIntegerWeights) {
  const std::string dict = Dict("一 1 n\n二 2 n\n三 3 n\n四 4 n\n二 99 n\n");
  const std::string user = dir_.Write(
      "user.txt",
      "甲\n乙 nz\n丙 2.9 nz\n丁 0 n\n戊 -5 n\n己 1 n x\n \n\xF8\n 庚\n\r\n二 7 n\n二 5 n\n");
  const Dictionary d = BuildDictionary(ReadDictionaryEntries(dict, user));
  const double sum = 109.0;
  const auto weight = [&](const char* word) {
    std::vector<Rune> runes;
    EXPECT_TRUE(AppendRunes(word, runes));
    DictionaryTrie::Node node = d.trie.Child(DictionaryTrie::kRoot, d.trie.CodeOf(runes[0]));
    for (std::size_t i = 1; i < runes.size() && node != DictionaryTrie::kNotFound; ++i) {
      node = d.trie.Child(node, d.trie.CodeOf(runes[i]));
    }
    EXPECT_TRUE(node != DictionaryTrie::kNotFound && d.trie.IsWord(node)) << word;
    return node != DictionaryTrie::kNotFound && d.trie.IsWord(node) ? d.trie.Weight(node) : 0.0;
  };
  EXPECT_EQ(d.min_weight, std::log(1.0 / sum));
  EXPECT_EQ(weight("甲"), std::log(3.0 / sum));
  EXPECT_EQ(weight("乙"), std::log(3.0 / sum));
  EXPECT_EQ(weight("丙"), std::log(2.0 / sum));
  EXPECT_EQ(weight("丁"), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(weight("戊")));
  EXPECT_EQ(weight("二"), std::log(5.0 / sum));  // later user entry overrides
  EXPECT_EQ(weight("\r"), std::log(3.0 / sum));
  for (const char* absent : {"己", "庚"}) {
    std::vector<Rune> runes;
    AppendRunes(absent, runes);
    EXPECT_EQ(d.trie.CodeOf(runes[0]), DictionaryTrie::kNoCode) << absent;
  }
  std::vector<Rune> singles;
  AppendRunes("\r二丁丙乙戊甲", singles);
  std::sort(singles.begin(), singles.end());
  EXPECT_EQ(d.user_single_runes, singles);
}

TEST_F(JiebaLoaderTest, CutsWithTheLoadedHmmAndReportsUndecodableInput) {
  const auto engine = Build("", dir_.Write("user.txt", "丁\n"));
  Words words;
  engine->Cut("丙甲乙甲乙乙 x甲丁乙v1.2.3_x.y", words);
  EXPECT_EQ(words, (Words{"丙", "甲乙", "甲乙", "乙", " ", "x", "甲", "丁", "乙", "v1.2", ".", "3",
                          "_", "x", ".", "y"}));
  ::testing::internal::CaptureStderr();
  engine->Cut("甲\xF8", words);
  EXPECT_TRUE(words.empty());
  engine->CutForSearch("\xC3", words);
  EXPECT_TRUE(words.empty());
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
  EXPECT_NE(log.find("ERROR"), std::string::npos);
  EXPECT_NE(log.find("UTF-8 decode failed for input sentence"), std::string::npos);
  std::vector<WordSpan> spans{{7, 9}};
  engine->CutSpans("甲乙 丙", spans);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[2].begin, 7u);
  EXPECT_EQ(spans[2].end, 10u);
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
