// The analyzer's own machinery, on the fuzz harness's tiny data files so that it runs without
// the shared data: the tag rule for words without a tagged entry, run-time changes cut through
// the overlay exactly as through a rebuilt trie, the change log replays, and threads cutting
// while words change see the dictionary before or after each change (run under ThreadSanitizer
// by tools/test_sanitized.sh). The results against the reference are owned by the golden tests.

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/jieba_check.h"
#include "jieba_test_support.h"
#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/pos_tagger.h"
#include "tokenizer/jieba/runtime_dictionary.h"
#include "tokenizer/jieba/token_cutter.h"

namespace orvel::tokenizer::jieba {
namespace {

using fuzz::jieba_detail::TinyDataFiles;

std::vector<Rune> RunesOf(const std::string& text) {
  std::vector<Rune> runes;
  EXPECT_TRUE(AppendRunes(text, runes));
  return runes;
}

std::string RuleTagOf(const std::string& word) {
  const std::vector<Rune> runes = RunesOf(word);
  return RuleTag(runes.data(), runes.size());
}

// Only the first floor(n / 2) ASCII runes decide; a one-rune word examines none.
TEST(RuleTag, OneRuneWordsAreAlwaysX) {
  for (const char* word : {"5", "a", "。", "好", ""}) EXPECT_EQ(RuleTagOf(word), "x") << word;
}

TEST(RuleTag, TwoRuneWordsGoByTheirFirstAsciiRune) {
  EXPECT_EQ(RuleTagOf("1a"), "m");
  EXPECT_EQ(RuleTagOf("a1"), "eng");
  EXPECT_EQ(RuleTagOf(".."), "eng");
  EXPECT_EQ(RuleTagOf("１２"), "x");  // full-width digits are not ASCII
}

TEST(RuleTag, LongerWordsStopAtHalfTheirLength) {
  EXPECT_EQ(RuleTagOf("3.5"), "m");     // only "3" is examined
  EXPECT_EQ(RuleTagOf("AK47"), "eng");  // "AK"
  EXPECT_EQ(RuleTagOf("好好12"), "m");  // "12": non-ASCII runes are passed over
  EXPECT_EQ(RuleTagOf("1好好"), "m");   // stops after "1"
  EXPECT_EQ(RuleTagOf("好x1"), "eng");
  EXPECT_EQ(RuleTagOf("ab好好好"), "eng");
}

// Fault caught: tags lost between the loader and the lookup (every word tagged by the rule), a
// one-column user word keeping the main entry's tag, or a run-time tag lost in a rebuild.
TEST(RuntimeDictionary, TagsComeFromTheEntryThatCounts) {
  const auto files = TinyDataFiles();
  Jieba engine(files.dict, files.hmm, files.user, files.idf, files.stop_words);
  EXPECT_EQ(engine.LookupTag("北京"), "ns");   // main dictionary
  EXPECT_EQ(engine.LookupTag("杭"), "nz");     // two-column user line
  EXPECT_EQ(engine.LookupTag("云计算"), "x");  // one column: no tag, so the rule
  EXPECT_EQ(engine.LookupTag("北京大"), "x");  // not a word
  engine.InsertWord("北京", std::nullopt, "LOC");
  EXPECT_EQ(engine.LookupTag("北京"), "LOC");
  std::vector<DictionaryChange> batch;  // enough to rebuild the trie
  for (int i = 0; i < 1100; ++i)
    batch.push_back({DictionaryChange::Op::kAdd, "犇" + std::to_string(i), 1, "nz"});
  engine.ApplyChanges(batch);
  EXPECT_EQ(engine.LookupTag("北京"), "LOC");
  EXPECT_EQ(engine.LookupTag("犇7"), "nz");
  EXPECT_EQ(engine.LookupTag("大学"), "n");
}

// Random words and sentences over the tiny dictionary's runes and a few strangers.
class RandomText {
 public:
  std::string Word(std::size_t max_runes) {
    std::string word;
    const std::size_t length = 1 + random_() % max_runes;
    for (std::size_t i = 0; i < length; ++i) word += Pick();
    return word;
  }
  std::string Sentence() {
    std::string sentence;
    const std::size_t length = random_() % 24;
    for (std::size_t i = 0; i < length; ++i) sentence += random_() % 9 == 0 ? " " : Pick();
    return sentence;
  }
  std::uint32_t Next() { return static_cast<std::uint32_t>(random_()); }

