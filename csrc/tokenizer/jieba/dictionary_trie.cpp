#include "tokenizer/jieba/dictionary_trie.h"

#include <algorithm>
#include <utility>

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
  std::sort(ids.begin(), ids.end(), [&words](std::uint32_t a, std::uint32_t b) {
    const Rune* ra = words.Runes(a);
    const Rune* rb = words.Runes(b);
    const std::size_t la = words.Length(a);
    const std::size_t lb = words.Length(b);
    const std::size_t common = std::min(la, lb);
    for (std::size_t i = 0; i < common; ++i) {
      if (ra[i] != rb[i]) return ra[i] < rb[i];
    }
    return la != lb ? la < lb : a < b;
  });
  return ids;
}

// Counts the nodes (distinct prefixes, the empty one included) and the distinct words of the
// sorted ids, so the trie arrays can be allocated once at their final size.
std::pair<std::size_t, std::size_t> CountNodesAndWords(const WordEntries& words,
                                                       const std::vector<std::uint32_t>& ids) {
  std::size_t nodes = 1;
  std::size_t distinct_words = 0;
  std::size_t previous_length = 0;
  const Rune* previous = nullptr;
  for (const std::uint32_t id : ids) {
    const std::size_t length = words.Length(id);
    const Rune* runes = words.Runes(id);
    std::size_t shared = 0;
    const std::size_t limit = std::min(length, previous_length);
    while (shared < limit && runes[shared] == previous[shared]) ++shared;
    nodes += length - shared;
    distinct_words += !(shared == length && length == previous_length);
    previous = runes;
    previous_length = length;
  }
  return {nodes, distinct_words};
}

}  // namespace

DictionaryTrie::DictionaryTrie(const WordEntries& words, std::size_t max_word_runes) {
  const std::vector<std::uint32_t> ids = SortedWordIds(words, max_word_runes);
  const auto [node_count, word_count] = CountNodesAndWords(words, ids);
  labels_.reserve(node_count);
  first_child_.reserve(node_count + 1);
  entry_.reserve(node_count);
  weights_.reserve(word_count);

  // Breadth-first construction straight from the sorted ids: every node owns the slice of ids
  // that share its prefix, and a node's children are the groups of that slice with equal next
  // rune. Nodes are processed in id order, which is creation order, so each node's children
  // land right after the previous node's children.
  struct Slice {
    std::uint32_t begin;
    std::uint32_t end;
    std::uint32_t depth;
  };
  std::vector<Slice> slices;
  slices.reserve(node_count);
  slices.push_back({0, static_cast<std::uint32_t>(ids.size()), 0});
  labels_.push_back(0);
  for (std::size_t node = 0; node < labels_.size(); ++node) {
    const Slice slice = slices[node];
    std::uint32_t k = slice.begin;
    // Words ending here sort before longer ones; the last of them has precedence.
    std::uint32_t entry_word = kNoEntry;
    while (k < slice.end && words.Length(ids[k]) == slice.depth) entry_word = ids[k++];
    if (entry_word == kNoEntry) {
      entry_.push_back(kNoEntry);
    } else {
      entry_.push_back(static_cast<std::uint32_t>(weights_.size()));
      weights_.push_back(words.Weight(entry_word));
    }
    first_child_.push_back(static_cast<std::uint32_t>(labels_.size()));
    while (k < slice.end) {
      const Rune label = words.Runes(ids[k])[slice.depth];
      std::uint32_t group_end = k + 1;
      while (group_end < slice.end && words.Runes(ids[group_end])[slice.depth] == label) {
        ++group_end;
      }
      labels_.push_back(label);
      slices.push_back({k, group_end, slice.depth + 1});
      k = group_end;
    }
  }
  first_child_.push_back(static_cast<std::uint32_t>(labels_.size()));

  std::vector<std::pair<Rune, std::uint32_t>> roots;
  for (std::uint32_t child = first_child_[0]; child < first_child_[1]; ++child) {
    roots.emplace_back(labels_[child], child);
  }
  root_children_ = RuneMap(std::move(roots));
}

bool DictionaryTrie::Contains(const Rune* runes, std::size_t count) const {
  Node node = FindFirst(runes[0]);
  for (std::size_t i = 1; i < count && node != kNotFound; ++i) node = FindChild(node, runes[i]);
  return node != kNotFound && IsWord(node);
}

}  // namespace orvel::tokenizer::jieba
