// Counting a batch of raw texts for training (CountCorpus, AddCorpusCounts): dictionary words
// are counted by their trie node and the rest by their bytes, and the model this makes must be
// the one that training on each text's words in turn makes. Runs on the real data files when
// this checkout has them, else on the fuzz harness's tiny ones.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fuzz/jieba_check.h"
#include "search/bm25/batch_text.h"
#include "search/bm25/bm25.h"
#include "search/bm25/token_count_table.h"
#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/segmenter.h"
#include "tokenizer/jieba/utf8_decoder.h"
#include "tokenizer/jieba/white_space_word.h"

namespace orvel::typing::text {
namespace {

using tokenizer::jieba::CutMode;
using tokenizer::jieba::DictionaryTrie;
using tokenizer::jieba::Jieba;
using tokenizer::jieba::Rune;
using tokenizer::jieba::WordSpan;

// Dictionary words (main and user), words the HMM joins (names, unknown words), separators,
// ASCII words and numbers, stop words and repeats, across several texts.
const std::vector<std::string> kTexts = {
    "我来到北京清华大学",
    "小明硕士毕业于中国科学院计算所，后在杭州研究生命科学。",
    "C++ and 3.14 ok\t北京 北京大学研究生的了",
    "区块链云计算的的了了　中国中国",
    "我我我 中国中国。小明，小明",
};

const Jieba& Engine() {
  return fuzz::jieba_detail::FuzzEngine();
}

// kTexts over and over, to `bytes` bytes: batches of less than about half a megabyte per thread
// count nodes in a table, larger ones in an array over every node.
std::vector<std::string> Repeated(std::size_t bytes) {
  std::vector<std::string> texts;
  for (std::size_t size = 0; size < bytes;) {
    for (const std::string& text : kTexts) {
      texts.push_back(text);
      size += text.size();
    }
  }
  return texts;
}

TextBatch BatchOf(const std::vector<std::string>& texts) {
  TextBatch batch;
  batch.texts.assign(texts.begin(), texts.end());
  batch.unchecked.assign(texts.size(), false);
  return batch;
}

struct Model {
  std::int64_t documents;
  std::int64_t length_total;
  std::map<std::string, std::int64_t> counts;
  bool operator==(const Model& other) const {
    return documents == other.documents && length_total == other.length_total &&
           counts == other.counts;
  }
};

Model Snapshot(const BM25& model) {
  Model snapshot{model.doc_count(), model.doc_length_total(), {}};
  model.doc_token_frequency().for_each([&](std::string_view key, std::int64_t count) {
    snapshot.counts.emplace(std::string(key), count);
  });
  return snapshot;
}

// What a loop training on each text's words makes: the reference for the batch path.
Model TrainedOneByOne(const Jieba& jieba, const TextAnalysis& analysis,
                      const std::vector<std::string>& texts) {
  BM25 model(0.75, 1.2);
  for (const std::string& text : texts) {
    std::vector<WordSpan> spans;
    if (analysis.search_mode) {
      jieba.CutForSearchSpans(text, analysis.hmm, spans);
    } else {
      jieba.CutSpans(text, analysis.hmm, spans);
    }
    std::vector<std::string> words;
    for (const WordSpan& span : spans) {
      const std::string word = text.substr(span.begin, span.end - span.begin);
      const bool stop = jieba.IsStopWord(word) || tokenizer::jieba::IsWhiteSpaceWord(word);
      if (!(analysis.drop_stop_words && stop)) words.push_back(word);
    }
    model.train(words);
  }
  return Snapshot(model);
}

// Fault: a word filed under a hash other than its own (the counting threads hash the words
// the model files), which the model then never finds again and may hold twice.
void ExpectEveryWordFound(const BM25& model) {
  const TokenCountTable& table = model.doc_token_frequency();
  table.for_each([&](std::string_view key, std::int64_t count) {
    const std::int64_t* found = table.find(key);
    ASSERT_NE(found, nullptr) << key;
    EXPECT_EQ(*found, count) << key;
  });
}

Model CountedTogether(const Jieba& jieba, const TextAnalysis& analysis,
                      const std::vector<std::string>& texts, CorpusCounts& counts) {
  const TextFailure failure = CountCorpus(jieba, BatchOf(texts), analysis, counts);
  EXPECT_EQ(failure.kind, TextFailure::Kind::kNone);
  BM25 model(0.75, 1.2);
  AddCorpusCounts(counts, model);
  ExpectEveryWordFound(model);
  return Snapshot(model);
}

std::size_t NodeCountedWords(const CorpusCounts& counts) {
  std::size_t words = 0;
  for (const NodeCounter& counter : counts.node_counters) words += counter.size();
  return words;
}

// Fault: a word counted under another word's key (an HMM-joined word under its first rune's
// node, a search window under its whole word's, a one-rune word under another rune), a stop
// word kept because its key was met first, or a thread's counts lost at the fold; in either
// cut mode, with and without stop words, for a large batch and a small one.
TEST(CountCorpusTest, NodeCountsMakeTheModelOfTrainingTextByText) {
  const std::vector<std::string> large = Repeated(std::size_t{3} << 20);
  for (const bool search_mode : {true, false}) {
    for (const bool drop_stop_words : {false, true}) {
      for (const int threads : {1, 2}) {
        TextAnalysis analysis;
        analysis.search_mode = search_mode;
        analysis.drop_stop_words = drop_stop_words;
        analysis.threads = threads;
        CorpusCounts counts;
        EXPECT_EQ(CountedTogether(Engine(), analysis, large, counts),
                  TrainedOneByOne(Engine(), analysis, large))
            << search_mode << drop_stop_words << threads;
        EXPECT_GT(NodeCountedWords(counts), 0u) << "the node path was not taken";
        EXPECT_EQ(CountedTogether(Engine(), analysis, kTexts, counts),
                  TrainedOneByOne(Engine(), analysis, kTexts))
            << search_mode << drop_stop_words << threads;
        for (const NodeCounter& counter : counts.node_counters) {
          EXPECT_FALSE(counter.dense()) << "a small batch paid for an array over every node";
        }
      }
    }
  }
}

// Fault: words lost, listed twice or given another thread's total where the gathering splits
// each counter's words into blocks for its threads: some 32,000 one-rune words (Chinese and
// Hangul, three UTF-8 bytes each), most met by both threads, in a batch small enough for the
// table store and one large enough for the array.
TEST(CountCorpusTest, ManyDistinctWordsGatherAcrossBlocksAndThreads) {
  std::vector<Rune> runes;
  for (Rune rune = 0x4E00; rune <= 0x9FFF; ++rune) runes.push_back(rune);
  for (Rune rune = 0xAC00; rune <= 0xD7A3; ++rune) runes.push_back(rune);
  std::vector<std::string> texts(2800);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::size_t k = 0; k < 64; ++k) {
      const Rune rune = runes[(i % 1400 * 29 + k) % runes.size()];
      texts[i] +=
          {static_cast<char>(0xE0 | rune >> 12), static_cast<char>(0x80 | (rune >> 6 & 0x3F)),
           static_cast<char>(0x80 | (rune & 0x3F))};
      texts[i] += "，";
    }
  }
  for (const std::size_t count : {texts.size() / 2, texts.size()}) {
    const std::vector<std::string> batch(texts.begin(), texts.begin() + count);
    TextAnalysis analysis;
    analysis.threads = 2;
    CorpusCounts counts;
    EXPECT_EQ(CountedTogether(Engine(), analysis, batch, counts),
              TrainedOneByOne(Engine(), analysis, batch))
        << count;
  }
}

