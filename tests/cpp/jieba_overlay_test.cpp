// The run-time overlay's own data structures: the flat level, the two-level overlay (a shared
// base under a small recent level, folded together every so many changes), the rune set that
// tells which sentences an overlay may touch, the segmenter declining such sentences, and the
// writer freeing the snapshots it replaces. How cuts through an overlay compare with a rebuilt
// trie is owned by jieba_analyzer_test.cpp.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/jieba_check.h"
#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/dictionary_overlay.h"
#include "tokenizer/jieba/rune_set.h"
#include "tokenizer/jieba/runtime_dictionary.h"
#include "tokenizer/jieba/segmenter.h"

namespace orvel::tokenizer::jieba {
namespace {

std::vector<Rune> RunesOf(const std::string& text) {
  std::vector<Rune> runes;
  EXPECT_TRUE(AppendRunes(text, runes));
  return runes;
}

RuntimeEntry Added(double weight, std::string tag = "n") {
  return RuntimeEntry{true, weight, std::move(tag)};
}

RuntimeEntry Deleted() {
  return RuntimeEntry{false, 0.0, ""};
}

void Set(DictionaryOverlay& overlay, const std::string& word, RuntimeEntry entry) {
  const std::vector<Rune> runes = RunesOf(word);
  overlay.Set(runes.data(), runes.size(), std::move(entry));
}

const RuntimeEntry* Find(const DictionaryOverlay& overlay, const std::string& word) {
  const std::vector<Rune> runes = RunesOf(word);
  return overlay.Find(runes.data(), runes.size());
}

// "length:weight" (or "length:deleted") for every change of a prefix of `sentence`.
std::string Prefixes(const DictionaryOverlay& overlay, const std::string& sentence) {
  const std::vector<Rune> runes = RunesOf(sentence);
  std::string out;
  overlay.ForEachPrefix(runes.data(), runes.size(),
                        [&](std::size_t length, const RuntimeEntry& entry) {
                          out += std::to_string(length) + ":" +
                                 (entry.present ? std::to_string(static_cast<int>(entry.weight))
                                                : std::string("deleted")) +
                                 " ";
                        });
  return out;
}

// An overlay whose base holds `base_words` (weights 1, 2, ...) and whose recent level is empty:
// the recent limit is their count, so the last of them folds, and fewer changes than that stay
// in the recent level.
DictionaryOverlay WithBase(const std::vector<std::string>& base_words) {
  DictionaryOverlay overlay(base_words.size());
  for (std::size_t i = 0; i < base_words.size(); ++i) {
    Set(overlay, base_words[i], Added(static_cast<double>(i + 1)));
  }
  EXPECT_EQ(overlay.recent_size(), 0u);
  return overlay;
}

// Faults in the flat level: an edge inserted out of (parent, rune) order, so that binary search
// misses a word added earlier; a replaced entry duplicated; an entry's word stored wrongly.
TEST(OverlayLevel, FindsEveryWordWhateverTheInsertionOrder) {
  OverlayLevel level;
  const std::vector<std::string> words{"丙丁戊", "乙", "丙丁", "甲乙", "丙乙", "𠀀甲", "丙"};
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::vector<Rune> runes = RunesOf(words[i]);
    level.Set(runes.data(), runes.size(), Added(static_cast<double>(i)));
  }
  const std::vector<Rune> again = RunesOf("丙丁");
  level.Set(again.data(), again.size(), Deleted());
  ASSERT_EQ(level.size(), words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::vector<Rune> runes = RunesOf(words[i]);
    const RuntimeEntry* entry = level.Find(runes.data(), runes.size());
    ASSERT_NE(entry, nullptr) << words[i];
    EXPECT_EQ(entry->present, words[i] != "丙丁") << words[i];
    if (entry->present) {
      EXPECT_EQ(entry->weight, static_cast<double>(i)) << words[i];
    }
    EXPECT_EQ(std::vector<Rune>(level.WordRunes(i), level.WordRunes(i) + level.WordLength(i)),
              runes);
  }
  const std::vector<Rune> absent = RunesOf("丙丁己");
  EXPECT_EQ(level.Find(absent.data(), absent.size()), nullptr);
}

// Fault: a union that keeps an older entry the newer level replaced, drops a word that is a
// prefix of another, or leaves its entries out of rune order (the next union then mis-merges).
TEST(OverlayLevel, UnionTakesTheNewerEntryAndSortsItsWords) {
  OverlayLevel older;
  OverlayLevel newer;
  for (const char* word : {"乙丙", "甲", "甲乙丙", "丁"}) {
    const std::vector<Rune> runes = RunesOf(word);
    older.Set(runes.data(), runes.size(), Added(1.0, "old"));
  }
  for (const char* word : {"甲乙", "丁", "𠀀"}) {
    const std::vector<Rune> runes = RunesOf(word);
    newer.Set(runes.data(), runes.size(), Added(2.0, "new"));
  }
  const OverlayLevel both = OverlayLevel::Union(older, newer);
  ASSERT_EQ(both.size(), 6u);
  std::vector<std::vector<Rune>> words;
  for (std::size_t i = 0; i < both.size(); ++i) {
    words.emplace_back(both.WordRunes(i), both.WordRunes(i) + both.WordLength(i));
    const RuntimeEntry* entry = both.Find(words.back().data(), words.back().size());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry, &both.entries()[i]);
  }
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  const auto tag_of = [&](const char* word) {
    const std::vector<Rune> runes = RunesOf(word);
    return both.Find(runes.data(), runes.size())->tag;
  };
  EXPECT_EQ(tag_of("丁"), "new");
  EXPECT_EQ(tag_of("甲"), "old");
  EXPECT_EQ(tag_of("甲乙"), "new");
  EXPECT_EQ(tag_of("甲乙丙"), "old");
}

