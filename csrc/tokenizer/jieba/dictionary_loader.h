#pragma once

#include <string>
#include <vector>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/dictionary_trie.h"
#include "tokenizer/jieba/word_tags.h"

namespace orvel::tokenizer::jieba {

// The parsed dictionary files, before indexing.
struct DictionaryEntries {
  WordEntries words;  // main entries, then user entries, in precedence order
  WordTags tags;      // parallel to `words`; run-time tagging and changes need them
  double min_weight = 0.0;
  // Run-time insertions weigh words against the main dictionary like user entries do.
  double frequency_sum = 0.0;
  double median_weight = 0.0;
  std::vector<Rune> user_single_runes;  // sorted, unique
};

// Reads the main dictionary ("word frequency tag" lines), then each user dictionary named in
// `user_dict_paths` (paths separated by '|' or ';'; empty fields and an empty string mean none).
// Throws FileOpenError or DataFormatError.
DictionaryEntries ReadDictionaryEntries(const std::string& main_path,
                                        const std::string& user_dict_paths);

// Indexes the entries for cutting; user entries override main entries with the same runes,
// later ones override earlier ones. Consumes `entries`.
Dictionary BuildDictionary(DictionaryEntries entries);

}  // namespace orvel::tokenizer::jieba
