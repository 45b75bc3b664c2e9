#include "tokenizer/jieba/runtime_dictionary.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/memory_release.h"

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
  dictionary.single_rune_weights = SingleRuneWeights(dictionary.trie, dictionary.min_weight);
  dictionary.user_single_runes = settings.user_single_runes;
  return dictionary;
}

// A segmenter whose reference count lives in a block of its own, not beside the segmenter as
// with make_shared: every change copies the snapshot and so writes the count, and the trie's
// header, which every cut reads, would then be fetched anew by a thread cutting meanwhile.
std::shared_ptr<const Segmenter> SegmenterApart(Dictionary dictionary, HmmModel model) {
  return std::shared_ptr<const Segmenter>(new Segmenter(std::move(dictionary), std::move(model)));
}

}  // namespace

EntryTable::EntryTable(const WordEntries& words, const WordTags& tags, const DictionaryTrie& trie)
    : node_tags_(trie.slot_count(), static_cast<std::uint32_t>(tags.name_count() - 1)) {
  tag_names_.reserve(tags.name_count());
  for (std::uint32_t id = 0; id < tags.name_count(); ++id) tag_names_.push_back(tags.Name(id));
  // In list order, so the last entry of equal words leaves its tag, as it leaves its weight.
  for (std::size_t id = 0; id < words.size(); ++id) {
    const std::size_t length = words.Length(id);
    if (length == 0) continue;  // an empty main-dictionary word is never a dictionary word
    const Rune* runes = words.Runes(id);
    if (length > kMaxWordRunes) {
      long_words_.runes().insert(long_words_.runes().end(), runes, runes + length);
      long_words_.Add(words.Weight(id));
      long_word_tags_.push_back(tags.Id(id));
      continue;
    }
    // The root and "not found" share the value 0: every step must land on a child.
    DictionaryTrie::Node node = DictionaryTrie::kRoot;
    for (std::size_t i = 0; i < length; ++i) {
      node = trie.Child(node, trie.CodeOf(runes[i]));
      if (node == DictionaryTrie::kNotFound) break;
    }
    if (node != DictionaryTrie::kNotFound) node_tags_.Set(node, tags.Id(id));
  }
}

bool EntryTable::Find(const DictionaryTrie& trie, const Rune* runes, std::size_t length,
                      std::uint32_t& tag_id) const {
  if (length == 0) return false;
  if (length > kMaxWordRunes) {
    for (std::size_t id = long_words_.size(); id-- > 0;) {
      if (CompareRunes(long_words_.Runes(id), long_words_.Length(id), runes, length) == 0) {
        tag_id = long_word_tags_[id];
        return true;
      }
    }
    return false;
  }
  DictionaryTrie::Node node = DictionaryTrie::kRoot;
  for (std::size_t i = 0; i < length; ++i) {
    node = trie.Child(node, trie.CodeOf(runes[i]));
    if (node == DictionaryTrie::kNotFound) break;
  }
  return FindNode(trie, node, tag_id);
}

bool DictionarySnapshot::HasEntry(const Rune* runes, std::size_t length) const {
  if (overlay) {
    if (const RuntimeEntry* entry = overlay->Find(runes, length)) return entry->present;
  }
  std::uint32_t tag_id = 0;
  return table->Find(segmenter->dictionary().trie, runes, length, tag_id);
}

const std::string* DictionarySnapshot::EntryTag(const Rune* runes,
                                                const DictionaryTrie::Code* codes,
                                                std::size_t length) const {
  if (overlay) {
    if (const RuntimeEntry* entry = overlay->Find(runes, length)) {
      return entry->present ? &entry->tag : nullptr;
    }
  }
  const DictionaryTrie& trie = segmenter->dictionary().trie;
  std::uint32_t tag_id = 0;
  bool found = false;
  if (codes != nullptr && length <= kMaxWordRunes) {
    DictionaryTrie::Node node = DictionaryTrie::kRoot;
    for (std::size_t i = 0; i < length; ++i) {
      node = trie.Child(node, codes[i]);
      if (node == DictionaryTrie::kNotFound) break;
    }
    found = table->FindNode(trie, node, tag_id);
  } else {
    found = table->Find(trie, runes, length, tag_id);
  }
  return found ? &table->TagName(tag_id) : nullptr;
}