// Fault: after a fold, a change in the recent level not overriding the base's entry of the
// same word (the old weight or tag still found, by Find or by a prefix walk).
TEST(DictionaryOverlay, RecentChangeOverridesTheBase) {
  DictionaryOverlay overlay = WithBase({"甲乙", "甲"});
  overlay = DictionaryOverlay(overlay);  // a published copy behaves the same
  Set(overlay, "甲乙", Added(7.0, "recent"));
  EXPECT_EQ(Find(overlay, "甲乙")->tag, "recent");
  EXPECT_EQ(Find(overlay, "甲")->weight, 2.0);
  EXPECT_EQ(Prefixes(overlay, "甲乙丙"), "1:2 2:7 ");
  EXPECT_EQ(overlay.size(), 2u);
}

// Fault: a deletion recorded in the recent level of a word the base inserted letting the
// insertion show through, in lookups or in the entries a merge rebuilds from.
TEST(DictionaryOverlay, RecentDeletionHidesABaseInsertion) {
  DictionaryOverlay overlay = WithBase({"甲乙", "丙"});
  Set(overlay, "甲乙", Deleted());
  ASSERT_NE(Find(overlay, "甲乙"), nullptr);
  EXPECT_FALSE(Find(overlay, "甲乙")->present);
  EXPECT_EQ(Prefixes(overlay, "甲乙"), "2:deleted ");
  std::map<std::vector<Rune>, bool> entries;
  overlay.ForEachEntry([&](const Rune* runes, std::size_t length, const RuntimeEntry& entry) {
    EXPECT_TRUE(entries.emplace(std::vector<Rune>(runes, runes + length), entry.present).second);
  });
  EXPECT_EQ(entries,
            (std::map<std::vector<Rune>, bool>{{RunesOf("甲乙"), false}, {RunesOf("丙"), true}}));
}

// Fault: a prefix walk that follows only one level, stops when one level runs out of
// children, or reports lengths out of order when the two levels' words interleave.
TEST(DictionaryOverlay, PrefixesComeFromBothLevelsByLength) {
  DictionaryOverlay overlay = WithBase({"甲乙", "甲乙丙丁", "戊", "己"});  // room for 3 more
  Set(overlay, "甲", Added(5.0));
  Set(overlay, "甲乙丙", Added(6.0));
  Set(overlay, "乙", Added(8.0));
  EXPECT_EQ(Prefixes(overlay, "甲乙丙丁戊"), "1:5 2:1 3:6 4:2 ");
  EXPECT_EQ(Prefixes(overlay, "乙甲"), "1:8 ");
  EXPECT_EQ(Prefixes(overlay, "丙"), "");
}

