#include "tokenizer/jieba/dictionary_overlay.h"

#include <algorithm>
#include <utility>

namespace orvel::tokenizer::jieba {
namespace {

bool RunesLess(const Rune* a, std::size_t a_length, const Rune* b, std::size_t b_length) {
  return std::lexicographical_compare(a, a + a_length, b, b + b_length);
}

}  // namespace

OverlayLevel::OverlayLevel(const OverlayLevel& other) {
  constexpr std::size_t kRoomRunes = 8;
  const auto copy = [](const auto& from, auto& to, std::size_t room) {
    to.reserve(from.size() + room);
    to.assign(from.begin(), from.end());
  };
  copy(other.edges_, edges_, kRoomRunes);
  copy(other.node_entries_, node_entries_, kRoomRunes);
  copy(other.word_runes_, word_runes_, kRoomRunes);
  copy(other.word_starts_, word_starts_, 1);
  copy(other.entries_, entries_, 1);
}

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
    const Rune* runes() const { return level->WordRunes(index); }
    std::size_t length() const { return level->WordLength(index); }
  };
  const auto less = [](const Word& a, const Word& b) {
    return RunesLess(a.runes(), a.length(), b.runes(), b.length());
  };
  const auto sorted_words = [&](const OverlayLevel& level) {
    std::vector<Word> words;
    words.reserve(level.size());
    for (std::uint32_t i = 0; i < level.size(); ++i) words.push_back({&level, i});
    if (!std::is_sorted(words.begin(), words.end(), less)) {
      std::sort(words.begin(), words.end(), less);
    }
    return words;
  };
  const std::vector<Word> old_words = sorted_words(older);
  const std::vector<Word> new_words = sorted_words(newer);
  // Merged in order; of a word in both, the newer entry only.
  std::vector<Word> words;
  words.reserve(old_words.size() + new_words.size());
  auto old_it = old_words.begin();
  for (const Word& word : new_words) {
    for (; old_it != old_words.end() && less(*old_it, word); ++old_it) words.push_back(*old_it);
    if (old_it != old_words.end() && !less(word, *old_it)) ++old_it;
    words.push_back(word);
  }
  words.insert(words.end(), old_it, old_words.end());

  OverlayLevel level;
  level.entries_.reserve(words.size());
  level.word_starts_.reserve(words.size() + 1);
  // Words come in increasing order, so the nodes a word shares with any earlier word are the
  // ones it shares with the word just before it: `path` holds that word's nodes, root first.
  // A node's children are made in increasing rune order, so ordering the edges by parent
  // alone, keeping that order (a counting sort), orders them by (parent, rune).
  std::vector<Edge> edges;
  std::vector<std::uint32_t> path{kRoot};
  const Rune* previous = nullptr;
  std::size_t previous_length = 0;
  for (const Word& word : words) {
    const Rune* runes = word.runes();
    const std::size_t length = word.length();
    std::size_t common = 0;
    while (common < length && common < previous_length && runes[common] == previous[common]) {
      ++common;
    }
    path.resize(common + 1);
    for (std::size_t i = common; i < length; ++i) {
      const std::uint32_t child = level.AddNode();
      edges.push_back(Edge{path.back(), runes[i], child});
      path.push_back(child);
    }
    level.AddEntry(path[length], runes, length, word.level->entries()[word.index]);
    previous = runes;
    previous_length = length;
  }
  std::vector<std::uint32_t> starts(level.node_entries_.size() + 1, 0);
  for (const Edge& edge : edges) ++starts[edge.parent + 1];
  for (std::size_t node = 1; node < starts.size(); ++node) starts[node] += starts[node - 1];
  level.edges_.resize(edges.size());
  for (const Edge& edge : edges) level.edges_[starts[edge.parent]++] = edge;
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
