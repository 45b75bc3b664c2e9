#include "tokenizer/jieba/dictionary_trie.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "tokenizer/jieba/slot_allocator.h"

namespace orvel::tokenizer::jieba {
namespace {

// Word ids ordered by their rune sequence, equal sequences by id, so that the last id of a run
// of equal words is the one that takes precedence.
std::vector<std::uint32_t> SortedWordIds(const WordEntries& words, std::size_t max_word_runes) {
  std::vector<std::uint32_t> ids;
  ids.reserve(words.size());
  for (std::size_t word = 0; word < words.size(); ++word) {
    const std::size_t length = words.Length(word);
    if (length >= 1 && length <= max_word_runes) ids.push_back(static_cast<std::uint32_t>(word));
  }
  // Sorting by the first three runes packed into one integer settles almost every comparison
  // without touching the rune arrays; only equal keys compare the full words. Absent runes
  // count as 0, which keeps the key order consistent with the full order.
  struct Keyed {
    std::uint64_t key;
    std::uint32_t id;
  };
  std::vector<Keyed> keyed(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const Rune* runes = words.Runes(ids[i]);
    const std::size_t length = words.Length(ids[i]);
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 3; ++k) key = key << 21 | (k < length ? runes[k] : 0);
    keyed[i] = {key, ids[i]};
  }
  std::sort(keyed.begin(), keyed.end(), [&words](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    const Rune* ra = words.Runes(a.id);
    const Rune* rb = words.Runes(b.id);
    const std::size_t la = words.Length(a.id);
    const std::size_t lb = words.Length(b.id);
    const std::size_t common = std::min(la, lb);
    for (std::size_t i = 0; i < common; ++i) {
      if (ra[i] != rb[i]) return ra[i] < rb[i];
    }
    return la != lb ? la < lb : a.id < b.id;
  });
  for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = keyed[i].id;
  return ids;
}

std::uint64_t WeightBits(double weight) {
  std::uint64_t bits;
  std::memcpy(&bits, &weight, sizeof bits);
  return bits;
}

// Number of trie nodes (distinct prefixes, the empty one included) of the sorted ids, to size
// the slot array once.
std::size_t CountNodes(const WordEntries& words, const std::vector<std::uint32_t>& ids) {
  std::size_t nodes = 1;
  std::size_t previous_length = 0;
  const Rune* previous = nullptr;
  for (const std::uint32_t id : ids) {
    const std::size_t length = words.Length(id);
    const Rune* runes = words.Runes(id);
    std::size_t shared = 0;
    const std::size_t limit = std::min(length, previous_length);
    while (shared < limit && runes[shared] == previous[shared]) ++shared;
    nodes += length - shared;
    previous = runes;
    previous_length = length;
  }
  return nodes;
}

// Codes 1, 2, ... by decreasing number of occurrences in the words, so the many children of
// common prefixes have close codes and pack densely.
std::vector<std::pair<Rune, std::uint32_t>> RuneCodes(const WordEntries& words,
                                                      const std::vector<std::uint32_t>& ids) {
  constexpr Rune kFlat = 0x10000;
  std::vector<std::uint32_t> flat_counts(kFlat, 0);
  std::map<Rune, std::uint32_t> high_counts;
  for (const std::uint32_t id : ids) {
    const Rune* runes = words.Runes(id);
    for (std::size_t i = 0; i < words.Length(id); ++i) {
      if (runes[i] < kFlat) {
        ++flat_counts[runes[i]];
      } else {
        ++high_counts[runes[i]];
      }
    }
  }
  std::vector<std::pair<std::uint32_t, Rune>> by_count;  // (count, rune)
  for (Rune rune = 0; rune < kFlat; ++rune) {
    if (flat_counts[rune] != 0) by_count.emplace_back(flat_counts[rune], rune);
  }
  for (const auto& [rune, count] : high_counts) by_count.emplace_back(count, rune);
  std::sort(by_count.begin(), by_count.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  std::vector<std::pair<Rune, std::uint32_t>> codes;
  codes.reserve(by_count.size());
  for (std::size_t i = 0; i < by_count.size(); ++i) {
    codes.emplace_back(by_count[i].second, static_cast<std::uint32_t>(i + 1));
  }
  return codes;
}

}  // namespace

DictionaryTrie::DictionaryTrie(const WordEntries& words, std::size_t max_word_runes) {
  std::vector<std::pair<Rune, Code>> codes;
  {
    const std::vector<std::uint32_t> ids = SortedWordIds(words, max_word_runes);
    codes = RuneCodes(words, ids);
    slots_ = BuildSlots(words, ids, RuneMap(codes), static_cast<Code>(codes.size()), weights_);
  }
  // Made once the build's temporaries are gone, so that this long-lived table does not end up
  // above them in the heap and keep their freed memory from returning to the system.
  runes_by_code_.assign(codes.size() + 1, 0);
  for (const auto& [rune, code] : codes) runes_by_code_[code] = rune;
  codes_ = RuneMap(std::move(codes));
  for (const Slot& slot : slots_) word_count_ += slot.weight_id != kNoWeight;
  BuildChildSignatures();
}

void DictionaryTrie::WordRunes(Node node, std::vector<Rune>& runes) const {
  runes.clear();
  // Each slot knows its parent, and its code is its offset from the parent's base.
  for (; node != kRoot; node = slots_[node].parent) {
    const Node parent = slots_[node].parent;
    runes.push_back(runes_by_code_[node - slots_[parent].base]);
  }
  std::reverse(runes.begin(), runes.end());
}

void DictionaryTrie::BuildChildSignatures() {
  for (Node child = 0; child < slots_.size(); ++child) {
    const Node parent = slots_[child].parent;
    if (parent == kFree) continue;
    const Code code = child - slots_[parent].base;
    slots_[parent].child_signature |= std::uint32_t{1} << (code & kSignatureMask);
  }
}

DictionaryTrie::SlotArray DictionaryTrie::BuildSlots(const WordEntries& words,
                                                     const std::vector<std::uint32_t>& ids,
                                                     const RuneMap& codes, Code max_code,
                                                     std::vector<double>& weights) {
  // First the plain tree, breadth first straight from the sorted ids: every node owns the
  // slice of ids that share its prefix, and its children are the groups of that slice with
  // equal next rune, numbered consecutively.
  const std::size_t node_count = CountNodes(words, ids);
  constexpr std::uint32_t kNoWord = 0xFFFFFFFFu;
  struct TreeNode {
    Code code;                  // of the edge from the parent
    std::uint32_t first_child;  // children are first_child .. next node's first_child
    std::uint32_t begin;        // slice of ids
    std::uint32_t end;
    std::uint32_t depth;
    std::uint32_t word;  // id of the entry that ends here, or kNoWord
    std::uint32_t base;  // double-array placement
    Node slot;
  };
  std::vector<TreeNode> tree;
  tree.reserve(node_count + 1);
  tree.push_back({kNoCode, 0, 0, static_cast<std::uint32_t>(ids.size()), 0, kNoWord, 0, kRoot});
  for (std::size_t node = 0; node < tree.size(); ++node) {
    const std::uint32_t depth = tree[node].depth;
    const std::uint32_t end = tree[node].end;
    std::uint32_t k = tree[node].begin;
    // Words ending here sort before longer ones; the last of them has precedence.
    while (k < end && words.Length(ids[k]) == depth) tree[node].word = ids[k++];
    tree[node].first_child = static_cast<std::uint32_t>(tree.size());
    while (k < end) {
      const Rune label = words.Runes(ids[k])[depth];
      std::uint32_t group_end = k + 1;
      while (group_end < end && words.Runes(ids[group_end])[depth] == label) ++group_end;
      tree.push_back({codes.Find(label), 0, k, group_end, depth + 1, kNoWord, 0, kRoot});
      k = group_end;
    }
  }
  // Sentinel so that every node's children end where the next node's begin.
  tree.push_back({kNoCode, static_cast<std::uint32_t>(tree.size()), 0, 0, 0, kNoWord, 0, kRoot});

  // Then the double array. Sibling sets are placed largest first (first-fit decreasing): wide
  // sets claim room while the array is still empty, small ones fill the gaps left between.
  std::vector<std::uint32_t> parents;
  for (std::uint32_t node = 0; node + 1 < tree.size(); ++node) {
    if (tree[node + 1].first_child > tree[node].first_child) parents.push_back(node);
  }
  const auto child_count = [&](std::uint32_t node) {
    return tree[node + 1].first_child - tree[node].first_child;
  };
  // The root's set goes first, at base 0, where the empty array has room for it (codes start at
  // 1, slot 0 is the root's): the root's children then sit at their codes, so a walk finds its
  // first node without reading the root's slot.
  std::stable_sort(parents.begin(), parents.end(), [&](std::uint32_t a, std::uint32_t b) {
    if ((a == kRoot) != (b == kRoot)) return a == kRoot;
    return child_count(a) > child_count(b);
  });
  SlotAllocator allocator;
  allocator.Take(kRoot);
  std::vector<std::uint32_t> child_codes;
  std::uint32_t max_base = 0;
  // Sets of one size come one after another; each starts searching where the previous one was
  // placed instead of rescanning the dense region before it, which sets of that size mostly
  // failed to fit. This trades a little density for a construction many times faster.
  std::uint32_t size_class = 0;
  std::uint32_t class_base = 0;
  std::uint32_t last_wide_base = 0;
  constexpr std::size_t kWideSet = 64;
  constexpr std::uint32_t kWideSetSearch = 1 << 14;
  // A set goes where its first child (the one with the most frequent rune) lands in the cache
  // line of its parent's slot, if that line has a free slot there and the other children fit:
  // a walk that reaches the parent has just loaded that line, so the step to the child does not
  // miss the cache. On unseen text the steps past the second rune were the DP's costliest
  // misses. The parent's slot is known once its own set has been placed, which is the rule
  // since sets are placed largest first and shrink with depth.
  std::vector<std::uint32_t> parent_of(tree.size(), kNoWord);
  for (std::uint32_t node = 0; node + 1 < tree.size(); ++node) {
    for (std::uint32_t child = tree[node].first_child; child < tree[node + 1].first_child;
         ++child) {
      parent_of[child] = node;
    }
  }
  std::vector<bool> placed(tree.size(), false);
  placed[kRoot] = true;
  constexpr std::uint32_t kSlotsPerLine = 64 / sizeof(Slot);
  const auto base_near_parent = [&](std::uint32_t node) {
    const std::uint32_t parent = parent_of[node];
    if (node == kRoot || !placed[parent]) return SlotAllocator::kUnlimited;
    const std::uint32_t slot = tree[parent].base + tree[node].code;
    const std::uint32_t line = slot - slot % kSlotsPerLine;
    for (std::uint32_t target = line; target < line + kSlotsPerLine; ++target) {
      if (target < child_codes.front() || !allocator.IsFree(target)) continue;
      const std::uint32_t base = target - child_codes.front();
      bool fits = true;
      for (std::size_t k = 1; k < child_codes.size() && fits; ++k) {
        fits = allocator.IsFree(base + child_codes[k]);
      }
      if (fits) return base;
    }
    return SlotAllocator::kUnlimited;
  };
  for (const std::uint32_t node : parents) {
    if (child_count(node) != size_class) {
      size_class = child_count(node);
      class_base = 0;
    }
    child_codes.clear();
    for (std::uint32_t child = tree[node].first_child; child < tree[node + 1].first_child;
         ++child) {
      child_codes.push_back(tree[child].code);
    }
    std::sort(child_codes.begin(), child_codes.end());
    // Wide sets rarely fit among earlier sets and are costly to test, so after a short
    // first-fit search they go on from where the previous wide set went.
    const bool wide = child_codes.size() >= kWideSet;
    std::uint32_t base = node == kRoot ? 0
                         : wide        ? SlotAllocator::kUnlimited
                                       : base_near_parent(node);
    if (base == SlotAllocator::kUnlimited) {
      base = wide ? allocator.FindBase(child_codes, last_wide_base, kWideSetSearch)
                  : allocator.FindBase(child_codes, class_base, SlotAllocator::kUnlimited);
      if (wide) last_wide_base = base;
      // Single children fit any free slot, so they keep filling gaps from the lowest one.
      if (size_class > 1) class_base = base;
    }
    placed[node] = true;
    for (const Code code : child_codes) allocator.Take(base + code);
    tree[node].base = base;
    max_base = std::max(max_base, base);
  }

  // Distinct weights by their bit patterns, which keeps every value exactly (NaN and -0.0
  // included) and orders them for the id lookups below; weights[0] stays the non-word 0.0.
  std::vector<std::uint64_t> weight_bits;
  for (const TreeNode& node : tree) {
    if (node.word != kNoWord) weight_bits.push_back(WeightBits(words.Weight(node.word)));
  }
  std::sort(weight_bits.begin(), weight_bits.end());
  weight_bits.erase(std::unique(weight_bits.begin(), weight_bits.end()), weight_bits.end());
  weights.resize(1 + weight_bits.size());
  for (std::size_t i = 0; i < weight_bits.size(); ++i) {
    std::memcpy(&weights[1 + i], &weight_bits[i], sizeof(double));
  }

  // Every base + code stays inside the array, so Child() needs no bounds check.
  SlotArray slots(std::size_t{max_base} + max_code + 1);
  for (std::uint32_t node = 0; node + 1 < tree.size(); ++node) {
    const TreeNode& from = tree[node];
    Slot& slot = slots[from.slot];
    slot.base = from.base;
    if (from.word != kNoWord) {
      const auto found = std::lower_bound(weight_bits.begin(), weight_bits.end(),
                                          WeightBits(words.Weight(from.word)));
      slot.weight_id = static_cast<std::uint32_t>(1 + (found - weight_bits.begin()));
    }
    for (std::uint32_t child = from.first_child; child < tree[node + 1].first_child; ++child) {
      tree[child].slot = from.base + tree[child].code;
      slots[tree[child].slot].parent = from.slot;
    }
  }
  return slots;
}

DictionaryTrie::Node DictionaryTrie::WordNode(const Code* codes, std::size_t count) const {
  if (count == 0) return IsWord(kRoot) ? kRoot : kNotFound;
  Node node = RootChild(codes[0]);
  for (std::size_t i = 1; i < count && node != kNotFound; ++i) node = Child(node, codes[i]);
  return node != kNotFound && IsWord(node) ? node : kNotFound;
}

}  // namespace orvel::tokenizer::jieba