 private:
  std::string Pick() {
    static const char* const kRunes[] = {"中", "国", "北", "京", "大", "学", "生", "命", "科",
                                         "研", "究", "我", "来", "到", "清", "华", "杭", "小",
                                         "明", "硕", "士", "的", "C",  "+",  "1",  "犇"};
    return kRunes[random_() % (sizeof(kRunes) / sizeof(kRunes[0]))];
  }
  std::mt19937 random_{20261208};
};

std::unique_ptr<RuntimeDictionary> TinyRuntimeDictionary(std::size_t merge_threshold) {
  const auto files = TinyDataFiles();
  return std::make_unique<RuntimeDictionary>(ReadDictionaryEntries(files.dict, files.user),
                                             LoadHmmModel(files.hmm), merge_threshold);
}

// Everything a snapshot answers for one sentence, in every mode.
std::string Describe(const DictionarySnapshot& snapshot, const std::string& sentence) {
  std::string out;
  std::vector<Token> tokens;
  for (const TokenMode mode : {TokenMode::kMixed, TokenMode::kSearch, TokenMode::kFull}) {
    for (const bool hmm : {true, false}) {
      CutTokens(snapshot, sentence, mode, hmm, tokens);
      for (const Token& token : tokens) {
        out += sentence.substr(token.byte_begin, token.byte_end - token.byte_begin) + "/";
        const std::vector<Rune> runes =
            RunesOf(sentence.substr(token.byte_begin, token.byte_end - token.byte_begin));
        out += std::string(LookupTag(snapshot, runes.data(), nullptr, runes.size())) + " ";
      }
      out += "| ";
    }
  }
  return out;
}

DictionaryChange RandomChange(RandomText& text) {
  DictionaryChange change;
  change.op = text.Next() % 3 == 0 ? DictionaryChange::Op::kDelete : DictionaryChange::Op::kAdd;
  change.word = text.Word(4);
  if (change.op == DictionaryChange::Op::kAdd) {
    if (text.Next() % 2 == 0) change.frequency = static_cast<std::int32_t>(text.Next() % 300);
    if (text.Next() % 2 == 0) change.tag = "t" + std::to_string(text.Next() % 5);
  }
  return change;
}

// Fault caught: the overlay and the rebuilt trie disagreeing on precedence, deletions of
// main-dictionary words, re-insertions after deletions, one-rune words or tags.
// Faults in the flat overlay: an edge inserted out of (parent, rune) order, so that binary
// search misses a word added earlier; a replaced entry duplicated; prefixes reported out of
// length order; an astral first rune (beyond the bitset) not seen.
TEST(DictionaryOverlay, FindsEveryWordWhateverTheInsertionOrder) {
  DictionaryOverlay overlay;
  const std::vector<std::string> words{"丙丁戊", "乙", "丙丁", "甲乙", "丙乙", "𠀀甲", "丙"};
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::vector<Rune> runes = RunesOf(words[i]);
    overlay.Set(runes.data(), runes.size(), RuntimeEntry{true, static_cast<double>(i), "n"});
  }
  const std::vector<Rune> again = RunesOf("丙丁");
  overlay.Set(again.data(), again.size(), RuntimeEntry{false, 0.0, ""});
  ASSERT_EQ(overlay.size(), words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::vector<Rune> runes = RunesOf(words[i]);
    const RuntimeEntry* entry = overlay.Find(runes.data(), runes.size());
    ASSERT_NE(entry, nullptr) << words[i];
    EXPECT_EQ(entry->present, words[i] != "丙丁") << words[i];
    if (entry->present) {
      EXPECT_EQ(entry->weight, static_cast<double>(i)) << words[i];
    }
    EXPECT_EQ(std::vector<Rune>(overlay.WordRunes(i), overlay.WordRunes(i) + overlay.WordLength(i)),
              runes);
  }
  const std::vector<Rune> absent = RunesOf("丙丁己");
  EXPECT_EQ(overlay.Find(absent.data(), absent.size()), nullptr);
  std::vector<std::size_t> lengths;
  const std::vector<Rune> sentence = RunesOf("丙丁戊己");
  overlay.ForEachPrefix(
      sentence.data(), sentence.size(),
      [&](std::size_t length, const RuntimeEntry&) { lengths.push_back(length); });
  EXPECT_EQ(lengths, (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_TRUE(overlay.MayStartWith(RunesOf("𠀀")[0]));
  EXPECT_FALSE(overlay.MayStartWith(RunesOf("丁")[0]));
}

// Fault: a sentence that holds a changed word's first rune cut by the trie alone (the change
// ignored), or an undecodable one sent down the trie path.
TEST(DictionaryOverlay, SentencesItMayTouchAreFound) {
  DictionaryOverlay overlay;
  const std::vector<Rune> word = RunesOf("𠀀甲");
  overlay.Set(word.data(), word.size(), RuntimeEntry{});
  EXPECT_FALSE(OverlayMayTouch(overlay, "甲乙 abc"));
  EXPECT_TRUE(OverlayMayTouch(overlay, "abc 𠀀"));
  EXPECT_TRUE(OverlayMayTouch(overlay, "abc \xF8"));
}

TEST(RuntimeDictionary, OverlayCutsExactlyLikeARebuiltTrie) {
  const auto overlaid = TinyRuntimeDictionary(std::numeric_limits<std::size_t>::max());
  const auto rebuilt = TinyRuntimeDictionary(0);  // merges at every change
  RandomText text;
  std::vector<std::string> sentences = {"我来到北京清华大学研究生命科学", "C++1犇犇", "北京大学生"};
  for (int i = 0; i < 40; ++i) sentences.push_back(text.Sentence());
  for (int step = 0; step < 120; ++step) {
    const DictionaryChange change = RandomChange(text);
    overlaid->Apply({change});
    rebuilt->Apply({change});
    ASSERT_EQ(rebuilt->Current()->overlay, nullptr);
    ASSERT_NE(overlaid->Current()->overlay, nullptr);
    for (const std::string& sentence : sentences) {
      ASSERT_EQ(Describe(*overlaid->Current(), sentence), Describe(*rebuilt->Current(), sentence))
          << "after change " << step << " (" << change.word << "), sentence " << sentence;
    }
  }
}

// Fault caught: a log that misses changes, reorders them, or loses frequencies and tags.
TEST(RuntimeDictionary, ReplayingTheChangeLogGivesTheSameDictionary) {
  const auto original = TinyRuntimeDictionary(RuntimeDictionary::kDefaultMergeThreshold);
  RandomText text;
  for (int step = 0; step < 60; ++step) original->Apply({RandomChange(text)});
  original->Apply({{DictionaryChange::Op::kAdd, "", std::nullopt, ""},  // changes nothing
                   {DictionaryChange::Op::kAdd, "\xff", std::nullopt, ""}});
  const auto replayed = TinyRuntimeDictionary(RuntimeDictionary::kDefaultMergeThreshold);
  const std::vector<DictionaryChange> log = original->Changes();
  EXPECT_EQ(log.size(), 60u);
  replayed->Apply(log);
  for (int i = 0; i < 30; ++i) {
    const std::string sentence = text.Sentence();
    EXPECT_EQ(Describe(*original->Current(), sentence), Describe(*replayed->Current(), sentence));
  }
}

// Fault caught: a refused change applied in part.
TEST(RuntimeDictionary, NegativeFrequencyChangesNothing) {
  const auto dictionary = TinyRuntimeDictionary(RuntimeDictionary::kDefaultMergeThreshold);
  const auto before = dictionary->Current();
  EXPECT_THROW(dictionary->Apply({{DictionaryChange::Op::kAdd, "杭研", std::nullopt, ""},
                                  {DictionaryChange::Op::kAdd, "犇犇", -1, ""}}),
               std::invalid_argument);
  EXPECT_EQ(dictionary->Current(), before);
  EXPECT_TRUE(dictionary->Changes().empty());
}

// Every word of a dictionary with the weight and tag that take precedence, as rebuilds see it.
using EntryMap = std::map<std::vector<Rune>, std::pair<double, std::string>>;

EntryMap EntriesOf(const DictionarySnapshot& snapshot) {
  EntryMap entries;
  snapshot.table->ForEachEntry(
      snapshot.segmenter->dictionary().trie,
      [&](const Rune* runes, std::size_t length, double weight, const std::string& tag) {
        entries[std::vector<Rune>(runes, runes + length)] = {weight, tag};  // later ones win
      });
  return entries;
}

// The same from the loaded entry list itself: later entries win, empty words are no words.
EntryMap EntriesOf(const DictionaryEntries& loaded) {
  EntryMap entries;
  for (std::size_t id = 0; id < loaded.words.size(); ++id) {
    if (loaded.words.Length(id) == 0) continue;
    const Rune* runes = loaded.words.Runes(id);
    entries[std::vector<Rune>(runes, runes + loaded.words.Length(id))] = {loaded.words.Weight(id),
                                                                          loaded.tags.Tag(id)};
  }
  return entries;
}

// Tiny dictionary entries plus what the rebuild list must carry over: a later duplicate with
// another weight and tag, words above the BMP, a word too long for the trie (twice), and over
// 256 distinct tags, so that slot tags take two bytes.
DictionaryEntries RebuildEntries(const std::vector<Rune>& long_word) {
  DictionaryEntries entries = ReadDictionaryEntries(TinyDataFiles().dict, TinyDataFiles().user);
  const auto add = [&](const std::vector<Rune>& runes, double weight, const std::string& tag) {
    entries.words.runes().insert(entries.words.runes().end(), runes.begin(), runes.end());
    entries.words.Add(weight);
    entries.tags.Add(tag);
  };
  add(RunesOf("北京"), -3.0, "n2");
  add(RunesOf("\xF0\xA0\x80\x80字"), -6.0, "hi");  // U+20000
  add(long_word, -4.0, "x1");
  add(long_word, -5.0, "x2");
  for (int i = 0; i < 300; ++i)
    add(RunesOf("词" + std::to_string(i)), -8.0 - i, "t" + std::to_string(i));
  return entries;
}

std::vector<Rune> LongWord() {
  return std::vector<Rune>(kMaxWordRunes + 3, 0x957F);
}

std::string TagOf(const DictionarySnapshot& snapshot, const std::vector<Rune>& runes) {
  const std::string* tag = snapshot.EntryTag(runes.data(), nullptr, runes.size());
  return tag == nullptr ? "<none>" : *tag;
}

// Fault caught: the rebuild list derived from the trie losing a word too long for the trie,
// mixing up two words' weights or tags, taking an earlier duplicate's, or a two-byte tag id
// cut to one byte.
TEST(RuntimeDictionary, MergeRebuildsEveryWordWithTheWeightAndTagThatWon) {
  const std::vector<Rune> long_word = LongWord();
  const EntryMap loaded = EntriesOf(RebuildEntries(long_word));
  RuntimeDictionary dictionary(RebuildEntries(long_word), LoadHmmModel(TinyDataFiles().hmm), 0);
  const EntryMap before = EntriesOf(*dictionary.Current());
  EXPECT_EQ(before, loaded);
  EXPECT_EQ(before.at(RunesOf("北京")), std::make_pair(-3.0, std::string("n2")));
  EXPECT_EQ(before.at(long_word), std::make_pair(-5.0, std::string("x2")));

  dictionary.Apply({{DictionaryChange::Op::kAdd, "新词", 3, "nz"}});  // merges into a new trie
  const auto merged = dictionary.Current();
  ASSERT_EQ(merged->overlay, nullptr);
  EntryMap after = EntriesOf(*merged);
  EXPECT_EQ(after.at(RunesOf("新词")),
            std::make_pair(dictionary.InsertedWeight(3), std::string("nz")));
  after.erase(RunesOf("新词"));
  EXPECT_EQ(after, before);
  EXPECT_EQ(TagOf(*merged, long_word), "x2");
  EXPECT_EQ(TagOf(*merged, RunesOf("词299")), "t299");
  EXPECT_EQ(TagOf(*merged, RunesOf("\xF0\xA0\x80\x80字")), "hi");
}

// Fault caught: a merge bringing back a deleted word (from the trie or from the long words),
// dropping the words it is a prefix of, or keeping the old entry of a re-inserted word.
TEST(RuntimeDictionary, DeletionsAndReinsertionsSurviveMerges) {
  const std::vector<Rune> long_word = LongWord();
  const std::string long_text(reinterpret_cast<const char*>(u8"\u957F"));
  std::string long_utf8;
  for (std::size_t i = 0; i < long_word.size(); ++i) long_utf8 += long_text;
  RuntimeDictionary dictionary(RebuildEntries(long_word), LoadHmmModel(TinyDataFiles().hmm), 0);
  const EntryMap before = EntriesOf(*dictionary.Current());
  ASSERT_TRUE(before.count(RunesOf("北京大学")));

  dictionary.Apply({{DictionaryChange::Op::kDelete, "北京", std::nullopt, ""},
                    {DictionaryChange::Op::kDelete, long_utf8, std::nullopt, ""}});
  dictionary.Apply({{DictionaryChange::Op::kAdd, "甲乙", std::nullopt, ""}});  // merges again
  auto snapshot = dictionary.Current();
  ASSERT_EQ(snapshot->overlay, nullptr);
  EXPECT_FALSE(snapshot->HasEntry(RunesOf("北京").data(), 2));
  EXPECT_FALSE(snapshot->HasEntry(long_word.data(), long_word.size()));
  EntryMap expected = before;
  expected.erase(RunesOf("北京"));
  expected.erase(long_word);
  expected[RunesOf("甲乙")] = {dictionary.InsertedWeight(std::nullopt), ""};
  EXPECT_EQ(EntriesOf(*snapshot), expected);

  dictionary.Apply({{DictionaryChange::Op::kAdd, "北京", 7, "ns"},
                    {DictionaryChange::Op::kAdd, long_utf8, std::nullopt, "y"}});
  snapshot = dictionary.Current();
  ASSERT_EQ(snapshot->overlay, nullptr);
  expected[RunesOf("北京")] = {dictionary.InsertedWeight(7), "ns"};
  expected[long_word] = {dictionary.InsertedWeight(std::nullopt), "y"};
  EXPECT_EQ(EntriesOf(*snapshot), expected);
  EXPECT_EQ(TagOf(*snapshot, long_word), "y");
}

// Fault caught: the rebuild list of the standard dictionary differing from its files in any
// word, weight or tag, before or after a merge.
TEST(RuntimeDictionary, StandardDictionaryRebuildsExactly) {
  const auto shared = testing::SharedDir();
  if (!shared) GTEST_SKIP() << "no shared data directory";
  const testing::DataFiles files = testing::StandardDataFiles(*shared);
  const EntryMap loaded = EntriesOf(ReadDictionaryEntries(files.dict, files.user));
  RuntimeDictionary dictionary(ReadDictionaryEntries(files.dict, files.user),
                               LoadHmmModel(files.hmm), 0);
  EXPECT_EQ(EntriesOf(*dictionary.Current()), loaded);
  dictionary.Apply({{DictionaryChange::Op::kAdd, "犇犇犇", 3, "nz"},
                    {DictionaryChange::Op::kDelete, "犇犇犇", std::nullopt, ""}});
  ASSERT_EQ(dictionary.Current()->overlay, nullptr);
  EXPECT_EQ(EntriesOf(*dictionary.Current()), loaded);
}

// Threads cutting while another adds and deletes a word, and merges a batch into a new trie,
// each get the result of the dictionary before or after a change, never anything else.
TEST(JiebaConcurrency, CutsDuringWordChangesSeeBeforeOrAfter) {
  const auto files = TinyDataFiles();
  Jieba engine(files.dict, files.hmm, files.user, files.idf, files.stop_words);
  const std::string sentence = "我来到北京清华大学研究生命科学";
  std::vector<WordSpan> without;
  engine.CutAllSpans(sentence, without);
  engine.InsertWord("清华大学研究", std::nullopt, "nt");
  std::vector<WordSpan> with;
  engine.CutAllSpans(sentence, with);
  engine.DeleteWord("清华大学研究");
  ASSERT_NE(with.size(), without.size());

  std::atomic<bool> stop{false};
  std::atomic<int> odd_results{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      std::vector<WordSpan> spans;
      std::vector<TaggedWord> tagged;
      while (!stop.load()) {
        engine.CutAllSpans(sentence, spans);
        const auto same = [](const std::vector<WordSpan>& a, const std::vector<WordSpan>& b) {
          if (a.size() != b.size()) return false;
          for (std::size_t i = 0; i < a.size(); ++i) {
            if (a[i].begin != b[i].begin || a[i].end != b[i].end) return false;
          }
          return true;
        };
        if (!same(spans, with) && !same(spans, without)) ++odd_results;
        engine.Tag(sentence, true, tagged);
        engine.Find("清华大学研究");
      }
    });
  }
  std::vector<DictionaryChange> batch;
  for (int i = 0; i < 1100; ++i) {
    batch.push_back({DictionaryChange::Op::kAdd, "犇" + std::to_string(i), 5, "nz"});
  }
  for (int round = 0; round < 50; ++round) {
    engine.InsertWord("清华大学研究", round, "nt");
    engine.DeleteWord("清华大学研究");
    if (round == 25) engine.ApplyChanges(batch);  // a merge into a new trie
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(odd_results.load(), 0);
  EXPECT_TRUE(engine.Find("犇1099"));
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