// Fault: counting by the nodes of the loaded trie while run-time words are pending, which that
// trie does not hold: the added word would be cut apart, the deleted one still found.
TEST(CountCorpusTest, RunTimeWordsAreCountedAsTheCutFindsThem) {
  Jieba changed(Engine());
  ASSERT_TRUE(changed.InsertWord("小明硕士", 100000, ""));
  ASSERT_TRUE(changed.DeleteWord("中国"));
  EXPECT_NE(Engine().PlainSegmenter(), nullptr);
  EXPECT_EQ(changed.PlainSegmenter(), nullptr);
  TextAnalysis analysis;
  analysis.threads = 2;
  CorpusCounts counts;
  const std::vector<std::string> texts = Repeated(std::size_t{3} << 20);
  const Model model = CountedTogether(changed, analysis, texts, counts);
  EXPECT_EQ(model, TrainedOneByOne(changed, analysis, texts));
  EXPECT_EQ(model.counts.count("小明硕士"), 1u);
}

// Fault: the node counters of the first pass kept when counting again up to a failure, so
// texts at or past the empty one, which a loop never reaches, are counted.
TEST(CountCorpusTest, AFailureCountsOnlyTheTextsBeforeIt) {
  // The failure in the middle, so that the node path counts the texts before it again.
  std::vector<std::string> texts = Repeated(std::size_t{4} << 20);
  const std::size_t empty = texts.size() / 2;
  texts.insert(texts.begin() + empty, "的了 的");  // nothing but stop words and a space
  texts.push_back("北京大学清华大学");
  TextAnalysis analysis;
  analysis.drop_stop_words = true;
  analysis.threads = 2;
  CorpusCounts counts;
  const TextFailure failure = CountCorpus(Engine(), BatchOf(texts), analysis, counts);
  ASSERT_EQ(failure.kind, TextFailure::Kind::kEmpty);
  EXPECT_EQ(failure.index, empty);
  EXPECT_GT(NodeCountedWords(counts), 0u) << "the node path was not taken";
  BM25 model(0.75, 1.2);
  AddCorpusCounts(counts, model);
  EXPECT_EQ(Snapshot(model),
            TrainedOneByOne(Engine(), analysis, {texts.begin(), texts.begin() + empty}));
}

