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
    std::size_t lines = 0;
    double sum = 0.0;
    ForEachLine(content, [&](std::string_view line) {
      ++lines;
      std::string_view fields[2];
      if (line.empty() || SplitFields(line, ' ', fields, 2) != 2) return;
      const double idf = ParseCDouble(fields[1]);
      entries_.push_back({static_cast<std::uint32_t>(words_.size()),
                          static_cast<std::uint32_t>(fields[0].size()), idf});
      words_.append(fields[0]);
      sum += idf;  // in file order, duplicates included, as the reference adds them
    });
    // The sum over every line read, skipped ones included; an empty table averages to 0.
    average_idf_ = lines == 0 ? 0.0 : sum / static_cast<double>(lines);
    std::stable_sort(
        entries_.begin(), entries_.end(),
        [this](const IdfEntry& a, const IdfEntry& b) { return WordOf(a) < WordOf(b); });
    // A later line for the same word overwrites the earlier one.
    std::vector<IdfEntry> unique;
    unique.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i + 1 < entries_.size() && WordOf(entries_[i + 1]) == WordOf(entries_[i])) continue;
      unique.push_back(entries_[i]);
    }
    entries_ = std::move(unique);
  }
  const std::string stop_words = ReadDataFile(stop_word_path);
  ForEachLine(stop_words, [&](std::string_view line) { stop_words_.emplace(line); });
}

double KeywordTables::Idf(std::string_view word) const {
  const auto it = std::lower_bound(
      entries_.begin(), entries_.end(), word,
      [this](const IdfEntry& entry, std::string_view key) { return WordOf(entry) < key; });
  return it != entries_.end() && WordOf(*it) == word ? it->idf : average_idf_;
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
    std::vector<std::size_t> offsets;
  };
  std::vector<Candidate> candidates;  // in order of first occurrence
  std::unordered_map<std::string_view, std::size_t> index;
  for (const Token& token : tokens) {
    // One-rune words (every separator, nearly all punctuation) and stop words never count.
    if (token.rune_end - token.rune_begin == 1) continue;
    const std::string_view word =
        sentence.substr(token.byte_begin, token.byte_end - token.byte_begin);
    if (tables.IsStopWord(word)) continue;
    const auto [it, inserted] = index.emplace(word, candidates.size());
    if (inserted) candidates.push_back({word, 0, 0.0, {}});
    Candidate& candidate = candidates[it->second];
    ++candidate.count;
    candidate.offsets.push_back(token.byte_begin);
  }
  for (Candidate& candidate : candidates) {
    candidate.weight = static_cast<double>(candidate.count) * tables.Idf(candidate.word);
  }
  // Heavier first; equal weights keep their order of first occurrence (a stable sort). NaN
  // (from a "nan" IDF line) sorts last, so the order stays well defined.
  const auto heavier = [](const Candidate& a, const Candidate& b) {
    return !std::isnan(a.weight) && (std::isnan(b.weight) || a.weight > b.weight);
  };
  std::stable_sort(candidates.begin(), candidates.end(), heavier);
  const std::size_t kept = std::min(top_n, candidates.size());
  keywords.reserve(kept);
  for (std::size_t i = 0; i < kept; ++i) {
    keywords.push_back(
        {std::string(candidates[i].word), candidates[i].weight, std::move(candidates[i].offsets)});
  }
}

}  // namespace orvel::tokenizer::jieba
