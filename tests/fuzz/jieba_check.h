#pragma once

// Properties of the segmentation engine on arbitrary bytes, and the engines the checks run on.
// For a sentence that decodes, the mixed cut's words are non-empty, rune-aligned, concatenate
// to the sentence, and hold a separator only as a word of their own; the search cut is the mixed
// words in order, each preceded only by shorter pieces of itself; the span forms agree with the
// string forms. A sentence that does not decode gives no words.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::fuzz {

namespace jieba_detail {

using orvel::tokenizer::jieba::Jieba;
using orvel::tokenizer::jieba::WordSpan;

// The engine's lenient decoding, written out again so that the oracle does not share the
// engine's code: continuation bytes are never checked; lead bytes 0xF8-0xFF and sequences cut
// short by the end fail. Appends the code points; false when the text does not decode.
inline bool DecodeLeniently(std::string_view text, std::vector<std::uint32_t>& runes) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned b0 = p[i];
    const std::size_t rest = text.size() - i;
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (b0 < 0x80) {
      length = 1;
      value = b0;
    } else if (b0 <= 0xDF && rest >= 2) {
      length = 2;
      value = (b0 & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
    } else if (b0 <= 0xEF && rest >= 3) {
      length = 3;
      value = (b0 & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
    } else if (b0 <= 0xF7 && rest >= 4) {
      length = 4;
      value = (b0 & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 | (p[i + 2] & 0x3Fu) << 6 |
              (p[i + 3] & 0x3Fu);
    } else {
      return false;
    }
    runes.push_back(value);
    i += length;
  }
  return true;
}

inline bool IsSeparator(std::uint32_t rune) {
  return rune == 0x20 || rune == 0x09 || rune == 0x0A || rune == 0xFF0C || rune == 0x3002;
}

inline std::vector<std::string> FromSpans(std::string_view sentence,
                                          const std::vector<WordSpan>& spans) {
  std::vector<std::string> words;
  for (const WordSpan& span : spans) {
    Require(span.begin <= span.end && span.end <= sentence.size(), "spans lie in the sentence");
    words.emplace_back(sentence.substr(span.begin, span.end - span.begin));
  }
  return words;
}

inline void CheckMixedWords(const std::string& sentence, const std::vector<std::string>& words) {
  std::string joined;
  for (const std::string& word : words) {
    Require(!word.empty(), "no word is empty");
    std::vector<std::uint32_t> runes;
    Require(DecodeLeniently(word, runes), "every word is whole runes");
    if (runes.size() > 1) {
      for (const std::uint32_t rune : runes) {
        Require(!IsSeparator(rune), "a separator is never part of a longer word");
      }
    }
    joined += word;
  }
  Require(joined == sentence, "the words concatenate to the sentence");
}

// Search words are the mixed words in order, each preceded by pieces strictly inside it.
inline void CheckSearchWords(const std::vector<std::string>& mixed,
                             const std::vector<std::string>& search) {
  std::size_t next = 0;
  for (const std::string& word : search) {
    Require(next < mixed.size(), "nothing follows the last mixed word in search mode");
    if (word == mixed[next]) {
      ++next;
      continue;
    }
    Require(word.size() < mixed[next].size() && mixed[next].find(word) != std::string::npos,
            "each search-only word is a piece of the mixed word it precedes");
  }
  Require(next == mixed.size(), "search mode keeps every mixed word, in order");
}

// A directory removed with its content when the process ends.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvel_fuzz_XXXXXX").string();
    Require(mkdtemp(pattern.data()) != nullptr, "a scratch directory can be made");
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string Write(const std::string& name, std::string_view content) const {
    const std::string file = (path_ / name).string();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    Require(static_cast<bool>(out), "a scratch file can be written");
    return file;
  }

 private:
  std::filesystem::path path_;
};

inline const ScratchDirectory& Scratch() {
  static const ScratchDirectory directory;
  return directory;
}

// Five small data files of the harness's own, one per constructor argument, that reach every
// cutting rule: multi-rune and ASCII words, a user single rune, HMM emissions for unknown runes.
struct DataFileSet {
  std::string dict;
  std::string hmm;
  std::string user;
  std::string idf;
  std::string stop_words;
};

inline const char* const kTinyFileNames[5] = {"main.dict", "hmm.model", "user.dict", "idf.txt",
                                              "stop.txt"};

inline const std::string* TinyFileContents() {
  static const std::string contents[5] = {
      "中国 100 ns\n北京 80 ns\n北京大学 30 nt\n大学 60 n\n学生 50 n\n生命 20 n\n科学 40 n\n"
      "研究 45 vn\n研究生 10 n\n我 200 r\n来到 30 v\n清华 10 nz\nC++ 3 nz\n",
      "# start\n-0.26 -3.14e+100 -3.14e+100 -1.46\n"
      "-3.14e+100 -0.51 -0.91 -3.14e+100\n-0.58 -3.14e+100 -3.14e+100 -0.80\n"
      "-3.14e+100 -0.33 -1.26 -3.14e+100\n-0.72 -3.14e+100 -3.14e+100 -0.66\n"
      "小:-5.1,明:-6.2,杭:-7.0,研:-6.5\n明:-4.0,硕:-7.5,州:-5.5,所:-6.0\n"
      "硕:-8.0,士:-7.1\n小:-6.0,明:-6.6,士:-5.0,的:-2.0\n",
      "云计算\n杭 nz\n区块链 10 nz\n",
      "中国 2.5\n北京 3.1\n",
      "的\n了\n",
  };
  return contents;
}

inline DataFileSet TinyDataFiles() {
  static const DataFileSet files = [] {
    const std::string* contents = TinyFileContents();
    std::string paths[5];
    for (int i = 0; i < 5; ++i) paths[i] = Scratch().Write(kTinyFileNames[i], contents[i]);
    return DataFileSet{paths[0], paths[1], paths[2], paths[3], paths[4]};
  }();
  return files;
}

// The engine cut checks run on: the real data files when this checkout has them (set
// ORVEL_FUZZ_JIEBA_DATA to choose a directory), else the tiny ones.
inline const Jieba& FuzzEngine() {
  static const std::unique_ptr<const Jieba> engine = [] {
    std::vector<std::filesystem::path> candidates;
    if (const char* chosen = std::getenv("ORVEL_FUZZ_JIEBA_DATA"); chosen && *chosen) {
      candidates.emplace_back(chosen);
    }
    candidates.emplace_back(ORVEL_SOURCE_DIR "/data/jieba");
    candidates.emplace_back(ORVEL_SOURCE_DIR "/../shared/jieba/data");
    for (const auto& dir : candidates) {
      if (!std::filesystem::is_regular_file(dir / "jieba.dict.utf8")) continue;
      return std::make_unique<const Jieba>(
          (dir / "jieba.dict.utf8").string(), (dir / "hmm_model.utf8").string(),
          (dir / "user.dict.utf8").string(), (dir / "idf.utf8").string(),
          (dir / "stop_words.utf8").string());
    }
    const DataFileSet tiny = TinyDataFiles();
    return std::make_unique<const Jieba>(tiny.dict, tiny.hmm, tiny.user, tiny.idf, tiny.stop_words);
  }();
  return *engine;
}

}  // namespace jieba_detail

