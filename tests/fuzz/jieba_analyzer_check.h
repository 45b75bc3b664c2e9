#pragma once

// Properties of the analyzer calls on arbitrary bytes, checked on the cut fuzzer's engine. For a
// sentence that decodes: positions of every mode slice the sentence, byte and rune positions
// agree, the mixed and no-HMM tokens concatenate to the sentence and the mixed ones are cut's
// words; the no-HMM search tokens are the no-HMM words with pieces before them; full mode covers
// every rune, in order of position, and its longer words are dictionary words; tags pair with
// the cut and agree with word_tag; keywords are words of the cut of two or more runes at their
// offsets, heaviest first. A sentence that does not decode gives nothing anywhere.

#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/jieba_check.h"

namespace orvel::fuzz {

namespace jieba_analyzer_detail {

using orvel::tokenizer::jieba::Jieba;
using orvel::tokenizer::jieba::Token;
using orvel::tokenizer::jieba::TokenMode;

// Words of the tokens, after checking that their positions lie in the sentence and that the
// rune positions count the runes before and inside each word.
inline std::vector<std::string> CheckedWords(const std::string& sentence,
                                             const std::vector<Token>& tokens) {
  std::vector<std::string> words;
  for (const Token& token : tokens) {
    Require(token.byte_begin < token.byte_end && token.byte_end <= sentence.size(),
            "token bytes are a non-empty slice of the sentence");
    std::vector<std::uint32_t> before;
    std::vector<std::uint32_t> inside;
    jieba_detail::DecodeLeniently(std::string_view(sentence).substr(0, token.byte_begin), before);
    Require(jieba_detail::DecodeLeniently(std::string_view(sentence).substr(
                                              token.byte_begin, token.byte_end - token.byte_begin),
                                          inside),
            "token bytes are whole runes");
    Require(token.rune_begin == before.size() && token.rune_end - token.rune_begin == inside.size(),
            "rune positions count the runes before and inside the word");
    words.push_back(sentence.substr(token.byte_begin, token.byte_end - token.byte_begin));
  }
  return words;
}

}  // namespace jieba_analyzer_detail

inline void CheckAnalyzer(const orvel::tokenizer::jieba::Jieba& engine, std::string_view data) {
  using namespace jieba_analyzer_detail;
  const std::string sentence(data);
  std::vector<std::uint32_t> runes;
  const bool decodes = jieba_detail::DecodeLeniently(sentence, runes);
  CerrCapture quiet;

  std::vector<Token> mixed, plain, plain_search, full;
  engine.Tokenize(sentence, TokenMode::kMixed, true, mixed);
  engine.Tokenize(sentence, TokenMode::kMixed, false, plain);
  engine.Tokenize(sentence, TokenMode::kSearch, false, plain_search);
  engine.Tokenize(sentence, TokenMode::kFull, true, full);
  std::vector<orvel::tokenizer::jieba::TaggedWord> tagged;
  engine.Tag(sentence, true, tagged);
  std::vector<orvel::tokenizer::jieba::Keyword> keywords;
  engine.ExtractKeywords(sentence, 1000, keywords);
  if (!decodes) {
    Require(mixed.empty() && plain.empty() && plain_search.empty() && full.empty() &&
                tagged.empty() && keywords.empty(),
            "a sentence that does not decode gives nothing");
    return;
  }
  Require(quiet.text().empty(), "a sentence that decodes is analysed silently");

  const std::vector<std::string> mixed_words = CheckedWords(sentence, mixed);
  std::vector<std::string> cut;
  engine.Cut(sentence, cut);
  Require(mixed_words == cut, "mixed tokens are cut's words");
  const std::vector<std::string> plain_words = CheckedWords(sentence, plain);
  jieba_detail::CheckMixedWords(sentence, plain_words);
  jieba_detail::CheckSearchWords(plain_words, CheckedWords(sentence, plain_search));

  CheckedWords(sentence, full);
  std::vector<bool> covered(runes.size(), false);
  for (std::size_t i = 0; i < full.size(); ++i) {
    for (std::size_t r = full[i].rune_begin; r < full[i].rune_end; ++r) covered[r] = true;
    if (i > 0) {
      Require(full[i - 1].rune_begin < full[i].rune_begin ||
                  (full[i - 1].rune_begin == full[i].rune_begin &&
                   full[i - 1].rune_end < full[i].rune_end),
              "full mode is ordered by position, then length");
    }
    if (full[i].rune_end - full[i].rune_begin > 1) {
      Require(
          engine.Find(sentence.substr(full[i].byte_begin, full[i].byte_end - full[i].byte_begin)),
          "full mode's longer words are dictionary words");
    }
  }
  for (const bool rune_covered : covered) Require(rune_covered, "full mode covers every rune");

  Require(tagged.size() == mixed.size(), "one tag per word of the cut");
  for (std::size_t i = 0; i < tagged.size(); ++i) {
    Require(tagged[i].span.begin == mixed[i].byte_begin && tagged[i].span.end == mixed[i].byte_end,
            "tags pair with the cut's words");
    Require(tagged[i].tag == engine.LookupTag(mixed_words[i]), "a word's tag is word_tag's");
  }

  for (std::size_t i = 0; i < keywords.size(); ++i) {
    const orvel::tokenizer::jieba::Keyword& keyword = keywords[i];
    Require(!keyword.offsets.empty(), "a keyword occurs");
    for (const std::size_t offset : keyword.offsets) {
      bool found = false;
      for (const Token& token : mixed) {
        found = found || (token.byte_begin == offset &&
                          sentence.compare(offset, token.byte_end - offset, keyword.word) == 0 &&
                          token.byte_end - offset == keyword.word.size() &&
                          token.rune_end - token.rune_begin > 1);
      }
      Require(found, "keywords are words of the cut of two or more runes, at their offsets");
    }
    if (i > 0 && !std::isnan(keyword.weight)) {
      Require(keywords[i - 1].weight >= keyword.weight, "keywords come heaviest first");
    }
  }
}

inline void CheckAnalyzer(std::string_view data) {
  CheckAnalyzer(jieba_detail::FuzzEngine(), data);
}

}  // namespace orvel::fuzz
