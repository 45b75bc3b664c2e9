#include "tokenizer/jieba/runtime_dictionary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>

#include "tokenizer/jieba/dictionary.h"

namespace orvel::tokenizer::jieba {
namespace {

int CompareRunes(const Rune* a, std::size_t a_length, const Rune* b, std::size_t b_length) {
  const std::size_t common = std::min(a_length, b_length);
  for (std::size_t i = 0; i < common; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return a_length == b_length ? 0 : (a_length < b_length ? -1 : 1);
}

Dictionary BuildTrieDictionary(const WordEntries& words, const Dictionary& settings) {
  Dictionary dictionary;
  dictionary.trie = DictionaryTrie(words, kMaxWordRunes);
  dictionary.min_weight = settings.min_weight;
  dictionary.user_single_runes = settings.user_single_runes;
  return dictionary;
}

}  // namespace

EntryTable::EntryTable(WordEntries words, WordTags tags)
    : words_(std::move(words)), tags_(std::move(tags)) {
  words_.ShrinkToFit();
  tags_.ShrinkToFit();
  // Ordered by runes, equal runes by index; the first three runes packed in one key settle
  // almost every comparison.
  struct Keyed {
    std::uint64_t key;
    std::uint32_t id;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(words_.size());
  for (std::size_t id = 0; id < words_.size(); ++id) {
    const std::size_t length = words_.Length(id);
    if (length == 0) continue;  // an empty main-dictionary word is never a dictionary word
    const Rune* runes = words_.Runes(id);
    std::uint64_t key = 0;
    for (std::size_t k = 0; k < 3; ++k) key = key << 21 | (k < length ? runes[k] : 0);
    keyed.push_back({key, static_cast<std::uint32_t>(id)});
  }
  const auto compare = [this](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    const int order = CompareRunes(words_.Runes(a.id), words_.Length(a.id), words_.Runes(b.id),
                                   words_.Length(b.id));
    return order != 0 ? order < 0 : a.id < b.id;
  };
  std::sort(keyed.begin(), keyed.end(), compare);
  sorted_.reserve(keyed.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    // Of equal words only the last listed counts.
    if (i + 1 < keyed.size() && keyed[i + 1].key == keyed[i].key &&
        CompareRunes(words_.Runes(keyed[i].id), words_.Length(keyed[i].id),
                     words_.Runes(keyed[i + 1].id), words_.Length(keyed[i + 1].id)) == 0) {
      continue;
    }
    sorted_.push_back(keyed[i].id);
  }
}

std::size_t EntryTable::Find(const Rune* runes, std::size_t length) const {
  if (length == 0) return kNone;
  const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), 0, [&](std::uint32_t id, int) {
    return CompareRunes(words_.Runes(id), words_.Length(id), runes, length) < 0;
  });
  if (it == sorted_.end() || CompareRunes(words_.Runes(*it), words_.Length(*it), runes, length)) {
    return kNone;
  }
  return *it;
}

std::uint32_t DictionaryOverlay::FindChild(const Node& node, Rune rune) {
  const auto it = std::lower_bound(node.children.begin(), node.children.end(),
                                   std::make_pair(rune, std::uint32_t{0}));
  return it != node.children.end() && it->first == rune ? it->second : kNoNode;
}

void DictionaryOverlay::Set(const Rune* runes, std::size_t length, RuntimeEntry entry) {
  std::uint32_t node = 0;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint32_t child = FindChild(nodes_[node], runes[i]);
    if (child == kNoNode) {
      child = static_cast<std::uint32_t>(nodes_.size());
      auto& children = nodes_[node].children;
      children.insert(
          std::lower_bound(children.begin(), children.end(), std::make_pair(runes[i], 0u)),
          {runes[i], child});
      nodes_.emplace_back();  // after the insert: `children` refers into nodes_
    }
    node = child;
  }
  if (nodes_[node].entry == kNoEntry) {
    nodes_[node].entry = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back(std::move(entry));
    words_.emplace_back(runes, runes + length);
  } else {
    entries_[nodes_[node].entry] = std::move(entry);
  }
}

const RuntimeEntry* DictionaryOverlay::Find(const Rune* runes, std::size_t length) const {
  std::uint32_t node = 0;
  for (std::size_t i = 0; i < length && node != kNoNode; ++i) {
    node = FindChild(nodes_[node], runes[i]);
  }
  if (node == kNoNode || nodes_[node].entry == kNoEntry) return nullptr;
  return &entries_[nodes_[node].entry];
}

bool DictionarySnapshot::HasEntry(const Rune* runes, std::size_t length) const {
  if (overlay) {
    if (const RuntimeEntry* entry = overlay->Find(runes, length)) return entry->present;
  }
  return table->Find(runes, length) != EntryTable::kNone;
}

