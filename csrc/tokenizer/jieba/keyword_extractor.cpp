#include "tokenizer/jieba/keyword_extractor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "tokenizer/jieba/data_file.h"
#include "tokenizer/jieba/text_fields.h"

namespace orvel::tokenizer::jieba {

KeywordTables::KeywordTables(const std::string& idf_path, const std::string& stop_word_path) {
  {
    const std::string content = ReadDataFile(idf_path);
    if (content.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error(idf_path + ": the IDF table is larger than 4 GiB");
    }
    const std::size_t line_estimate =
        static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    // At most two thirds full, so that linear probing stays short.
    std::size_t slot_count = 16;
    while (slot_count < line_estimate + line_estimate / 2) slot_count *= 2;
    slots_.assign(slot_count, 0);
    words_.reserve(content.size());
    std::size_t lines = 0;
    double sum = 0.0;
    std::unordered_map<std::uint64_t, std::uint32_t> value_ids;  // by the value's bits
    std::vector<std::uint32_t> idf_ids;  // per distinct word; narrowed once all are known
    ForEachLine(content, [&](std::string_view line) {
      ++lines;
      std::string_view fields[2];
      if (line.empty() || SplitFields(line, ' ', fields, 2) != 2) return;
      const double idf = ParseCDouble(fields[1]);
      sum += idf;  // in file order, duplicates included, as the reference adds them
      std::uint64_t bits = 0;
      std::memcpy(&bits, &idf, sizeof bits);
      const auto [value, added] =
          value_ids.emplace(bits, static_cast<std::uint32_t>(idf_values_.size()));
      if (added) idf_values_.push_back(idf);
      std::uint32_t& slot = slots_[SlotOf(fields[0], Hash(fields[0]))];
      if (slot != 0) {
        idf_ids[slot - 1] = value->second;  // a later line for the same word overwrites
        return;
      }
      words_.append(fields[0]);
      word_ends_.push_back(static_cast<std::uint32_t>(words_.size()));
      idf_ids.push_back(value->second);
      slot = static_cast<std::uint32_t>(word_ends_.size());
    });
    // The sum over every line read, skipped ones included; an empty table averages to 0.
    average_idf_ = lines == 0 ? 0.0 : sum / static_cast<double>(lines);
    words_.shrink_to_fit();
    word_ends_.shrink_to_fit();
    // A few thousand distinct values: two bytes per word instead of four.
    idf_ids_ =
        NarrowIdArray(idf_ids.size(),
                      static_cast<std::uint32_t>(std::max<std::size_t>(idf_values_.size(), 1) - 1));
    for (std::size_t word = 0; word < idf_ids.size(); ++word) idf_ids_.Set(word, idf_ids[word]);
    idf_values_.shrink_to_fit();
  }
  stop_word_text_ = ReadDataFile(stop_word_path);
  std::size_t stop_slots = 16;
  const std::size_t stop_lines =
      static_cast<std::size_t>(std::count(stop_word_text_.begin(), stop_word_text_.end(), '\n'));
  while (stop_slots < 2 * stop_lines + 2) stop_slots *= 2;
  stop_words_.assign(stop_slots, std::string_view());
  ForEachLine(stop_word_text_, [&](std::string_view line) {
    if (line.empty()) {
      empty_line_is_stop_word_ = true;
      return;
    }
    std::size_t slot = Hash(line) & (stop_slots - 1);
    while (!stop_words_[slot].empty() && stop_words_[slot] != line) {
      slot = (slot + 1) & (stop_slots - 1);
    }
    stop_words_[slot] = line;
  });
}

bool KeywordTables::IsStopWord(std::string_view word, std::size_t hash) const {
  if (word.empty()) return empty_line_is_stop_word_;
  const std::size_t mask = stop_words_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    if (stop_words_[slot].empty()) return false;
    if (stop_words_[slot] == word) return true;
  }
}