// Fault: a stale node reported for a word (a word the HMM joined keeping the node of its first
// rune, a separator keeping an earlier rune's), or the words themselves changed by asking for
// nodes. Every node must spell its word exactly.
TEST(SegmenterNodesTest, EachNodeSpellsItsWord) {
  const auto segmenter = Engine().PlainSegmenter();
  ASSERT_NE(segmenter, nullptr);
  const DictionaryTrie& trie = segmenter->dictionary().trie;
  std::size_t with_node = 0, without_node = 0;
  for (const CutMode mode : {CutMode::kMixed, CutMode::kSearch}) {
    for (const std::string& text : kTexts) {
      std::vector<WordSpan> plain, spans;
      std::vector<DictionaryTrie::Node> nodes;
      ASSERT_TRUE(segmenter->Cut(text, mode, plain));
      ASSERT_TRUE(segmenter->CutWithNodes(text, mode, spans, nodes));
      ASSERT_EQ(spans.size(), plain.size()) << text;
      ASSERT_EQ(nodes.size(), spans.size()) << text;
      for (std::size_t i = 0; i < spans.size(); ++i) {
        EXPECT_EQ(spans[i].begin, plain[i].begin);
        EXPECT_EQ(spans[i].end, plain[i].end);
        const std::string word = text.substr(spans[i].begin, spans[i].end - spans[i].begin);
        if (nodes[i] == DictionaryTrie::kNotFound) {
          ++without_node;
          continue;
        }
        ++with_node;
        std::vector<Rune> runes;
        ASSERT_TRUE(tokenizer::jieba::AppendRunes(word, runes));
        DictionaryTrie::Node walked = DictionaryTrie::kRoot;
        for (const Rune rune : runes) walked = trie.Child(walked, trie.CodeOf(rune));
        EXPECT_EQ(nodes[i], walked) << word;
      }
    }
  }
  EXPECT_GT(with_node, 0u);
  EXPECT_GT(without_node, 0u);
}

