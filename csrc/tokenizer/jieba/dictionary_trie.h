#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tokenizer/jieba/huge_page_allocator.h"
#include "tokenizer/jieba/prefetch.h"
#include "tokenizer/jieba/rune_map.h"
#include "tokenizer/jieba/utf8_decoder.h"
#include "tokenizer/jieba/word_entries.h"

namespace orvel::tokenizer::jieba {

// Read-only prefix tree over rune sequences, stored as a double array: runes are first mapped
// to dense codes (frequent runes get small ones), and the child of node s for code c is the
// slot base(s) + c if that slot records s as its parent. A step is one array access, and each
// slot also carries a signature of its node's children and the word's weight id, so a
// dictionary walk touches one slot per rune and skips most missing edges without touching any.
class DictionaryTrie {
 public:
  using Node = std::uint32_t;
  using Code = std::uint32_t;
  // Code of runes that occur in no dictionary word; it has no transitions.
  static constexpr Code kNoCode = 0;
  // Children are never the root, so its slot doubles as "not found".
  static constexpr Node kRoot = 0;
  static constexpr Node kNotFound = 0;

  DictionaryTrie() = default;
  // Words longer than `max_word_runes` are left out: the cutter never matches them.
  DictionaryTrie(const WordEntries& words, std::size_t max_word_runes);

  Code CodeOf(Rune rune) const { return codes_.Find(rune); }
  // The codes of all runes below RuneMap::kFlatSize by rune, or null (see RuneMap::flat_table).
  const Code* FlatCodes() const { return codes_.flat_table(); }

  // The child of `node` along `code`, or kNotFound. kNoCode always gives kNotFound: no child
  // sits at offset 0 from its parent's base. The node's child signature answers most misses
  // first: on unseen text most walks end on a missing edge, and the signature sits in the
  // node's own slot, which the step that reached the node has just loaded, where the child's
  // slot would be a cache miss.
  Node Child(Node node, Code code) const {
    const Slot& slot = slots_[node];
    if ((slot.child_signature >> (code & kSignatureMask) & 1) == 0) return kNotFound;
    const Node child = slot.base + code;
    return slots_[child].parent == node ? child : kNotFound;
  }

  // Child(kRoot, code) without the signature test, which the root, parent of almost every
  // rune, nearly always passes. The root's base is 0, so the child's slot is the code's.
  Node RootChild(Code code) const { return slots_[code].parent == kRoot ? code : kNotFound; }

  // Child() without the signature test, for a step whose slot has been requested ahead
  // (PrefetchSecondStep): the test would only spare a load that is already on its way, at the
  // price of a branch that is hard to predict.
  Node ChildOfPrefetched(Node node, Code code) const {
    const Node child = slots_[node].base + code;
    return slots_[child].parent == node ? child : kNotFound;
  }

  // Starts loading the slot that the second step of a walk over runes with codes (first,
  // second) reads. Its address comes from the first step's slot, which is always in cache, so
  // many walks can be requested ahead without waiting for any load. Where no word starts with
  // `first`, it requests some other slot of the array, which does no harm.
  void PrefetchSecondStep(Code first, Code second) const {
    // RootChild(first) would be `first` where a word starts with it.
    PrefetchLine(&slots_[slots_[first].base + second]);
  }

  bool IsWord(Node node) const { return slots_[node].weight_id != kNoWeight; }
  // Weights are kept once per distinct value (a dictionary has a few thousand), so that a slot
  // has room for the child signature and stays 16 bytes.
  double Weight(Node node) const { return weights_[slots_[node].weight_id]; }

  // Whether the runes with codes[0..count) (count >= 1) form exactly a dictionary word.
  bool Contains(const Code* codes, std::size_t count) const {
    return WordNode(codes, count) != kNotFound;
  }
  // The node of that word, or kNotFound when they do not form one.
  Node WordNode(const Code* codes, std::size_t count) const;

  // One past the largest node: tables indexed by node (the tags of run-time dictionaries) take
  // this size.
  std::size_t slot_count() const { return slots_.size(); }
  // Number of distinct words, i.e. of nodes for which IsWord holds.
  std::size_t word_count() const { return word_count_; }
  // One past the largest code: tables indexed by code take this size.
  std::size_t code_count() const { return runes_by_code_.size(); }

  // Calls f(node, runes, length) for every word, in node order. The trie holds each word once
  // with the weight that took precedence, so a rebuild can start from it instead of keeping
  // the entry list it was built from (as large again as the trie).
  template <typename F>
  void ForEachWord(F f) const {
    std::vector<Rune> runes;
    for (Node node = kRoot + 1; node < slots_.size(); ++node) {
      if (!IsWord(node)) continue;
      WordRunes(node, runes);
      f(node, runes.data(), runes.size());
    }
  }

 private:
  // The weight id of slots where no word ends. Marking words by their weight id rather than by
  // a bit of the base spares every step the masking of the base.
  static constexpr std::uint32_t kNoWeight = 0;
  static constexpr Node kFree = 0xFFFFFFFFu;

  // A node's child signature has bit (code & kSignatureMask) set for the code of each of its
  // children.
  static constexpr Code kSignatureMask = 31;

  struct Slot {
    std::uint32_t base = 0;               // children's offset
    Node parent = kFree;                  // kFree for unused slots and the root
    std::uint32_t child_signature = 0;    // see kSignatureMask
    std::uint32_t weight_id = kNoWeight;  // index of the word's weight in weights_
  };

  using SlotArray = std::vector<Slot, HugePageAllocator<Slot>>;

  // Sets the child signatures of all nodes from the parents of the slots in use.
  void BuildChildSignatures();

  // Replaces `runes` with the runes of the path from the root to `node`, which must be in use.
  void WordRunes(Node node, std::vector<Rune>& runes) const;

  static SlotArray BuildSlots(const WordEntries& words,
                              const std::vector<std::uint32_t>& sorted_ids, const RuneMap& codes,
                              Code max_code, std::vector<double>& weights);

  SlotArray slots_;
  RuneMap codes_;
  std::vector<Rune> runes_by_code_;  // the inverse of codes_; index kNoCode is unused
  std::size_t word_count_ = 0;
  // Distinct word weights; index kNoWeight (0.0) is the weight id of slots that hold no word.
  std::vector<double> weights_{0.0};
};

}  // namespace orvel::tokenizer::jieba
