// Each stage of the cutting pipeline on its own, on tables small enough to reason about: the
// rune map, the slot allocator, the dictionary trie, the maximum-probability cut and the HMM
// cut. The golden and example tests cover the whole pipeline; these name the stage that broke.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "tokenizer/jieba/dictionary.h"
#include "tokenizer/jieba/dictionary_trie.h"
#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/max_prob_cutter.h"
#include "tokenizer/jieba/narrow_id_array.h"
#include "tokenizer/jieba/rune_map.h"
#include "tokenizer/jieba/slot_allocator.h"
#include "tokenizer/jieba/word_entries.h"

namespace orvel::tokenizer::jieba {
namespace {

// --- rune map ---

TEST(JiebaRuneMapTest, LaterEntryWinsInTheFlatTableAndAboveIt) {
  // Fault caught: the first of two entries kept, or high runes left unsorted.
  const RuneMap map({{0x4E2D, 5}, {0x1F600, 7}, {0x10000, 3}, {0x4E2D, 9}, {0x1F600, 8}});
  EXPECT_EQ(map.Find(0x4E2D), 9u);
  EXPECT_EQ(map.Find(0x1F600), 8u);
  EXPECT_EQ(map.Find(0x10000), 3u);  // first rune above the flat table
}

TEST(JiebaRuneMapTest, AbsentRunesGiveZero) {
  // Fault caught: a neighbour's id returned by the binary search, or an empty map read.
  const RuneMap map({{0x1F600, 7}});
  EXPECT_EQ(map.Find('A'), 0u);  // flat table never allocated
  EXPECT_EQ(map.Find(0x1F5FF), 0u);
  EXPECT_EQ(map.Find(0x1F601), 0u);
  EXPECT_EQ(RuneMap().Find(0x1F600), 0u);
}

// --- slot allocator ---

TEST(JiebaSlotAllocatorTest, FindsTheLowestBaseWhoseSlotsAreAllFree) {
  // Fault caught: a base accepted when one of its slots is taken.
  SlotAllocator allocator;
  allocator.Take(0);
  EXPECT_EQ(allocator.FindBase({1, 2}, 0, SlotAllocator::kUnlimited), 0u);
  allocator.Take(1);
  allocator.Take(2);
  allocator.Take(4);
  EXPECT_EQ(allocator.FindBase({1, 2}, 0, SlotAllocator::kUnlimited), 4u);  // 5, 6
  EXPECT_EQ(allocator.FindBase({1, 3}, 0, SlotAllocator::kUnlimited), 2u);  // 3, 5: gaps fit
}

TEST(JiebaSlotAllocatorTest, CrossesSixtyFourSlotWords) {
  // Fault caught: the shifted free bits of the next 64-bit word dropped.
  SlotAllocator allocator;
  for (std::uint32_t slot = 0; slot < 64; ++slot) allocator.Take(slot);
  EXPECT_EQ(allocator.FindBase({1}, 0, SlotAllocator::kUnlimited), 63u);
  allocator.Take(65);
  EXPECT_EQ(allocator.FindBase({1, 2}, 0, SlotAllocator::kUnlimited), 65u);  // 66, 67
}

TEST(JiebaSlotAllocatorTest, HintSkipsEarlierBasesUnlessABudgetAllowsThem) {
  // Fault caught: the hint ignored (slow builds) or the budgeted early search skipped.
  SlotAllocator allocator;
  allocator.Take(0);
  EXPECT_EQ(allocator.FindBase({1}, 100, SlotAllocator::kUnlimited), 100u);
  EXPECT_EQ(allocator.FindBase({1}, 100, 64), 0u);
}

TEST(JiebaSlotAllocatorTest, SkippingFullStretchesKeepsTheLowestFittingBase) {
  // Fault caught: the jump over full stretches of the array passing a base that fits. Slots
  // 1 to 3 stay free and out of reach of every code (as below the dense part of a trie), so
  // each search starts at 0 and must skip; the answers are checked against a plain scan.
  SlotAllocator allocator;
  std::vector<bool> taken(1 << 16, false);
  std::uint64_t state = 12345;
  const auto next = [&state](std::uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>((state >> 33) % bound);
  };
  for (std::uint32_t slot = 0; slot < 6000; ++slot) {
    if ((slot == 0 || slot > 3) && next(100) < 97) {
      allocator.Take(slot);
      taken[slot] = true;
    }
  }
  for (int set = 0; set < 300; ++set) {
    std::vector<std::uint32_t> codes;
    for (std::uint32_t count = 1 + next(4); codes.size() < count;) {
      const std::uint32_t code = 4 + next(300);
      if (std::find(codes.begin(), codes.end(), code) == codes.end()) codes.push_back(code);
    }
    std::sort(codes.begin(), codes.end());
    std::uint32_t expected = 0;
    while (std::any_of(codes.begin(), codes.end(),
                       [&](std::uint32_t code) { return taken[expected + code]; })) {
      ++expected;
    }
    ASSERT_EQ(allocator.FindBase(codes, 0, SlotAllocator::kUnlimited), expected) << set;
    for (const std::uint32_t code : codes) {
      allocator.Take(expected + code);
      taken[expected + code] = true;
    }
  }
}

// --- dictionary trie ---

// Words of the given rune sequences and weights, in precedence order.
WordEntries Words(const std::vector<std::pair<std::vector<Rune>, double>>& words) {
  WordEntries entries;
  for (const auto& [runes, weight] : words) {
    entries.runes().insert(entries.runes().end(), runes.begin(), runes.end());
    entries.Add(weight);
  }
  return entries;
}

std::vector<DictionaryTrie::Code> Codes(const DictionaryTrie& trie,
                                        const std::vector<Rune>& runes) {
  std::vector<DictionaryTrie::Code> codes;
  for (const Rune rune : runes) codes.push_back(trie.CodeOf(rune));
  return codes;
}

bool Contains(const DictionaryTrie& trie, const std::vector<Rune>& runes) {
  const auto codes = Codes(trie, runes);
  return trie.Contains(codes.data(), codes.size());
}

double WeightOf(const DictionaryTrie& trie, const std::vector<Rune>& runes) {
  DictionaryTrie::Node node = DictionaryTrie::kRoot;
  for (const Rune rune : runes) node = trie.Child(node, trie.CodeOf(rune));
  EXPECT_TRUE(node != DictionaryTrie::kNotFound && trie.IsWord(node));
  return trie.Weight(node);
}

TEST(JiebaDictionaryTrieTest, LastOfEqualWordsTakesPrecedence) {
  // Fault caught: the first entry of a run of equal words kept (user words must override).
  const DictionaryTrie trie(Words({{{'a', 'b'}, -5.0}, {{'a'}, -1.0}, {{'a', 'b'}, -3.0}}), 8);
  EXPECT_EQ(WeightOf(trie, {'a', 'b'}), -3.0);
  EXPECT_EQ(WeightOf(trie, {'a'}), -1.0);
}

TEST(JiebaDictionaryTrieTest, PrefixesAreNotWordsAndUnknownRunesHaveNoChildren) {
  // Fault caught: an inner node taken for a word, or a code-0 step landing on a slot.
  const DictionaryTrie trie(Words({{{'a', 'b', 'c'}, -1.0}, {{'x'}, -2.0}}), 8);
  EXPECT_TRUE(Contains(trie, {'a', 'b', 'c'}));
  EXPECT_FALSE(Contains(trie, {'a', 'b'}));
  EXPECT_FALSE(Contains(trie, {'a', 'b', 'c', 'c'}));
  EXPECT_FALSE(Contains(trie, {'b', 'c'}));
  EXPECT_EQ(trie.CodeOf('z'), DictionaryTrie::kNoCode);
  EXPECT_EQ(trie.Child(DictionaryTrie::kRoot, DictionaryTrie::kNoCode), DictionaryTrie::kNotFound);
}

TEST(JiebaDictionaryTrieTest, RootChildrenSitAtTheirCodesWhenAnotherSetIsWider) {
  // Fault caught: the root's set placed after a wider one and away from base 0, where a walk's
  // first step (RootChild) takes each code for its node's slot. Here x's set {x, y, z} would
  // take slots 1..3 first, x's own code among them.
  const DictionaryTrie trie(
      Words({{{'x'}, -1.0}, {{'x', 'x'}, -2.0}, {{'x', 'y'}, -3.0}, {{'x', 'z'}, -4.0}}), 8);
  EXPECT_EQ(trie.RootChild(trie.CodeOf('x')), trie.CodeOf('x'));
  EXPECT_EQ(trie.RootChild(trie.CodeOf('y')), DictionaryTrie::kNotFound);
  EXPECT_TRUE(Contains(trie, {'x'}));
  EXPECT_TRUE(Contains(trie, {'x', 'x'}));
  EXPECT_TRUE(Contains(trie, {'x', 'z'}));
  EXPECT_FALSE(Contains(trie, {'z'}));
}

TEST(JiebaDictionaryTrieTest, WordsOfWeightZeroAreStillWords) {
  // Fault caught: a word whose weight equals the non-word slots' 0.0 given their weight id, and
  // with it taken for a prefix only.
  const DictionaryTrie trie(Words({{{'a'}, 0.0}, {{'a', 'b'}, -0.0}, {{'a', 'b', 'c'}, -1.0}}), 8);
  EXPECT_TRUE(Contains(trie, {'a'}));
  EXPECT_TRUE(Contains(trie, {'a', 'b'}));
  EXPECT_TRUE(std::signbit(WeightOf(trie, {'a', 'b'})));
  EXPECT_EQ(trie.word_count(), 3u);
}

TEST(JiebaDictionaryTrieTest, KeepsWordsUpToTheLengthLimitOnly) {
  // Fault caught: an off-by-one at the 512-rune cut-off.
  std::vector<Rune> longest;
  for (std::size_t i = 0; i < kMaxWordRunes; ++i) longest.push_back(i % 2 ? 0x8BD5 : 0x6D4B);
  std::vector<Rune> too_long = longest;
  too_long.push_back(0x957F);
  const DictionaryTrie trie(Words({{longest, -1.0}, {too_long, -1.0}}), kMaxWordRunes);
  EXPECT_TRUE(Contains(trie, longest));
  EXPECT_FALSE(Contains(trie, too_long));
}

TEST(JiebaDictionaryTrieTest, ForEachWordGivesEveryWordOnceWithTheWeightThatWon) {
  // Fault caught: a rebuild from the trie (run-time merges) getting a rune back from the wrong
  // code (above the BMP too), a word twice or an inner node as a word, or a duplicate's
  // earlier weight.
  const std::vector<Rune> too_long(9, 'q');
  const DictionaryTrie trie(Words({{{'a', 'b'}, -5.0},
                                   {{'a'}, -1.0},
                                   {{'a', 'b', 'c', 'd'}, -2.0},
                                   {{0x1F600, 'a'}, -4.0},
                                   {{'a', 'b'}, -3.0},
                                   {too_long, -6.0},
                                   {{}, -7.0}}),
                            8);
  std::map<std::vector<Rune>, double> words;
  std::size_t calls = 0;
  trie.ForEachWord([&](DictionaryTrie::Node node, const Rune* runes, std::size_t length) {
    ++calls;
    words[std::vector<Rune>(runes, runes + length)] = trie.Weight(node);
  });
  const std::map<std::vector<Rune>, double> expected = {
      {{'a'}, -1.0}, {{'a', 'b'}, -3.0}, {{'a', 'b', 'c', 'd'}, -2.0}, {{0x1F600, 'a'}, -4.0}};
  EXPECT_EQ(words, expected);
  EXPECT_EQ(calls, expected.size());
  EXPECT_EQ(trie.word_count(), expected.size());
}

// --- narrow id array ---

TEST(JiebaNarrowIdArrayTest, WidthHoldsTheLargestIdAndNeighboursStayApart) {
  // Fault caught: an id cut to a width too small for it (a tag read back as another tag), or
  // neighbouring ids overlapping at two or four bytes.
  for (const auto& [max_id, width] : std::vector<std::pair<std::uint32_t, unsigned>>{
           {255, 1}, {256, 2}, {65535, 2}, {65536, 4}, {0xFFFFFFFFu, 4}}) {
    NarrowIdArray ids(3, max_id);
    EXPECT_EQ(ids.width(), width) << max_id;
    EXPECT_EQ(ids.size(), 3u);
    ids.Set(0, max_id);
    ids.Set(2, max_id - 1);
    EXPECT_EQ(ids.Get(0), max_id);
    EXPECT_EQ(ids.Get(1), 0u);  // untouched by both neighbours
    EXPECT_EQ(ids.Get(2), max_id - 1);
  }
}

TEST(JiebaNarrowIdArrayTest, AnIdAboveTheMaximumIsRefused) {
  // Fault caught: an id above the maximum silently wrapped to a smaller one.
  NarrowIdArray ids(2, 255);
  EXPECT_THROW(ids.Set(0, 256), std::out_of_range);
  EXPECT_EQ(ids.Get(0), 0u);
}

// --- maximum-probability cut ---

// Word lengths at each word's first rune, as CutMaxProbability leaves them.
std::vector<std::uint32_t> CutLengths(const Dictionary& dictionary,
                                      const std::vector<Rune>& runes) {
  const auto codes = Codes(dictionary.trie, runes);
  std::vector<double> best(runes.size() + 1);
  std::vector<std::uint32_t> length(runes.size(), 0);
  CutMaxProbability(dictionary, codes.data(), codes.size(), best.data(), length.data());
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < runes.size(); i += length[i]) words.push_back(length[i]);
  return words;
}

Dictionary MakeDictionary(const std::vector<std::pair<std::vector<Rune>, double>>& words,
                          double min_weight) {
  Dictionary dictionary;
  dictionary.trie = DictionaryTrie(Words(words), kMaxWordRunes);
  dictionary.min_weight = min_weight;
  dictionary.single_rune_weights = SingleRuneWeights(dictionary.trie, dictionary.min_weight);
  return dictionary;
}

TEST(JiebaMaxProbCutTest, EqualSumsKeepTheShorterFirstWord) {
  // Fault caught: >= instead of > when a longer candidate ties.
  const Dictionary d = MakeDictionary({{{'a'}, -1.0}, {{'b'}, -1.0}, {{'a', 'b'}, -2.0}}, -9.0);
  EXPECT_EQ(CutLengths(d, {'a', 'b'}), (std::vector<std::uint32_t>{1, 1}));
}

TEST(JiebaMaxProbCutTest, StrictlyBetterLongerWordWins) {
  // Fault caught: the walk stopping before the longest candidate.
  const Dictionary d =
      MakeDictionary({{{'a'}, -1.0}, {{'b'}, -1.0}, {{'a', 'b'}, -1.5}, {{'c'}, -1.0}}, -9.0);
  EXPECT_EQ(CutLengths(d, {'a', 'b', 'c'}), (std::vector<std::uint32_t>{2, 1}));
}

TEST(JiebaMaxProbCutTest, UnknownRunesCostTheMinimumWeight) {
  // Fault caught: an unknown rune scored 0 (free), which would make it beat every word.
  const Dictionary d = MakeDictionary({{{'a', 'z'}, -5.0}, {{'a'}, -1.0}}, -3.0);
  // a + z costs -1 + -3 = -4, better than the word az at -5.
  EXPECT_EQ(CutLengths(d, {'a', 'z'}), (std::vector<std::uint32_t>{1, 1}));
}

// --- HMM cut ---

// Equal starts; B reaches E and S reaches S at -1, every other step costs -2; every state emits
// 'X' at 0. Ties appear at every step.
HmmModel TieModel() {
  HmmModel model;
  model.start = {-1, -1, -1, -1};
  model.transition = {{{-2, -1, -2, -2}, {-2, -2, -2, -2}, {-2, -2, -2, -2}, {-2, -2, -2, -1}}};
  model.emissions = {{kMinLogProb, kMinLogProb, kMinLogProb, kMinLogProb}, {0, 0, 0, 0}};
  model.emission_ids = RuneMap({{'X' + 0x4E00, 1}});
  return model;
}

std::vector<std::uint32_t> HmmLengths(const HmmModel& model, const std::vector<Rune>& runes) {
  std::vector<std::uint8_t> scratch(HmmScratchBytes(runes.size()));
  std::vector<std::uint32_t> length(runes.size(), 0);
  CutWithHmm(model, runes.data(), runes.size(), scratch.data(), length.data());
  std::vector<std::uint32_t> words;
  for (std::size_t i = 0; i < runes.size(); i += length[i]) words.push_back(length[i]);
  return words;
}

constexpr Rune kX = 'X' + 0x4E00;  // a non-ASCII rune, so it goes to Viterbi

TEST(JiebaHmmCutTest, FinalEndSingleTieGoesToEnd) {
  // E (from B) and S (from S) both score -2 at the last rune. Fault caught: the tie given to
  // S, which would cut the pair into two single runes.
  EXPECT_EQ(HmmLengths(TieModel(), {kX, kX}), (std::vector<std::uint32_t>{2}));
}

TEST(JiebaHmmCutTest, LongerRunFollowsTheBestFinalState) {
  // S wins outright at the end (-4 against -5) and came from S all the way.
  EXPECT_EQ(HmmLengths(TieModel(), {kX, kX, kX, kX}), (std::vector<std::uint32_t>{1, 1, 1, 1}));
}

TEST(JiebaHmmCutTest, AsciiRunsAndDecimalsAreTokensOfTheirOwn) {
  // Fault caught: a decimal point joined without a digit after it, or letters split.
  EXPECT_EQ(HmmLengths(TieModel(), {'a', '1', '.', '5', '.', kX, kX}),
            (std::vector<std::uint32_t>{4, 1, 2}));
  EXPECT_EQ(HmmLengths(TieModel(), {'v', '2', '.', 'x'}), (std::vector<std::uint32_t>{2, 1, 1}));
}

// Start and emissions as the standard model has them in shape: the transitions that break words
// are kMinLogProb, the others tie at -1; three runes: one that state M cannot emit, one that
// every state emits alike (so predecessors tie) and one that none can (so sums saturate).
HmmModel WordShapedModel() {
  HmmModel model;
  const double no = kMinLogProb;
  model.start = {-1, no, no, -1};
  model.transition = {{{no, -1, -1, no}, {-1, no, no, -1}, {no, -1, -1, no}, {-1, no, no, -1}}};
  model.emissions = {{no, no, no, no}, {-1, -2, no, -1}, {-1, -1, -1, -1}, {no, no, no, no}};
  model.emission_ids = RuneMap({{kX, 1}, {kX + 1, 2}, {kX + 2, 3}});
  FindWordTransitions(model);
  return model;
}

TEST(JiebaHmmCutTest, WordTransitionsOnlyWhenTheOthersCannotWin) {
  // Fault caught: the two-predecessor Viterbi used for a model where another transition can
  // win, which would change its cuts.
  EXPECT_TRUE(WordShapedModel().word_transitions_only);
  HmmModel positive = WordShapedModel();
  positive.emissions[2][kStateM] = 0.5;
  FindWordTransitions(positive);
  EXPECT_FALSE(positive.word_transitions_only);
  HmmModel open = WordShapedModel();
  open.transition[kStateB][kStateB] = -1e99;  // low, but above kMinLogProb
  FindWordTransitions(open);
  EXPECT_FALSE(open.word_transitions_only);
  EXPECT_FALSE(TieModel().word_transitions_only);
}

TEST(JiebaHmmCutTest, WordTransitionsGiveTheCutsOfAllFour) {
  // Fault caught: the two-predecessor Viterbi trying predecessors in another order (ties) or
  // handling saturated sums differently from the full one.
  HmmModel all_four = WordShapedModel();
  all_four.word_transitions_only = false;
  std::uint32_t state = 12345;
  for (int sentence = 0; sentence < 300; ++sentence) {
    std::vector<Rune> runes(2 + sentence % 9);
    for (Rune& rune : runes) {
      state = state * 1103515245u + 12345u;
      rune = kX + (state >> 16) % 3;
    }
    EXPECT_EQ(HmmLengths(WordShapedModel(), runes), HmmLengths(all_four, runes));
  }
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