// Fault: a change (or a fold) in a copy reaching the overlay it was copied from, which a
// reader may be using: the base is shared between them.
TEST(DictionaryOverlay, CopiesChangeIndependently) {
  const DictionaryOverlay original = WithBase({"甲", "乙"});
  DictionaryOverlay copy = original;
  Set(copy, "甲", Deleted());
  Set(copy, "丙", Added(9.0));  // folds: the copy's limit is 2
  EXPECT_EQ(copy.recent_size(), 0u);
  EXPECT_TRUE(Find(original, "甲")->present);
  EXPECT_EQ(Find(original, "丙"), nullptr);
  EXPECT_FALSE(original.MayStartWith(RunesOf("丙")[0]));
  EXPECT_FALSE(Find(copy, "甲")->present);
  EXPECT_TRUE(copy.MayStartWith(RunesOf("丙")[0]));
}

// Against a plain map, through many folds of a short recent level: random insertions and
// deletions over a few runes (words sharing prefixes, an astral rune). Faults: a fold losing,
// duplicating or reviving a word; the word count (which decides merges) counting a word twice
// when it is in both levels; a first rune not recorded.
TEST(DictionaryOverlay, AgreesWithAPlainMapThroughFolds) {
  const std::vector<std::string> alphabet{"甲", "乙", "丙", "𠀀"};
  std::mt19937 random(20261209);
  const auto random_word = [&] {
    std::string word;
    for (std::size_t n = 1 + random() % 4; n > 0; --n) word += alphabet[random() % 4];
    return word;
  };
  DictionaryOverlay overlay(7);
  std::map<std::vector<Rune>, RuntimeEntry> model;
  for (int step = 0; step < 400; ++step) {
    const std::string word = random_word();
    const RuntimeEntry entry = random() % 3 == 0 ? Deleted() : Added(step, std::to_string(step));
    Set(overlay, word, entry);
    model[RunesOf(word)] = entry;
    ASSERT_EQ(overlay.size(), model.size()) << "step " << step;
  }
  std::map<std::vector<Rune>, RuntimeEntry> listed;
  overlay.ForEachEntry([&](const Rune* runes, std::size_t length, const RuntimeEntry& entry) {
    EXPECT_TRUE(listed.emplace(std::vector<Rune>(runes, runes + length), entry).second);
  });
  ASSERT_EQ(listed.size(), model.size());
  for (const auto& [runes, entry] : model) {
    const RuntimeEntry* found = overlay.Find(runes.data(), runes.size());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->present, entry.present);
    EXPECT_EQ(found->tag, entry.tag);
    EXPECT_EQ(listed.at(runes).tag, entry.tag);
    EXPECT_TRUE(overlay.MayStartWith(runes[0]));
  }
  for (int i = 0; i < 50; ++i) {
    const std::vector<Rune> sentence = RunesOf(random_word() + random_word());
    std::string expected;
    for (std::size_t length = 1; length <= sentence.size(); ++length) {
      const auto it = model.find(std::vector<Rune>(sentence.begin(), sentence.begin() + length));
      if (it != model.end()) expected += std::to_string(length) + ":" + it->second.tag + " ";
    }
    std::string walked;
    overlay.ForEachPrefix(sentence.data(), sentence.size(),
                          [&](std::size_t length, const RuntimeEntry& entry) {
                            walked += std::to_string(length) + ":" + entry.tag + " ";
                          });
    EXPECT_EQ(walked, expected);
  }
}

// Fault: a rune above the bitset missed (its words never cut through the overlay), or a
// bitset rune answered by another's bit.
TEST(RuneSet, AnswersInsideAndBeyondTheBitset) {
  RuneSet set;
  EXPECT_FALSE(set.MayContain(0x20000));  // no rune beyond the bitset yet
  set.Insert(0x4E2D);
  set.Insert(0x20000);
  EXPECT_TRUE(set.Contains(0x4E2D));
  EXPECT_FALSE(set.Contains(0x4E2C));
  EXPECT_TRUE(set.Contains(0x20000));
  EXPECT_FALSE(set.Contains(0x20001));
  EXPECT_FALSE(set.Contains(0x0000));  // 0x20000 wrapped into the bitset
  EXPECT_TRUE(set.MayContain(0x4E2D));
  EXPECT_FALSE(set.MayContain(0x4E2E));
  EXPECT_TRUE(set.MayContain(0x20001));  // may answer true beyond the bitset
  const std::vector<Rune> text{0x61, 0x20001, 0x62};
  EXPECT_FALSE(set.ContainsAny(text.data(), text.size()));
  const std::vector<Rune> with{0x61, 0x20000};
  EXPECT_TRUE(set.ContainsAny(with.data(), with.size()));
}