RuntimeDictionary::RuntimeDictionary(DictionaryEntries entries, HmmModel model,
                                     std::size_t merge_threshold, std::size_t recent_limit)
    : merge_threshold_(merge_threshold),
      recent_limit_(recent_limit),
      frequency_sum_(entries.frequency_sum),
      median_weight_(entries.median_weight) {
  Dictionary settings;
  settings.min_weight = entries.min_weight;
  settings.user_single_runes = std::move(entries.user_single_runes);
  auto snapshot = std::make_shared<DictionarySnapshot>();
  snapshot->segmenter =
      SegmenterApart(BuildTrieDictionary(entries.words, settings), std::move(model));
  snapshot->table = std::make_shared<const EntryTable>(entries.words, entries.tags,
                                                       snapshot->segmenter->dictionary().trie);
  current_ = std::move(snapshot);
}

RuntimeDictionary::RuntimeDictionary(const RuntimeDictionary& other)
    : merge_threshold_(other.merge_threshold_),
      recent_limit_(other.recent_limit_),
      frequency_sum_(other.frequency_sum_),
      median_weight_(other.median_weight_) {
  // The log and the snapshot are taken together, so the copy's log replays to its snapshot.
  std::lock_guard<std::mutex> lock(other.write_mutex_);
  log_ = other.log_;
  current_ = other.Current();
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
  // Only a writer holding the lock stores into current_, and readers only read it, so it reads
  // as a plain copy here, sparing the shared lock that atomic loads of it take.
  std::shared_ptr<const DictionarySnapshot> current = current_;
  auto overlay = current->overlay ? std::make_shared<DictionaryOverlay>(*current->overlay)
                                  : std::make_shared<DictionaryOverlay>(recent_limit_);
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
  const bool merge = published->overlay->size() > merge_threshold_;
  if (merge) published = Merge(*published);
  std::atomic_store(&current_, std::move(published));
  if (merge) {
    // The replaced trie goes now unless a running call still holds it (the snapshots kept
    // below hold it too); its memory and the rebuild's temporaries are then returned rather
    // than kept by the heap.
    retired_.clear();
    current.reset();
    ReleaseFreedMemory();
    return results;
  }
  Retire(std::move(current));
  return results;
}

void RuntimeDictionary::Retire(std::shared_ptr<const DictionarySnapshot> replaced) {
  // Freeing a snapshot means freeing its overlay's arrays, blocks the writer's thread
  // allocated and last wrote. Left to the last reader, that is most often a thread cutting
  // while words are added, for changes come faster than cuts end, and it would spend part of
  // its time fetching and freeing those blocks. So the writer keeps the snapshots it replaces
  // and frees each once it holds the last reference: only it can, as none is reachable any
  // more. The oldest are let go past a few, so that a call holding one for long does not make
  // them pile up (it frees that one itself).
  retired_.push_back(std::move(replaced));
  retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                [](const std::shared_ptr<const DictionarySnapshot>& snapshot) {
                                  return snapshot.use_count() == 1;
                                }),
                 retired_.end());
  if (retired_.size() > kMaxRetired) retired_.erase(retired_.begin());
}

std::vector<DictionaryChange> RuntimeDictionary::Changes() const {
  const std::lock_guard<std::mutex> lock(write_mutex_);
  return log_;
}

std::shared_ptr<const DictionarySnapshot> RuntimeDictionary::Merge(
    const DictionarySnapshot& from) const {
  const EntryTable& table = *from.table;
  const DictionaryOverlay& overlay = *from.overlay;
  const DictionaryTrie& trie = from.segmenter->dictionary().trie;
  WordEntries words;
  WordTags tags;
  // Words average under three runes; the list only lives for this rebuild.
  words.Reserve(trie.word_count() + overlay.size(), 3 * (trie.word_count() + overlay.size()));
  tags.Reserve(trie.word_count() + overlay.size());
  // Every word once, with the weight and tag that took precedence. Words the overlay decides
  // about are dropped; its insertions come last, so they take precedence like user entries do.
  table.ForEachEntry(
      trie, [&](const Rune* runes, std::size_t length, double weight, const std::string& tag) {
        if (overlay.Find(runes, length)) return;
        words.runes().insert(words.runes().end(), runes, runes + length);
        words.Add(weight);
        tags.Add(tag);
      });
  overlay.ForEachEntry([&](const Rune* runes, std::size_t length, const RuntimeEntry& entry) {
    if (!entry.present) return;
    words.runes().insert(words.runes().end(), runes, runes + length);
    words.Add(entry.weight);
    tags.Add(entry.tag);
  });
  auto snapshot = std::make_shared<DictionarySnapshot>();
  const Segmenter& segmenter = *from.segmenter;
  snapshot->segmenter = SegmenterApart(BuildTrieDictionary(words, segmenter.dictionary()),
                                       HmmModel(segmenter.model()));
  snapshot->table =
      std::make_shared<const EntryTable>(words, tags, snapshot->segmenter->dictionary().trie);
  return snapshot;
}

}  // namespace orvel::tokenizer::jieba
