#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/dictionary_overlay.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/narrow_id_array.h"
#include "tokenizer/jieba/segmenter.h"
#include "tokenizer/jieba/utf8_decoder.h"
#include "tokenizer/jieba/word_entries.h"
#include "tokenizer/jieba/word_tags.h"

namespace orvel::tokenizer::jieba {

// What a trie leaves out of the entries it was built from: their tags, and the words longer
// than the cutter matches. With the trie, this gives back every word, with the weight and tag
// that took precedence, for a rebuild; the entry list itself (as large again as the trie) is
// not kept.
class EntryTable {
 public:
  // `trie` must be built from `words`; it is only read here, and so are `words` and `tags`.
  EntryTable(const WordEntries& words, const WordTags& tags, const DictionaryTrie& trie);

  // Whether runes[0..length) has an entry, and its tag id (TagName) when it has.
  bool Find(const DictionaryTrie& trie, const Rune* runes, std::size_t length,
            std::uint32_t& tag_id) const;
  // The same for a word whose trie node is already known (kNotFound when it is not in the trie).
  bool FindNode(const DictionaryTrie& trie, DictionaryTrie::Node node,
                std::uint32_t& tag_id) const {
    if (node == DictionaryTrie::kNotFound || !trie.IsWord(node)) return false;
    tag_id = node_tags_.Get(node);
    return true;
  }

  const std::string& TagName(std::uint32_t tag_id) const { return tag_names_[tag_id]; }

  // Calls f(runes, length, weight, tag) once for each word of the trie and this table, with
  // the weight and tag of the entry that takes precedence (long words: every entry, in list
  // order, so the later of equal ones still comes last).
  template <typename F>
  void ForEachEntry(const DictionaryTrie& trie, F f) const {
    trie.ForEachWord([&](DictionaryTrie::Node node, const Rune* runes, std::size_t length) {
      f(runes, length, trie.Weight(node), tag_names_[node_tags_.Get(node)]);
    });
    for (std::size_t id = 0; id < long_words_.size(); ++id) {
      f(long_words_.Runes(id), long_words_.Length(id), long_words_.Weight(id),
        tag_names_[long_word_tags_[id]]);
    }
  }

 private:
  std::vector<std::string> tag_names_;  // by id; id 0 is the empty tag
  // Tag id of the counting entry of each trie slot, so that a word found by a trie walk has
  // its tag in one more load.
  NarrowIdArray node_tags_;
  // Entries the trie leaves out (longer than kMaxWordRunes), in list order, with their tags.
  WordEntries long_words_;
  std::vector<std::uint32_t> long_word_tags_;
};

// Everything a call reads from the dictionary, fixed for the whole call: a call keeps its
// snapshot alive and never sees a change that is published while it runs.
struct DictionarySnapshot {
  std::shared_ptr<const Segmenter> segmenter;  // trie, single-rune set, HMM
  std::shared_ptr<const EntryTable> table;     // the entries of that trie
  // Changes since the trie was built; null when there are none, so that cutting then takes
  // the plain path with no run-time check at all.
  std::shared_ptr<const DictionaryOverlay> overlay;

  // Whether runes[0..length) (length >= 1) is a dictionary word, of any weight.
  bool HasEntry(const Rune* runes, std::size_t length) const;
  // The tag of the entry of runes[0..length), or null when there is no entry. `codes` are the
  // runes' trie codes when the caller has them, else null.
  const std::string* EntryTag(const Rune* runes, const DictionaryTrie::Code* codes,
                              std::size_t length) const;
};

// One applied run-time change, as add_word or del_word received it. Replaying a log of these
// on a Jieba built from the same files gives the same dictionary.
struct DictionaryChange {
  enum class Op { kAdd, kDelete };
  Op op = Op::kAdd;
  std::string word;
  std::optional<std::int32_t> frequency;  // kAdd only; none = the median weight
  std::string tag;                        // kAdd only
};

// The dictionary behind a Jieba, with run-time insertions and deletions. Readers take the
// current snapshot with one atomic load; a change builds a new snapshot aside and publishes it
// atomically, so readers never wait for a writer and never see half a change. Changes are
// serialised among themselves.
class RuntimeDictionary {
 public:
  // Overlays bigger than this are merged into a new trie: cutting a sentence an overlay touches
  // is slower than through the trie, and folding the overlay's recent changes into its base
  // grows with its size. But a merge rebuilds the whole trie (about 0.13 s of one core, and its
  // writes push the tables of threads cutting meanwhile out of the caches), so it is kept rare:
  // with a flat overlay copied whole at every change, at 1024 adding 10,000 words one by one
  // took 1.3 s and cutting meanwhile ran at 0.4x; at 8192, 0.6 s and 0.8x
  // (benchmarks/analyzer_engine_bench.cpp).
  static constexpr std::size_t kDefaultMergeThreshold = 8192;

  // `recent_limit`: see DictionaryOverlay.
  RuntimeDictionary(DictionaryEntries entries, HmmModel model,
                    std::size_t merge_threshold = kDefaultMergeThreshold,
                    std::size_t recent_limit = DictionaryOverlay::kRecentLimit);
  // A dictionary that starts as `other` is now and changes on its own from then on. Snapshots
  // are immutable, so the two share the current one until either changes.
  RuntimeDictionary(const RuntimeDictionary& other);
  RuntimeDictionary& operator=(const RuntimeDictionary&) = delete;

  std::shared_ptr<const DictionarySnapshot> Current() const { return std::atomic_load(&current_); }

  // Apply changes in order and publish the result once; words that are not decodable are
  // skipped (nothing to change) and an empty word changes nothing. A negative frequency throws
  // std::invalid_argument before anything changes. Returns, per change, whether the word was
  // decodable (the reference's result of insert and delete).
  std::vector<bool> Apply(const std::vector<DictionaryChange>& changes);

  // The applied changes, oldest first.
  std::vector<DictionaryChange> Changes() const;

  // Weight of an inserted word: ln(frequency / frequency sum), the median weight when the
  // frequency is absent or 0.
  double InsertedWeight(std::optional<std::int32_t> frequency) const;

 private:
  std::shared_ptr<const DictionarySnapshot> Merge(const DictionarySnapshot& from) const;
  void Retire(std::shared_ptr<const DictionarySnapshot> replaced);

  static constexpr std::size_t kMaxRetired = 16;

  std::size_t merge_threshold_;
  std::size_t recent_limit_;
  double frequency_sum_;
  double median_weight_;
  mutable std::mutex write_mutex_;
  std::vector<DictionaryChange> log_;  // guarded by write_mutex_
  // Replaced snapshots that a call may still hold, freed by Apply once it holds the last
  // reference (see Retire); guarded by write_mutex_.
  std::vector<std::shared_ptr<const DictionarySnapshot>> retired_;
  // Stored only atomically, under write_mutex_; read atomically, except by the writer holding
  // write_mutex_.
  std::shared_ptr<const DictionarySnapshot> current_;
};

}  // namespace orvel::tokenizer::jieba