// Fault: a sentence holding a declined rune cut anyway (a pending change ignored), one
// without any declined, or an undecodable one, declined; a cut that is not declined differing
// from the plain cut.
TEST(Segmenter, DeclinesExactlyTheSentencesHoldingADeclinedRune) {
  const auto files = fuzz::jieba_detail::TinyDataFiles();
  const Segmenter segmenter(BuildDictionary(ReadDictionaryEntries(files.dict, files.user)),
                            LoadHmmModel(files.hmm));
  RuneSet declined;
  declined.Insert(RunesOf("杭")[0]);
  declined.Insert(RunesOf("𠀀")[0]);
  std::vector<WordSpan> words{{0, 1}};
  EXPECT_EQ(segmenter.CutUnless(declined, "我来到杭州", CutMode::kMixed, words),
            CutStatus::kDeclined);
  EXPECT_TRUE(words.empty());
  EXPECT_EQ(segmenter.CutUnless(declined, "ab 𠀀", CutMode::kSearch, words), CutStatus::kDeclined);
  EXPECT_EQ(segmenter.CutUnless(declined, "ab 𠀁", CutMode::kSearch, words), CutStatus::kDone);
  EXPECT_EQ(segmenter.CutUnless(declined, "杭\xF8", CutMode::kMixed, words),
            CutStatus::kUndecodable);
  EXPECT_TRUE(words.empty());
  const std::string sentence = "我来到北京清华大学研究生命科学";
  for (const CutMode mode : {CutMode::kMixed, CutMode::kSearch}) {
    std::vector<std::string> plain;
    ASSERT_TRUE(segmenter.Cut(sentence, mode, plain));
    std::vector<std::string> unless;
    ASSERT_EQ(segmenter.CutUnless(declined, sentence, mode, unless), CutStatus::kDone);
    EXPECT_EQ(unless, plain);
  }
}

RuntimeDictionary TinyDictionary(std::size_t merge_threshold) {
  const auto files = fuzz::jieba_detail::TinyDataFiles();
  return RuntimeDictionary(ReadDictionaryEntries(files.dict, files.user), LoadHmmModel(files.hmm),
                           merge_threshold);
}

DictionaryChange Add(const std::string& word) {
  return {DictionaryChange::Op::kAdd, word, std::nullopt, ""};
}

// The writer keeps the snapshots it replaces until it holds the last reference. Faults: one
// freed while a call still holds it (caught here through the weak reference, and under the
// sanitizers by the concurrency tests), or kept for good once no call holds it, piling up.
TEST(RuntimeDictionary, ReplacedSnapshotsAreFreedOnceNoCallHoldsThem) {
  RuntimeDictionary dictionary = TinyDictionary(RuntimeDictionary::kDefaultMergeThreshold);
  dictionary.Apply({Add("甲乙")});
  std::shared_ptr<const DictionarySnapshot> held = dictionary.Current();
  const std::weak_ptr<const DictionarySnapshot> watched = held;
  dictionary.Apply({Add("丙丁")});
  dictionary.Apply({Add("戊己")});
  EXPECT_FALSE(watched.expired());
  EXPECT_TRUE(held->HasEntry(RunesOf("甲乙").data(), 2));
  held.reset();  // the call ends
  dictionary.Apply({Add("庚辛")});
  EXPECT_TRUE(watched.expired());
}

// Fault: a merge leaving the replaced trie (tens of megabytes with the real dictionary) held
// by the kept snapshots after no call uses it any more.
TEST(RuntimeDictionary, AMergeLetsTheReplacedTrieGo) {
  RuntimeDictionary dictionary = TinyDictionary(2);
  dictionary.Apply({Add("甲乙")});
  dictionary.Apply({Add("丙丁")});
  const std::weak_ptr<const Segmenter> old_trie = dictionary.Current()->segmenter;
  dictionary.Apply({Add("戊己")});  // a third pending word: merges
  ASSERT_EQ(dictionary.Current()->overlay, nullptr);
  EXPECT_TRUE(old_trie.expired());
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
