#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/narrow_id_array.h"
#include "tokenizer/jieba/token_cutter.h"

namespace orvel::tokenizer::jieba {

// The IDF table and the stop words that TF-IDF keyword extraction weighs words with.
class KeywordTables {
 public:
  // Reads "word idf" lines (lines that are not exactly two space-separated fields are skipped
  // but still count for the average) and one stop word per line, verbatim. Throws
  // FileOpenError when a file cannot be opened.
  KeywordTables(const std::string& idf_path, const std::string& stop_word_path);
  // The stop-word set views the object's own text: not copyable or movable.
  KeywordTables(const KeywordTables&) = delete;
  KeywordTables& operator=(const KeywordTables&) = delete;

  // The hash both tables use; callers that look a word up in both hash it once. FNV-1a with a
  // final mix: the words are a few bytes, where it is several times cheaper than std::hash,
  // and the tables index by the low bits.
  static std::size_t Hash(std::string_view word) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : word) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return static_cast<std::size_t>(hash ^ (hash >> 29));
  }

  // The word's IDF, or the average IDF when the table does not list it.
  double Idf(std::string_view word) const { return Idf(word, Hash(word)); }
  double Idf(std::string_view word, std::size_t hash) const;
  bool IsStopWord(std::string_view word) const { return IsStopWord(word, Hash(word)); }
  bool IsStopWord(std::string_view word, std::size_t hash) const;
  double average_idf() const { return average_idf_; }

 private:
  std::string_view WordOf(std::uint32_t entry) const {
    const std::uint32_t begin = entry == 0 ? 0 : word_ends_[entry - 1];
    return std::string_view(words_).substr(begin, word_ends_[entry] - begin);
  }
  // The slot of `word` in slots_: the one holding it, or the empty one where it would go.
  std::size_t SlotOf(std::string_view word, std::size_t hash) const;

  // An open-addressing table: one hash and usually one comparison per lookup, which matters
  // because every candidate word of every sentence is looked up. Kept compact, as every
  // Jieba holds it: a table lists a few thousand distinct IDF values for its 270,000 words,
  // so each word keeps the index of its value, and its end offset instead of offset and length.
  std::string words_;                     // all listed words, back to back
  std::vector<std::uint32_t> word_ends_;  // per distinct word, where its bytes end in words_
  NarrowIdArray idf_ids_;                 // per distinct word, its value in idf_values_
  std::vector<double> idf_values_;        // each distinct IDF value (bit for bit) once
  std::vector<std::uint32_t> slots_;      // entry index + 1, 0 for empty; a power of two long
  double average_idf_ = 0.0;
  std::string stop_word_text_;                // the file; the table below views its lines
  std::vector<std::string_view> stop_words_;  // open addressing; empty views are free slots
  bool empty_line_is_stop_word_ = false;      // the one line the table cannot hold
};

struct Keyword {
  std::string word;
  double weight;                     // occurrences x IDF
  std::vector<std::size_t> offsets;  // byte offset of every occurrence, increasing
};

// TF-IDF keywords of `sentence` from its mixed cut `tokens`: words of two or more runes that
// are not stop words, weighed by occurrences x IDF, by weight and then by first occurrence;
// at most `top_n`. Replaces `keywords`. Their `offsets` are filled only `with_offsets`: they
// cost an allocation per keyword, which callers that want only the words need not pay.
void ExtractKeywords(const KeywordTables& tables, std::string_view sentence,
                     const std::vector<Token>& tokens, std::size_t top_n,
                     std::vector<Keyword>& keywords, bool with_offsets = true);

}  // namespace orvel::tokenizer::jieba
