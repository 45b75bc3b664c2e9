#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/rune_set.h"
#include "tokenizer/jieba/word_span.h"

namespace orvel::tokenizer::jieba {

enum class CutMode {
  kMixed,   // dictionary words, unknown words found by the HMM
  kSearch,  // the mixed words, each preceded by its in-dictionary 2- and 3-rune sub-words
};

// How a cut that may decline its sentence ended.
enum class CutStatus { kDone, kUndecodable, kDeclined };

// The cutting engine over loaded data. Immutable; every call keeps its working memory to
// itself, so one instance serves any number of threads.
class Segmenter {
 public:
  Segmenter(Dictionary dictionary, HmmModel model);

  // Replaces `words` with the words of `sentence`, as byte spans or as copies. Returns false,
  // leaving `words` empty, when the sentence is not decodable.
  bool Cut(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words) const;
  bool Cut(std::string_view sentence, CutMode mode, std::vector<std::string>& words) const;

  // The same, except that a sentence holding any rune of `declined` is not cut: kDeclined,
  // `words` left empty, for the caller to cut it another way. The test rides on the pass that
  // looks up every rune's trie code anyway, so it costs no decoding of its own.
  CutStatus CutUnless(const RuneSet& declined, std::string_view sentence, CutMode mode,
                      std::vector<WordSpan>& words) const;
  CutStatus CutUnless(const RuneSet& declined, std::string_view sentence, CutMode mode,
                      std::vector<std::string>& words) const;

  // Cut() that also gives each word's trie node in `nodes` (parallel to `words`): the node
  // whose path spells the word, or DictionaryTrie::kNotFound when the cut did not meet the word
  // in the trie (a word the HMM joined from several runes, a rune no dictionary word holds).
  // A node thus stands for one sequence of runes, and callers that count words can key on it
  // instead of hashing the word's bytes. Nodes are numbers of this segmenter's trie, all below
  // dictionary().trie.slot_count().
  bool CutWithNodes(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words,
                    std::vector<DictionaryTrie::Node>& nodes) const;

  // The data it cuts with, for the analyzer stages that share it.
  const Dictionary& dictionary() const { return dictionary_; }
  const HmmModel& model() const { return model_; }

 private:
  template <typename Sink>
  CutStatus CutInto(std::string_view sentence, CutMode mode, const RuneSet* declined,
                    Sink& sink) const;

  const Dictionary dictionary_;
  const HmmModel model_;
};

}  // namespace orvel::tokenizer::jieba
