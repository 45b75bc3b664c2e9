#pragma once

// Properties of the five data-file loaders on arbitrary content: building an engine with one
// file replaced either succeeds or throws DataFormatError (no other exception, no crash), and an
// engine built from strange content still cuts by the rules of fuzz/jieba_check.h.
// The first input byte picks the file (main dictionary, HMM model, user dictionary, IDF table,
// stop words); the rest is its content.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/jieba_check.h"
#include "tokenizer/jieba/errors.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::fuzz {

inline void CheckDataFile(std::string_view data) {
  using namespace jieba_detail;
  if (data.empty()) return;
  const int slot = static_cast<unsigned char>(data[0]) % 5;
  const std::string_view content = data.substr(1);

  const DataFileSet tiny = TinyDataFiles();
  std::string paths[5] = {tiny.dict, tiny.hmm, tiny.user, tiny.idf, tiny.stop_words};
  paths[slot] = Scratch().Write("fuzzed", content);

  std::unique_ptr<Jieba> engine;
  try {
    engine = std::make_unique<Jieba>(paths[0], paths[1], paths[2], paths[3], paths[4]);
  } catch (const orvel::tokenizer::jieba::DataFormatError& error) {
    Require(std::string_view(error.what()).find(paths[slot]) == 0,
            "a format error names the file it is about first");
    return;
  }
  // The content itself is the sentence most likely to meet the words it defined.
  CheckCuts(*engine, content.substr(0, 4096));
  CheckCuts(*engine, "我来到北京清华大学研究生命科学，小明硕士毕业于杭州研究所。C++ and 3.14");
}

}  // namespace orvel::fuzz
