#pragma once

#include <string_view>
#include <vector>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/word_span.h"

namespace orvel::tokenizer::jieba {

enum class CutMode {
  kMixed,   // dictionary words, unknown words found by the HMM
  kSearch,  // the mixed words, each preceded by its in-dictionary 2- and 3-rune sub-words
};

// The cutting engine over loaded data. Immutable; every call keeps its scratch on its own
// stack frame, so one instance serves any number of threads.
class Segmenter {
 public:
  Segmenter(Dictionary dictionary, HmmModel model);

  // Replaces `words` with the byte spans of the words of `sentence`. Returns false, leaving
  // `words` empty, when the sentence is not decodable.
  bool Cut(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words) const;

  const Dictionary& dictionary() const { return dictionary_; }

 private:
  const Dictionary dictionary_;
  const HmmModel model_;
};

}  // namespace orvel::tokenizer::jieba
