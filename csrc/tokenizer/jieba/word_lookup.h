#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/runtime_dictionary.h"

namespace orvel::tokenizer::jieba {

// Dictionary words of one decoded sentence as a snapshot defines them: the trie's words with
// the run-time changes laid over them. Without changes it is a plain trie walk.
class WordLookup {
 public:
  WordLookup(const DictionarySnapshot& snapshot, const Rune* runes,
             const DictionaryTrie::Code* codes)
      : trie_(snapshot.segmenter->dictionary().trie),
        overlay_(snapshot.overlay.get()),
        runes_(runes),
        codes_(codes) {}

  bool has_overlay() const { return overlay_ != nullptr; }

  // Whether a run-time change may concern a word starting in runes[begin..end): ranges where
  // none can are cut by the plain trie path.
  bool OverlayTouches(std::size_t begin, std::size_t end) const {
    if (overlay_ == nullptr) return false;
    for (std::size_t i = begin; i < end; ++i) {
      if (overlay_->MayStartWith(runes_[i])) return true;
    }
    return false;
  }

  // Calls f(length, weight) for every dictionary word runes[begin..begin + length) with
  // begin + length <= end and length <= kMaxWordRunes, by increasing length.
  template <typename F>
  void ForEachWord(std::size_t begin, std::size_t end, F f) const {
    if (overlay_ == nullptr || !overlay_->MayStartWith(runes_[begin])) {
      ForEachTrieWord(begin, end, f);
      return;
    }
    // A change replaces the trie's entry of the same length (or removes it, for a deletion).
    std::vector<std::pair<std::size_t, const RuntimeEntry*>> changed;
    overlay_->ForEachPrefix(runes_ + begin, std::min(end - begin, kMaxWordRunes),
                            [&](std::size_t length, const RuntimeEntry& entry) {
                              changed.emplace_back(length, &entry);
                            });
    std::size_t next = 0;
    const auto flush_below = [&](std::size_t length) {
      for (; next < changed.size() && changed[next].first < length; ++next) {
        if (changed[next].second->present) f(changed[next].first, changed[next].second->weight);
      }
    };
    ForEachTrieWord(begin, end, [&](std::size_t length, double weight) {
      flush_below(length);
      if (next < changed.size() && changed[next].first == length) return;  // overridden
      f(length, weight);
    });
    flush_below(kMaxWordRunes + 1);
  }

  // Whether runes[begin..begin + length) is a dictionary word.
  bool Contains(std::size_t begin, std::size_t length) const {
    if (overlay_ != nullptr) {
      if (const RuntimeEntry* entry = overlay_->Find(runes_ + begin, length)) {
        return entry->present;
      }
    }
    return trie_.Contains(codes_ + begin, length);
  }

 private:
  template <typename F>
  void ForEachTrieWord(std::size_t begin, std::size_t end, F&& f) const {
    // The trie holds no word longer than kMaxWordRunes, so the walk needs no length cap.
    DictionaryTrie::Node node = DictionaryTrie::kRoot;
    for (std::size_t i = begin; i < end; ++i) {
      node = trie_.Child(node, codes_[i]);
      if (node == DictionaryTrie::kNotFound) return;
      if (trie_.IsWord(node)) f(i + 1 - begin, trie_.Weight(node));
    }
  }

  const DictionaryTrie& trie_;
  const DictionaryOverlay* overlay_;
  const Rune* runes_;
  const DictionaryTrie::Code* codes_;
};

}  // namespace orvel::tokenizer::jieba