std::size_t KeywordTables::SlotOf(std::string_view word, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = hash & mask;
  while (slots_[slot] != 0 && WordOf(slots_[slot] - 1) != word) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

double KeywordTables::Idf(std::string_view word, std::size_t hash) const {
  const std::uint32_t entry = slots_[SlotOf(word, hash)];
  return entry != 0 ? idf_values_[idf_ids_.Get(entry - 1)] : average_idf_;
}

void ExtractKeywords(const KeywordTables& tables, std::string_view sentence,
                     const std::vector<Token>& tokens, std::size_t top_n,
                     std::vector<Keyword>& keywords, bool with_offsets) {
  keywords.clear();
  if (top_n == 0) return;
  struct Candidate {
    std::string_view word;
    std::size_t hash;
    std::size_t count;
    double weight;
  };
  constexpr std::uint32_t kSkipped = 0xFFFFFFFFu;
  std::vector<Candidate> candidates;  // in order of first occurrence
  candidates.reserve(tokens.size());
  // Distinct words by open addressing over candidate indexes + 1, each word hashed once for
  // this table, the stop words and the IDF table. This table, each token's candidate, and the
  // candidates' order and rank below share one allocation: a call is a few microseconds, of
  // which separate allocations would take a noticeable share.
  std::size_t slot_count = 16;
  while (slot_count < 2 * tokens.size()) slot_count *= 2;
  std::vector<std::uint32_t> scratch(slot_count + 3 * tokens.size(), 0);
  std::uint32_t* slots = scratch.data();
  std::uint32_t* token_candidate = slots + slot_count;
  std::fill(token_candidate, token_candidate + tokens.size(), kSkipped);
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    // One-rune words (every separator, nearly all punctuation) and stop words never count.
    if (token.rune_end - token.rune_begin == 1) continue;
    const std::string_view word =
        sentence.substr(token.byte_begin, token.byte_end - token.byte_begin);
    const std::size_t hash = KeywordTables::Hash(word);
    std::size_t slot = hash & (slot_count - 1);
    while (slots[slot] != 0 && candidates[slots[slot] - 1].word != word) {
      slot = (slot + 1) & (slot_count - 1);
    }
    if (slots[slot] == 0) {
      if (tables.IsStopWord(word, hash)) continue;
      candidates.push_back({word, hash, 0, 0.0});
      slots[slot] = static_cast<std::uint32_t>(candidates.size());
    }
    ++candidates[slots[slot] - 1].count;
    token_candidate[t] = slots[slot] - 1;
  }
  for (Candidate& candidate : candidates) {
    candidate.weight =
        static_cast<double>(candidate.count) * tables.Idf(candidate.word, candidate.hash);
  }
  // Heavier first; equal weights in order of first occurrence. NaN (from a "nan" IDF line)
  // sorts last, so the order stays well defined.
  // Candidates are at most the tokens, so both fit the scratch space after token_candidate.
  std::uint32_t* order = token_candidate + tokens.size();
  std::uint32_t* rank = order + candidates.size();
  for (std::size_t i = 0; i < candidates.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  const auto before = [&](std::uint32_t a, std::uint32_t b) {
    const double wa = candidates[a].weight;
    const double wb = candidates[b].weight;
    if (std::isnan(wa) != std::isnan(wb)) return std::isnan(wb);
    if (!std::isnan(wa) && wa != wb) return wa > wb;
    return a < b;
  };
  const std::size_t kept = std::min(top_n, candidates.size());
  std::uint32_t* const order_end = order + candidates.size();
  if (kept * 2 >= candidates.size()) {
    std::sort(order, order_end, before);  // cheaper than a heap for most of them
  } else {
    std::partial_sort(order, order + kept, order_end, before);
  }
  // Offsets only for the kept words: one more pass over the tokens.
  std::fill(rank, rank + candidates.size(), kSkipped);
  keywords.reserve(kept);
  for (std::size_t r = 0; r < kept; ++r) {
    rank[order[r]] = static_cast<std::uint32_t>(r);
    keywords.push_back({std::string(candidates[order[r]].word), candidates[order[r]].weight, {}});
  }
  if (!with_offsets) return;
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    if (token_candidate[t] == kSkipped || rank[token_candidate[t]] == kSkipped) continue;
    keywords[rank[token_candidate[t]]].offsets.push_back(tokens[t].byte_begin);
  }
}

}  // namespace orvel::tokenizer::jieba
