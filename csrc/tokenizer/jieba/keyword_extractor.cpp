#include "tokenizer/jieba/keyword_extractor.h"

#include <algorithm>
#include <cmath>
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
    ForEachLine(content, [&](std::string_view line) {
      ++lines;
      std::string_view fields[2];
      if (line.empty() || SplitFields(line, ' ', fields, 2) != 2) return;
      const double idf = ParseCDouble(fields[1]);
      sum += idf;  // in file order, duplicates included, as the reference adds them
      std::uint32_t& slot = slots_[SlotOf(fields[0])];
      if (slot != 0) {
        entries_[slot - 1].idf = idf;  // a later line for the same word overwrites
        return;
      }
      entries_.push_back({static_cast<std::uint32_t>(words_.size()),
                          static_cast<std::uint32_t>(fields[0].size()), idf});
      words_.append(fields[0]);
      slot = static_cast<std::uint32_t>(entries_.size());
    });
    // The sum over every line read, skipped ones included; an empty table averages to 0.
    average_idf_ = lines == 0 ? 0.0 : sum / static_cast<double>(lines);
    words_.shrink_to_fit();
    entries_.shrink_to_fit();
  }
  stop_word_text_ = ReadDataFile(stop_word_path);
  ForEachLine(stop_word_text_, [&](std::string_view line) { stop_words_.insert(line); });
}

std::size_t KeywordTables::SlotOf(std::string_view word) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = std::hash<std::string_view>()(word) & mask;
  while (slots_[slot] != 0 && WordOf(entries_[slots_[slot] - 1]) != word) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

double KeywordTables::Idf(std::string_view word) const {
  const std::uint32_t entry = slots_[SlotOf(word)];
  return entry != 0 ? entries_[entry - 1].idf : average_idf_;
}

void ExtractKeywords(const KeywordTables& tables, std::string_view sentence,
                     const std::vector<Token>& tokens, std::size_t top_n,
                     std::vector<Keyword>& keywords) {
  keywords.clear();
  if (top_n == 0) return;
  struct Candidate {
    std::string_view word;
    std::size_t count;
    double weight;
  };
  constexpr std::uint32_t kSkipped = 0xFFFFFFFFu;
  std::vector<Candidate> candidates;  // in order of first occurrence
  std::vector<std::uint32_t> token_candidate(tokens.size(), kSkipped);
  std::unordered_map<std::string_view, std::uint32_t> index;
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    // One-rune words (every separator, nearly all punctuation) and stop words never count.
    if (token.rune_end - token.rune_begin == 1) continue;
    const std::string_view word =
        sentence.substr(token.byte_begin, token.byte_end - token.byte_begin);
    if (tables.IsStopWord(word)) continue;
    const auto [it, inserted] = index.emplace(word, static_cast<std::uint32_t>(candidates.size()));
    if (inserted) candidates.push_back({word, 0, 0.0});
    ++candidates[it->second].count;
    token_candidate[t] = it->second;
  }
  for (Candidate& candidate : candidates) {
    candidate.weight = static_cast<double>(candidate.count) * tables.Idf(candidate.word);
  }
  // Heavier first; equal weights in order of first occurrence. NaN (from a "nan" IDF line)
  // sorts last, so the order stays well defined.
  std::vector<std::uint32_t> order(candidates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  const auto before = [&](std::uint32_t a, std::uint32_t b) {
    const double wa = candidates[a].weight;
    const double wb = candidates[b].weight;
    if (std::isnan(wa) != std::isnan(wb)) return std::isnan(wb);
    if (!std::isnan(wa) && wa != wb) return wa > wb;
    return a < b;
  };
  const std::size_t kept = std::min(top_n, candidates.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                    before);
  // Offsets only for the kept words: one more pass over the tokens.
  std::vector<std::uint32_t> rank(candidates.size(), kSkipped);
  keywords.reserve(kept);
  for (std::size_t r = 0; r < kept; ++r) {
    rank[order[r]] = static_cast<std::uint32_t>(r);
    keywords.push_back({std::string(candidates[order[r]].word), candidates[order[r]].weight, {}});
  }
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    if (token_candidate[t] == kSkipped || rank[token_candidate[t]] == kSkipped) continue;
    keywords[rank[token_candidate[t]]].offsets.push_back(tokens[t].byte_begin);
  }
}

}  // namespace orvel::tokenizer::jieba