const std::string* DictionarySnapshot::EntryTag(const Rune* runes, std::size_t length) const {
  if (overlay) {
    if (const RuntimeEntry* entry = overlay->Find(runes, length)) {
      return entry->present ? &entry->tag : nullptr;
    }
  }
  const std::size_t id = table->Find(runes, length);
  return id == EntryTable::kNone ? nullptr : &table->tags().Tag(id);
}

RuntimeDictionary::RuntimeDictionary(DictionaryEntries entries, HmmModel model,
                                     std::size_t merge_threshold)
    : merge_threshold_(merge_threshold),
      frequency_sum_(entries.frequency_sum),
      median_weight_(entries.median_weight) {
  Dictionary settings;
  settings.min_weight = entries.min_weight;
  settings.user_single_runes = std::move(entries.user_single_runes);
  auto snapshot = std::make_shared<DictionarySnapshot>();
  snapshot->segmenter = std::make_shared<const Segmenter>(
      BuildTrieDictionary(entries.words, settings), std::move(model));
  snapshot->table =
      std::make_shared<const EntryTable>(std::move(entries.words), std::move(entries.tags));
  current_ = std::move(snapshot);
}

double RuntimeDictionary::InsertedWeight(std::optional<std::int32_t> frequency) const {
  if (!frequency || *frequency == 0) return median_weight_;
  return std::log(static_cast<double>(*frequency) / frequency_sum_);
}

std::vector<bool> RuntimeDictionary::Apply(const std::vector<DictionaryChange>& changes) {
  // Checked before anything changes: a refused change leaves the dictionary as it was.
  for (const DictionaryChange& change : changes) {
    if (change.op == DictionaryChange::Op::kAdd && change.frequency && *change.frequency < 0) {
      throw std::invalid_argument("the frequency of '" + change.word +
                                  "' is negative; it must be 0 or more");
    }
  }
  std::vector<bool> results(changes.size());
  const std::lock_guard<std::mutex> lock(write_mutex_);
  const std::shared_ptr<const DictionarySnapshot> current = Current();
  auto overlay = current->overlay ? std::make_shared<DictionaryOverlay>(*current->overlay)
                                  : std::make_shared<DictionaryOverlay>();
  std::vector<Rune> runes;
  std::size_t applied = 0;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const DictionaryChange& change = changes[i];
    runes.clear();
    results[i] = AppendRunes(change.word, runes);
    if (!results[i] || runes.empty()) continue;
    RuntimeEntry entry;
    if (change.op == DictionaryChange::Op::kAdd) {
      entry.weight = InsertedWeight(change.frequency);
      entry.tag = change.tag;
    } else {
      entry.present = false;
    }
    overlay->Set(runes.data(), runes.size(), std::move(entry));
    log_.push_back(change);
    ++applied;
  }
  if (applied == 0) return results;

  auto next = std::make_shared<DictionarySnapshot>(*current);
  next->overlay = std::move(overlay);
  std::shared_ptr<const DictionarySnapshot> published = std::move(next);
  if (published->overlay->size() > merge_threshold_) published = Merge(*published);
  std::atomic_store(&current_, std::move(published));
  return results;
}

std::vector<DictionaryChange> RuntimeDictionary::Changes() const {
  const std::lock_guard<std::mutex> lock(write_mutex_);
  return log_;
}

std::shared_ptr<const DictionarySnapshot> RuntimeDictionary::Merge(
    const DictionarySnapshot& from) const {
  const EntryTable& table = *from.table;
  const DictionaryOverlay& overlay = *from.overlay;
  WordEntries words;
  WordTags tags;
  words.Reserve(table.words().size() + overlay.size(), 0);
  tags.Reserve(table.words().size() + overlay.size());
  // Entries the overlay decides about are dropped; the overlay's insertions come last, so
  // they take precedence like user entries do.
  for (std::size_t id = 0; id < table.words().size(); ++id) {
    const Rune* runes = table.words().Runes(id);
    const std::size_t length = table.words().Length(id);
    if (length != 0 && overlay.Find(runes, length)) continue;
    words.runes().insert(words.runes().end(), runes, runes + length);
    words.Add(table.words().Weight(id));
    tags.Add(table.tags().Tag(id));
  }
  for (std::size_t i = 0; i < overlay.size(); ++i) {
    const RuntimeEntry& entry = overlay.entries()[i];
    if (!entry.present) continue;
    const std::vector<Rune>& runes = overlay.words()[i];
    words.runes().insert(words.runes().end(), runes.begin(), runes.end());
    words.Add(entry.weight);
    tags.Add(entry.tag);
  }
  auto snapshot = std::make_shared<DictionarySnapshot>();
  const Segmenter& segmenter = *from.segmenter;
  snapshot->segmenter = std::make_shared<const Segmenter>(
      BuildTrieDictionary(words, segmenter.dictionary()), HmmModel(segmenter.model()));
  snapshot->table = std::make_shared<const EntryTable>(std::move(words), std::move(tags));
  return snapshot;
}

}  // namespace orvel::tokenizer::jieba