inline void CheckCuts(const orvel::tokenizer::jieba::Jieba& engine, std::string_view data) {
  using namespace jieba_detail;
  const std::string sentence(data);
  std::vector<std::uint32_t> runes;
  const bool decodes = DecodeLeniently(sentence, runes);
  CerrCapture quiet;  // one ERROR line per undecodable sentence

  std::vector<std::string> mixed{"stale"};
  engine.Cut(sentence, mixed);
  std::vector<std::string> search{"stale"};
  engine.CutForSearch(sentence, search);
  if (!decodes) {
    Require(mixed.empty() && search.empty(), "a sentence that does not decode gives no words");
    Require(quiet.text().find("ERROR") != std::string::npos, "and says so on standard error");
    return;
  }
  Require(quiet.text().empty(), "a sentence that decodes is cut silently");
  CheckMixedWords(sentence, mixed);
  CheckSearchWords(mixed, search);

  std::vector<WordSpan> spans;
  engine.CutSpans(sentence, spans);
  Require(FromSpans(sentence, spans) == mixed, "mixed spans are the mixed words");
  engine.CutForSearchSpans(sentence, spans);
  Require(FromSpans(sentence, spans) == search, "search spans are the search words");
}

inline void CheckCuts(std::string_view data) {
  CheckCuts(jieba_detail::FuzzEngine(), data);
}

}  // namespace orvel::fuzz