// A word's bytes as NodeCounter::Add asks for them.
auto Bytes(std::string_view word) {
  return [word] { return word; };
}

// Fault: a node counter that forgets a dropped word and asks again (and counts it), or that
// visits a node other than once, with the bytes of its first occurrence and its total; in
// either store.
TEST(NodeCounterTest, CountsEachNodeOnceWithItsFirstBytes) {
  const auto check = [](NodeCounter counter) {
    int asked = 0;
    const auto drop_x = [&](std::string_view word) {
      ++asked;
      return word == "x";
    };
    const std::string_view text = "abcabcx";
    EXPECT_TRUE(counter.Add(7, Bytes(text.substr(0, 3)), drop_x));
    EXPECT_FALSE(counter.Add(9, Bytes(text.substr(6, 1)), drop_x));
    EXPECT_TRUE(counter.Add(7, Bytes(text.substr(3, 3)), drop_x));
    EXPECT_FALSE(counter.Add(9, Bytes(text.substr(6, 1)), drop_x));
    EXPECT_TRUE(counter.Add(99, Bytes(text.substr(1, 1)), drop_x));
    EXPECT_EQ(asked, 3);
    std::map<std::string, std::uint32_t> visited;
    std::vector<const char*> places;
    counter.ForEach([&](std::string_view word, std::uint32_t count) {
      places.push_back(word.data());
      EXPECT_TRUE(visited.emplace(std::string(word), count).second) << word;
    });
    EXPECT_EQ(visited, (std::map<std::string, std::uint32_t>{{"abc", 2}, {"b", 1}}));
    EXPECT_EQ(places, (std::vector<const char*>{text.data(), text.data() + 1}));
    EXPECT_EQ(counter.size(), 2u);
    EXPECT_EQ(counter.Count(9), 0u);
    EXPECT_EQ(counter.Count(8), 0u);
  };
  check(NodeCounter::Dense(100));
  check(NodeCounter::Hashed(4));
}

// Fault: a dense array mapped shorter than its keys or not zero at first (a segfault or a
// wrong count). Sizes on either side of the 2 MiB steps the array is aligned and rounded to.
TEST(NodeCounterTest, DenseArraysOfEverySizeStartAtZero) {
  const auto never = [](std::string_view) { return false; };
  for (const NodeCounter::Node keys : {1000u, (1u << 19) - 1, 1u << 19, (1u << 19) + 1, 900001u}) {
    NodeCounter counter = NodeCounter::Dense(keys);
    counter.Prefault();
    for (const NodeCounter::Node key : {1u, keys / 2, keys - 1}) {
      EXPECT_EQ(counter.Count(key), 0u) << keys;
      counter.Add(key, Bytes("a"), never);
      EXPECT_EQ(counter.Count(key), 1u) << keys;
    }
  }
}

// Fault: a table that loses or moves counts when it grows, or that stops a lookup at a dropped
// key's entry. Keys that are multiples of a power of two, like neighbouring trie nodes, must
// not pile up in one stretch of the table.
TEST(NodeCounterTest, TableKeepsCountsAcrossGrowth) {
  NodeCounter counter = NodeCounter::Hashed(4);
  const auto drop_odd = [](std::string_view word) { return word == "odd"; };
  constexpr NodeCounter::Node kKeys = 5000;
  for (int round = 0; round < 3; ++round) {
    for (NodeCounter::Node key = 1; key <= kKeys; ++key) {
      if (round < 1 + static_cast<int>(key % 3)) {
        counter.Add(key * 1024, Bytes(key % 2 == 1 ? "odd" : "even"), drop_odd);
      }
    }
  }
  EXPECT_EQ(counter.size(), kKeys / 2);
  for (NodeCounter::Node key = 1; key <= kKeys; ++key) {
    EXPECT_EQ(counter.Count(key * 1024), key % 2 == 1 ? 0u : 1 + key % 3) << key;
  }
  EXPECT_EQ(counter.Count(7), 0u);
}

}  // namespace
}  // namespace orvel::typing::text
