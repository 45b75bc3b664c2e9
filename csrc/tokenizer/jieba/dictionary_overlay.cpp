#include "tokenizer/jieba/dictionary_overlay.h"

#include <algorithm>
#include <utility>

namespace orvel::tokenizer::jieba {
namespace {

bool RunesLess(const Rune* a, std::size_t a_length, const Rune* b, std::size_t b_length) {
  return std::lexicographical_compare(a, a + a_length, b, b + b_length);
}

}  // namespace

std::vector<OverlayLevel::Edge>::const_iterator OverlayLevel::LowerBound(std::uint32_t parent,
                                                                         Rune rune) const {
  return std::lower_bound(edges_.begin(), edges_.end(), Edge{parent, rune, 0},
                          [](const Edge& a, const Edge& b) {
                            return a.parent != b.parent ? a.parent < b.parent : a.rune < b.rune;
                          });
}

std::uint32_t OverlayLevel::Child(std::uint32_t node, Rune rune) const {
  const auto it = LowerBound(node, rune);
  return it != edges_.end() && it->parent == node && it->rune == rune ? it->child : kNoNode;
}

std::uint32_t OverlayLevel::AddNode() {
  node_entries_.push_back(kNoEntry);
  return static_cast<std::uint32_t>(node_entries_.size() - 1);
}

void OverlayLevel::AddEntry(std::uint32_t node, const Rune* runes, std::size_t length,
                            RuntimeEntry entry) {
  node_entries_[node] = static_cast<std::uint32_t>(entries_.size());
  entries_.push_back(std::move(entry));
  word_runes_.insert(word_runes_.end(), runes, runes + length);
  word_starts_.push_back(static_cast<std::uint32_t>(word_runes_.size()));
}

void OverlayLevel::Set(const Rune* runes, std::size_t length, RuntimeEntry entry) {
  std::uint32_t node = kRoot;
  for (std::size_t i = 0; i < length; ++i) {
    const auto it = LowerBound(node, runes[i]);
    if (it != edges_.end() && it->parent == node && it->rune == runes[i]) {
      node = it->child;
      continue;
    }
    const std::uint32_t child = AddNode();
    edges_.insert(it, Edge{node, runes[i], child});
    node = child;
  }
  if (node_entries_[node] == kNoEntry) {
    AddEntry(node, runes, length, std::move(entry));
  } else {
    entries_[node_entries_[node]] = std::move(entry);
  }
}

OverlayLevel OverlayLevel::Union(const OverlayLevel& older, const OverlayLevel& newer) {
  struct Word {
    const OverlayLevel* level;
    std::uint32_t index;
  };
  const auto less = [](const Word& a, const Word& b) {
    return RunesLess(a.level->WordRunes(a.index), a.level->WordLength(a.index),
                     b.level->WordRunes(b.index), b.level->WordLength(b.index));
  };
  std::vector<Word> kept;
  kept.reserve(older.size());
  for (std::uint32_t i = 0; i < older.size(); ++i) {
    if (newer.Find(older.WordRunes(i), older.WordLength(i)) == nullptr) kept.push_back({&older, i});
  }
  if (!std::is_sorted(kept.begin(), kept.end(), less)) std::sort(kept.begin(), kept.end(), less);
  std::vector<Word> added;
  added.reserve(newer.size());
  for (std::uint32_t i = 0; i < newer.size(); ++i) added.push_back({&newer, i});
  std::sort(added.begin(), added.end(), less);
  std::vector<Word> words(kept.size() + added.size());
  std::merge(kept.begin(), kept.end(), added.begin(), added.end(), words.begin(), less);

  OverlayLevel level;
  level.entries_.reserve(words.size());
  level.word_starts_.reserve(words.size() + 1);
  // Words come in increasing order, so the nodes a word shares with any earlier word are the
  // ones it shares with the word just before it: `path` holds that word's nodes, root first.
  // Edges are appended as nodes are made and put in (parent, rune) order at the end.
  std::vector<std::uint32_t> path{kRoot};
  const Rune* previous = nullptr;
  std::size_t previous_length = 0;
  for (const Word& word : words) {
    const Rune* runes = word.level->WordRunes(word.index);
    const std::size_t length = word.level->WordLength(word.index);
    std::size_t common = 0;
    while (common < length && common < previous_length && runes[common] == previous[common]) {
      ++common;
    }
    path.resize(common + 1);
    for (std::size_t i = common; i < length; ++i) {
      const std::uint32_t child = level.AddNode();
      level.edges_.push_back(Edge{path.back(), runes[i], child});
      path.push_back(child);
    }
    level.AddEntry(path[length], runes, length, word.level->entries()[word.index]);
    previous = runes;
    previous_length = length;
  }
  std::sort(level.edges_.begin(), level.edges_.end(), [](const Edge& a, const Edge& b) {
    return a.parent != b.parent ? a.parent < b.parent : a.rune < b.rune;
  });
  return level;
}

const RuntimeEntry* OverlayLevel::Find(const Rune* runes, std::size_t length) const {
  std::uint32_t node = kRoot;
  for (std::size_t i = 0; i < length && node != kNoNode; ++i) node = Child(node, runes[i]);
  return node == kNoNode ? nullptr : EntryAt(node);
}

void DictionaryOverlay::Set(const Rune* runes, std::size_t length, RuntimeEntry entry) {
  if (length > 0 && !first_runes_->Contains(runes[0])) {
    // Not make_shared: the count, written by every copy of the overlay, stays out of the
    // bitset's lines, which every cut reads.
    auto* first_runes = new RuneSet(*first_runes_);
    first_runes->Insert(runes[0]);
    first_runes_.reset(first_runes);
  }
  if (Find(runes, length) == nullptr) ++size_;
  recent_.Set(runes, length, std::move(entry));
  if (recent_.size() < recent_limit_) return;
  base_ = std::make_shared<const OverlayLevel>(
      OverlayLevel::Union(base_ ? *base_ : OverlayLevel(), recent_));
  recent_ = OverlayLevel();
}

}  // namespace orvel::tokenizer::jieba
