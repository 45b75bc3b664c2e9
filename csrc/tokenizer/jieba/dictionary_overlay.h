#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tokenizer/jieba/rune_set.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// A run-time entry: a word inserted with its weight and tag, or a deletion (present = false).
struct RuntimeEntry {
  bool present = true;
  double weight = 0.0;
  std::string tag;
};

// Run-time entries as a small tree of rune sequences, held in a few flat arrays rather than a
// node per heap block: a copy, and freeing one (which may fall to a cutting thread holding the
// last reference), then costs a handful of allocations instead of one per word.
class OverlayLevel {
 public:
  static constexpr std::uint32_t kRoot = 0;
  static constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;

  OverlayLevel() : node_entries_(1, kNoEntry), word_starts_(1, 0) {}
  // A copy is made to take a change, so it keeps room for one more word of a few runes
  // rather than moving every array once more at the change.
  OverlayLevel(const OverlayLevel& other);
  OverlayLevel(OverlayLevel&&) = default;
  OverlayLevel& operator=(const OverlayLevel&) = default;
  OverlayLevel& operator=(OverlayLevel&&) = default;

  // Adds or replaces the entry of runes[0..length). Moves edges along, so it is for small
  // levels; large ones are made at once by Union.
  void Set(const Rune* runes, std::size_t length, RuntimeEntry entry);

  // A level with every entry of `newer` and the entries of `older` whose words `newer` has
  // none for, its entries in increasing rune order. Linear in the size of `older` when its
  // entries are in that order already, as they are in every level made by Union.
  static OverlayLevel Union(const OverlayLevel& older, const OverlayLevel& newer);

  // The entry of exactly runes[0..length), or null.
  const RuntimeEntry* Find(const Rune* runes, std::size_t length) const;

  // Walking the tree one rune at a time: the child of `node` by `rune`, or kNoNode; the entry
  // of the word that ends at `node`, or null.
  std::uint32_t Child(std::uint32_t node, Rune rune) const;
  const RuntimeEntry* EntryAt(std::uint32_t node) const {
    return node_entries_[node] == kNoEntry ? nullptr : &entries_[node_entries_[node]];
  }

  std::size_t size() const { return entries_.size(); }
  // The word of entries()[i].
  const Rune* WordRunes(std::size_t i) const { return word_runes_.data() + word_starts_[i]; }
  std::size_t WordLength(std::size_t i) const { return word_starts_[i + 1] - word_starts_[i]; }
  const std::vector<RuntimeEntry>& entries() const { return entries_; }

 private:
  static constexpr std::uint32_t kNoEntry = 0xFFFFFFFFu;
  struct Edge {
    std::uint32_t parent;
    Rune rune;
    std::uint32_t child;
  };
  // The edges sorted by (parent, rune): a child is found by binary search.
  std::vector<Edge>::const_iterator LowerBound(std::uint32_t parent, Rune rune) const;
  std::uint32_t AddNode();
  void AddEntry(std::uint32_t node, const Rune* runes, std::size_t length, RuntimeEntry entry);

  std::vector<Edge> edges_;
  std::vector<std::uint32_t> node_entries_;  // per node: its entry, or kNoEntry; node 0 is the root
  std::vector<Rune> word_runes_;             // every entry's word, back to back
  std::vector<std::uint32_t> word_starts_;   // entry i's word is [word_starts_[i], [i + 1])
  std::vector<RuntimeEntry> entries_;
};

// Run-time changes not yet merged into the trie. Copied and changed for every change, so a
// published overlay never changes under a reader. A change copies only what is recent: the
// overlay is a shared, never-changed base level under a small recent level whose entries take
// precedence, and the recent level is folded into a new base once it holds kRecentLimit words.
// A change then copies at most a few hundred words, and every kRecentLimit changes one
// rebuild of the base costs what a copy of the whole overlay did at every change; freeing the
// overlay a change replaces (which often falls to a thread still cutting with it) shrinks alike.
class DictionaryOverlay {
 public:
  // A change copies up to this many words; a fold every so many changes copies all of them.
  static constexpr std::size_t kRecentLimit = 256;

  explicit DictionaryOverlay(std::size_t recent_limit = kRecentLimit)
      : recent_limit_(recent_limit), first_runes_(new RuneSet()) {}

  void Set(const Rune* runes, std::size_t length, RuntimeEntry entry);

  // The change recorded for exactly runes[0..length), or null when the overlay has none.
  const RuntimeEntry* Find(const Rune* runes, std::size_t length) const {
    if (const RuntimeEntry* entry = recent_.Find(runes, length)) return entry;
    return base_ ? base_->Find(runes, length) : nullptr;
  }

  // The first runes of every word the overlay has a change for: a sentence holding none of
  // them is cut exactly as by the trie alone.
  const RuneSet& first_runes() const { return *first_runes_; }
  bool MayStartWith(Rune rune) const { return first_runes_->Contains(rune); }

  // Calls f(length, entry) for every change of a word runes[0..length), length <= available,
  // by increasing length.
  template <typename F>
  void ForEachPrefix(const Rune* runes, std::size_t available, F f) const {
    std::uint32_t base_node = base_ ? OverlayLevel::kRoot : OverlayLevel::kNoNode;
    std::uint32_t recent_node = OverlayLevel::kRoot;
    for (std::size_t length = 1; length <= available; ++length) {
      if (base_node != OverlayLevel::kNoNode) {
        base_node = base_->Child(base_node, runes[length - 1]);
      }
      if (recent_node != OverlayLevel::kNoNode) {
        recent_node = recent_.Child(recent_node, runes[length - 1]);
      }
      if (base_node == OverlayLevel::kNoNode && recent_node == OverlayLevel::kNoNode) return;
      const RuntimeEntry* entry =
          recent_node != OverlayLevel::kNoNode ? recent_.EntryAt(recent_node) : nullptr;
      if (entry == nullptr && base_node != OverlayLevel::kNoNode) entry = base_->EntryAt(base_node);
      if (entry != nullptr) f(length, *entry);
    }
  }

  // Calls f(runes, length, entry) once for every word the overlay has a change for, with the
  // change that took precedence.
  template <typename F>
  void ForEachEntry(F f) const {
    if (base_) {
      for (std::size_t i = 0; i < base_->size(); ++i) {
        const Rune* runes = base_->WordRunes(i);
        const std::size_t length = base_->WordLength(i);
        if (recent_.Find(runes, length) == nullptr) f(runes, length, base_->entries()[i]);
      }
    }
    for (std::size_t i = 0; i < recent_.size(); ++i) {
      f(recent_.WordRunes(i), recent_.WordLength(i), recent_.entries()[i]);
    }
  }

  // Words with a change.
  std::size_t size() const { return size_; }
  // Words in the recent level (for tests of the folding).
  std::size_t recent_size() const { return recent_.size(); }

 private:
  std::size_t recent_limit_;
  std::shared_ptr<const OverlayLevel> base_;  // null until the first fold
  OverlayLevel recent_;
  // Shared by the copies until a change brings a new first rune, which few do once words
  // have been added for a while: every cut with pending words tests its runes against it, so
  // a thread cutting while another adds words then keeps finding it in its own cache rather
  // than fetching a fresh copy from the writer's after every change.
  std::shared_ptr<const RuneSet> first_runes_;
  std::size_t size_ = 0;
};

}  // namespace orvel::tokenizer::jieba
