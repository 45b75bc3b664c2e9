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

// A run-time entry: a word inserted with its weight and tag, or a deletion (present = false).
struct RuntimeEntry {
  bool present = true;
  double weight = 0.0;
  std::string tag;
};

// Run-time changes not yet merged into the trie, as a small tree of rune sequences. Copied and
// changed for every change, so a published overlay never changes under a reader. Held in a few
// flat arrays rather than a node per heap block: a copy, and freeing the overlay it replaces
// (which often falls to a cutting thread holding the last reference), then costs a handful of
// allocations instead of one per word, which would slow cutting while words are added.
class DictionaryOverlay {
 public:
  DictionaryOverlay() : node_entries_(1, kNoEntry), word_starts_(1, 0) {}

  void Set(const Rune* runes, std::size_t length, RuntimeEntry entry);

  // The change recorded for exactly runes[0..length), or null when the overlay has none.
  const RuntimeEntry* Find(const Rune* runes, std::size_t length) const;

  // Whether any change concerns a word starting with `rune`: the test cutting makes at every
  // position, so runes of the Basic Multilingual Plane answer from a bitset.
  bool MayStartWith(Rune rune) const {
    if (rune < kFirstRuneBits) return (first_runes_[rune / 64] >> (rune % 64)) & 1;
    return FindChild(kRoot, rune) != kNoNode;
  }

  // Calls f(length, entry) for every change of a word runes[0..length), length <= available,
  // by increasing length.
  template <typename F>
  void ForEachPrefix(const Rune* runes, std::size_t available, F f) const {
    std::uint32_t node = kRoot;
    for (std::size_t length = 1; length <= available; ++length) {
      node = FindChild(node, runes[length - 1]);
      if (node == kNoNode) return;
      if (node_entries_[node] != kNoEntry) f(length, entries_[node_entries_[node]]);
    }
  }

  std::size_t size() const { return entries_.size(); }
  // The runes of the word of entries()[i].
  const Rune* WordRunes(std::size_t i) const { return word_runes_.data() + word_starts_[i]; }
  std::size_t WordLength(std::size_t i) const { return word_starts_[i + 1] - word_starts_[i]; }
  const std::vector<RuntimeEntry>& entries() const { return entries_; }

 private:
  static constexpr std::uint32_t kRoot = 0;
  static constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;
  static constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
  static constexpr Rune kFirstRuneBits = 0x10000;
  struct Edge {
    std::uint32_t parent;
    Rune rune;
    std::uint32_t child;
  };
  // The edges sorted by (parent, rune): a child is found by binary search.
  std::vector<Edge>::const_iterator LowerBound(std::uint32_t parent, Rune rune) const;
  std::uint32_t FindChild(std::uint32_t parent, Rune rune) const;

  std::vector<Edge> edges_;
  std::vector<std::uint32_t> node_entries_;  // per node: its entry, or kNoEntry; node 0 is the root
  std::vector<std::uint64_t> first_runes_ = std::vector<std::uint64_t>(kFirstRuneBits / 64);
  std::vector<Rune> word_runes_;            // every entry's word, back to back
  std::vector<std::uint32_t> word_starts_;  // entry i's word is [word_starts_[i], [i + 1])
  std::vector<RuntimeEntry> entries_;
};

// Whether any change of `overlay` may concern a word of `sentence` (true too when the sentence
// does not decode): a sentence it cannot touch is cut exactly as by the trie alone.
bool OverlayMayTouch(const DictionaryOverlay& overlay, std::string_view sentence);

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
  // is slower than through the trie, and copying it for each change grows with its size. But a
  // merge rebuilds the whole trie (about 0.13 s of one core, and its writes push the tables of
  // threads cutting meanwhile out of the caches), so it is kept rare: at 1024, adding 10,000
  // words one by one took 1.3 s and cutting meanwhile ran at 0.4x; at 8192, 0.6 s and 0.8x
  // (benchmarks/analyzer_engine_bench.cpp). A flat overlay of 8192 words copies in ~0.1 ms.
  static constexpr std::size_t kDefaultMergeThreshold = 8192;

  RuntimeDictionary(DictionaryEntries entries, HmmModel model,
                    std::size_t merge_threshold = kDefaultMergeThreshold);
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

  std::size_t merge_threshold_;
  double frequency_sum_;
  double median_weight_;
  mutable std::mutex write_mutex_;
  std::vector<DictionaryChange> log_;                  // guarded by write_mutex_
  std::shared_ptr<const DictionarySnapshot> current_;  // atomic access only
};

}  // namespace orvel::tokenizer::jieba
