#include "tokenizer/jieba/dictionary_loader.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "tokenizer/jieba/data_file.h"
#include "tokenizer/jieba/text_fields.h"

namespace orvel::tokenizer::jieba {
namespace {

struct MainDictionaryStats {
  double frequency_sum;
  double min_weight;
  double median_weight;
};

// Appends every line of the main dictionary to `entries`, weighted ln(frequency / sum).
// Lines with an empty word still count for the sum and the statistics; the trie skips them.
MainDictionaryStats LoadMainDictionary(const std::string& path, WordEntries& entries,
                                       WordTags& tags) {
  const std::string content = ReadDataFile(path);
  // Sized up front: growing these by doubling would leave freed blocks in the heap for the
  // engine's lifetime. Words take at most the file's bytes, so at most that many runes.
  const std::size_t line_count =
      static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
  entries.Reserve(line_count, content.size());
  tags.Reserve(line_count);
  std::size_t line_number = 0;
  ForEachLine(content, [&](std::string_view line) {
    ++line_number;
    std::string_view fields[3];
    const std::size_t count = SplitFields(line, ' ', fields, 3);
    if (count != 3) {
      ThrowDataFormatError(
          path, line_number,
          "expected 3 space-separated fields (word frequency tag), found " + std::to_string(count));
    }
    if (!AppendRunes(fields[0], entries.runes())) {
      ThrowDataFormatError(path, line_number, "the word is not decodable UTF-8");
    }
    const double frequency = ParseCDouble(fields[1]);
    if (!(frequency > 0.0) || !std::isfinite(frequency)) {
      ThrowDataFormatError(path, line_number,
                           "frequency '" + std::string(fields[1]) + "' is not a number above 0");
    }
    entries.Add(frequency);
    tags.Add(fields[2]);
  });
  if (line_number == 0) ThrowDataFormatError(path, 1, "the file has no dictionary lines");

  // Summed in file order, as the reference does: a different order rounds differently.
  double frequency_sum = 0.0;
  for (std::size_t word = 0; word < entries.size(); ++word) frequency_sum += entries.Weight(word);
  if (!std::isfinite(frequency_sum)) {
    ThrowDataFormatError(path, line_number, "the frequencies sum to infinity");
  }

  std::vector<double> weights(entries.size());
  for (std::size_t word = 0; word < entries.size(); ++word) {
    weights[word] = std::log(entries.Weight(word) / frequency_sum);
    entries.SetWeight(word, weights[word]);
  }
  // The median is the element at index N / 2 of the ascending order (the upper middle one).
  const auto median = weights.begin() + static_cast<std::ptrdiff_t>(weights.size() / 2);
  std::nth_element(weights.begin(), median, weights.end());
  const double median_weight = *median;
  const double min_weight = *std::min_element(weights.begin(), median + 1);
  return {frequency_sum, min_weight, median_weight};
}

void LoadUserDictionary(const std::string& path, const MainDictionaryStats& stats,
                        WordEntries& entries, WordTags& tags, std::vector<Rune>& single_runes) {
  const std::string content = ReadDataFile(path);
  ForEachLine(content, [&](std::string_view line) {
    if (line.empty()) return;
    std::string_view fields[3];
    const std::size_t count = SplitFields(line, ' ', fields, 3);
    if (count > 3) return;
    std::vector<Rune>& runes = entries.runes();
    const std::size_t word_start = runes.size();
    // Undecodable and empty words are skipped, not errors: one bad line should not cost the
    // rest of a user's dictionary.
    if (!AppendRunes(fields[0], runes) || runes.size() == word_start) return;
    // Three columns carry an integer frequency; fewer get the main dictionary's median weight.
    const double weight =
        count == 3 ? std::log(static_cast<double>(ParseCInt(fields[1])) / stats.frequency_sum)
                   : stats.median_weight;
    if (runes.size() - word_start == 1) single_runes.push_back(runes.back());
    entries.Add(weight);
    // One column has no tag; two columns have the tag second, three have it third.
    tags.Add(count == 1 ? std::string_view() : fields[count - 1]);
  });
}

std::vector<std::string> SplitUserDictionaryPaths(const std::string& paths) {
  const auto is_separator = [](char c) { return c == '|' || c == ';'; };
  std::vector<std::string_view> fields(SplitFields(paths, is_separator, nullptr, 0));
  SplitFields(paths, is_separator, fields.data(), fields.size());
  std::vector<std::string> result;
  for (const std::string_view field : fields) {
    if (!field.empty()) result.emplace_back(field);
  }
  return result;
}

}  // namespace

DictionaryEntries ReadDictionaryEntries(const std::string& main_path,
                                        const std::string& user_dict_paths) {
  DictionaryEntries entries;
  const MainDictionaryStats stats = LoadMainDictionary(main_path, entries.words, entries.tags);
  std::vector<Rune>& single_runes = entries.user_single_runes;
  for (const std::string& path : SplitUserDictionaryPaths(user_dict_paths)) {
    LoadUserDictionary(path, stats, entries.words, entries.tags, single_runes);
  }
  std::sort(single_runes.begin(), single_runes.end());
  single_runes.erase(std::unique(single_runes.begin(), single_runes.end()), single_runes.end());
  entries.min_weight = stats.min_weight;
  entries.frequency_sum = stats.frequency_sum;
  entries.median_weight = stats.median_weight;
  return entries;
}

Dictionary BuildDictionary(DictionaryEntries entries) {
  Dictionary dictionary;
  dictionary.trie = DictionaryTrie(entries.words, kMaxWordRunes);
  dictionary.min_weight = entries.min_weight;
  dictionary.single_rune_weights = SingleRuneWeights(dictionary.trie, dictionary.min_weight);
  dictionary.user_single_runes = std::move(entries.user_single_runes);
  return dictionary;
}

}  // namespace orvel::tokenizer::jieba
