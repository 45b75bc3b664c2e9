// The engine-side pieces of the batch methods: token ids, the stop-word and white-space
// filters, the thread pool, and term counting and weighting against the per-item encoders.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "search/bm25/batch_terms.h"
#include "search/bm25/bm25.h"
#include "search/bm25/token_hash.h"
#include "search/bm25/word_counter.h"
#include "tokenizer/jieba/parallel_batch.h"
#include "tokenizer/jieba/white_space_word.h"

namespace orvel {
namespace {

using tokenizer::jieba::ForEachIndexInParallel;
using tokenizer::jieba::IsWhiteSpaceWord;
using typing::text::BM25;
using typing::text::ItemTerms;
using typing::text::MurmurHash3X86_32;

// Fault: a wrong constant, tail handling or byte order gives ids no other client shares.
// Values as the mmh3 package gives them; every tail length 0-3 and a full block appear.
TEST(MurmurHash3Test, MatchesPublishedValuesForEveryTailLength) {
  EXPECT_EQ(MurmurHash3X86_32(""), 0u);
  EXPECT_EQ(MurmurHash3X86_32("", 1), 0x514e28b7u);
  EXPECT_EQ(MurmurHash3X86_32("a"), 0x3c2569b2u);
  EXPECT_EQ(MurmurHash3X86_32("ab"), 0x9bbfd75fu);
  EXPECT_EQ(MurmurHash3X86_32("abc"), 0xb3dd93fau);
  EXPECT_EQ(MurmurHash3X86_32("abcd"), 0x43ed676au);
  EXPECT_EQ(MurmurHash3X86_32("hello", 1), 0xbb4abcadu);
  // High bytes: a signed-char read would change this one.
  EXPECT_EQ(MurmurHash3X86_32("我来到北京"), 0xfffd744fu);
}

// Fault: missing a Unicode space leaves it in vectors; taking any byte >= 0x80 drops words.
TEST(WhiteSpaceWordTest, FollowsPythonIsspace) {
  EXPECT_TRUE(IsWhiteSpaceWord(" "));
  EXPECT_TRUE(IsWhiteSpaceWord("\t\r\n\x0b\x0c\x1c"));
  EXPECT_TRUE(IsWhiteSpaceWord("\xc2\xa0\xc2\x85"));          // U+00A0, U+0085
  EXPECT_TRUE(IsWhiteSpaceWord("\xe3\x80\x80"));              // U+3000 ideographic space
  EXPECT_TRUE(IsWhiteSpaceWord("\xe2\x80\x8a\xe2\x80\xaf"));  // U+200A, U+202F
  EXPECT_FALSE(IsWhiteSpaceWord(""));
  EXPECT_FALSE(IsWhiteSpaceWord(" a"));
  EXPECT_FALSE(IsWhiteSpaceWord("\xe2\x80\x8b"));  // U+200B zero-width space is not
  EXPECT_FALSE(IsWhiteSpaceWord("\xc2"));          // truncated
  EXPECT_FALSE(IsWhiteSpaceWord("中"));
}

// Fault: an index handed out twice or never (a race on the shared counter).
TEST(ParallelBatchTest, VisitsEveryIndexOnceOnEachThreadCount) {
  for (int threads : {1, 2, 3}) {
    std::vector<std::atomic<int>> visits(1000);
    ForEachIndexInParallel(visits.size(), threads, [&](std::size_t index, int worker) {
      EXPECT_LT(worker, threads);
      ++visits[index];
    });
    for (const auto& count : visits) ASSERT_EQ(count.load(), 1) << threads << " threads";
  }
}

// Fault: threads=1 spawning a thread would break callers that rely on running in the caller.
TEST(ParallelBatchTest, OneThreadRunsInTheCaller) {
  const std::thread::id caller = std::this_thread::get_id();
  ForEachIndexInParallel(10, 1,
                         [&](std::size_t, int) { EXPECT_EQ(std::this_thread::get_id(), caller); });
}

// Fault: an exception on a helper thread terminating the process instead of reaching the caller.
TEST(ParallelBatchTest, RethrowsTheFirstExceptionAfterAllThreadsStop) {
  EXPECT_THROW(ForEachIndexInParallel(100, 2,
                                      [](std::size_t index, int) {
                                        if (index == 37) throw std::invalid_argument("x");
                                      }),
               std::invalid_argument);
}

// Fault: words of 17+ bytes that share their first and last 8 bytes counted as one (the short
// path compares only those), or counts lost when the table grows.
TEST(WordCounterTest, CountsEveryDistinctWordThroughGrowth) {
  std::vector<std::string> words;
  for (int i = 0; i < 20000; ++i) words.push_back(std::to_string(i % 7000));
  for (char middle : {'x', 'y', 'z'}) {
    words.push_back("12345678" + std::string(5, middle) + "87654321");
  }
  words.push_back("");
  words.push_back("中文分词");
  std::map<std::string, std::uint32_t> expected;
  typing::text::WordCounter counter;
  for (const std::string& word : words) {
    ++expected[word];
    counter.Add(word);
  }
  const auto counted = [](const typing::text::WordCounter& counter) {
    std::map<std::string, std::uint32_t> counts;
    counter.ForEach([&](std::string_view word, std::uint32_t count) {
      EXPECT_TRUE(counts.emplace(std::string(word), count).second) << word;
    });
    return counts;
  };
  EXPECT_EQ(counted(counter), expected);

  // Fault: AddAll hashes a run of words before adding them, so a table that grows within a run
  // must still place the run's later words by the new size; and the last, partial run counts.
  typing::text::WordCounter batched;
  const std::vector<std::string_view> views(words.begin(), words.end());
  batched.AddAll(views.data(), views.size());
  EXPECT_EQ(counted(batched), expected);

  // Fault: a table sized from an estimate that is not a power of two (slots are found by
  // masking the hash), or that must still grow when the estimate falls short, or is far above.
  for (const std::size_t estimate : {std::size_t{0}, std::size_t{3000}, std::size_t{50000}}) {
    typing::text::WordCounter sized(estimate);
    sized.AddAll(views.data(), views.size());
    EXPECT_EQ(counted(sized), expected) << estimate;
  }
}

// Fault: counting by hash and sorting by an eight-byte prefix must still give std::map's key
// order: tokens equal in their first eight bytes, a zero byte against the padding, bytes above
// 0x7F as unsigned, and repeats counted once each.
TEST(BatchTermsTest, CountedTermsFollowByteOrder) {
  const std::vector<std::string> tokens{
      "abcdefghZ", "abcdefgh", std::string("ab\0", 3), "ab", "\xE4\xB8\xAD", "z", "ab", "abcdefghA",
      "z",         "ab"};
  std::map<std::string, std::uint32_t> expected;
  for (const std::string& token : tokens) ++expected[token];
  std::vector<std::string_view> views(tokens.begin(), tokens.end());
  ItemTerms item;
  typing::text::CountTokens(views, true, item);
  ASSERT_EQ(item.terms.size(), expected.size());
  EXPECT_EQ(item.length, tokens.size());
  std::size_t i = 0;
  for (const auto& [token, count] : expected) {
    EXPECT_EQ(item.terms[i].token, token) << i;
    EXPECT_EQ(item.terms[i].count, count) << token;
    EXPECT_EQ(item.terms[i].id, MurmurHash3X86_32(token)) << token;
    ++i;
  }
}

BM25 TrainedModel() {
  BM25 model(0.75, 1.2);
  model.train(std::vector<std::string>{"a", "b", "a", "中文"});
  model.train(std::vector<std::string>{"b", "c"});
  model.train(std::vector<long long>{7, -3, 7});
  return model;
}

// Fault: batch weights drifting from the per-item encoders (grouping, key order, idf of ints).
TEST(BatchTermsTest, WeightsEqualThePerItemEncodersBitForBit) {
  BM25 model = TrainedModel();
  const std::vector<std::string> tokens{"c", "a", "中文", "a", "zz", "b"};
  std::vector<std::string_view> views(tokens.begin(), tokens.end());
  ItemTerms item;
  typing::text::CountTokens(views, false, item);
  std::vector<double> weights;
  typing::text::DocumentWeights(model, item, weights);
  const std::map<std::string, double> document = model.encode_document(tokens);
  ASSERT_EQ(item.terms.size(), document.size());
  std::size_t i = 0;
  for (const auto& [key, weight] : document) {
    EXPECT_EQ(item.terms[i].token, key);
    EXPECT_EQ(weights[i++], weight);  // exact
  }
  typing::text::QueryWeights(model, item, weights);
  i = 0;
  for (const auto& [key, weight] : model.encode_query(tokens)) EXPECT_EQ(weights[i++], weight);

  std::vector<long long> integers{7, 100, -3, 7};
  const std::map<long long, double> query = model.encode_query(integers);
  typing::text::CountIntegers(integers, true, item);
  typing::text::QueryWeights(model, item, weights);
  i = 0;
  for (const auto& [key, weight] : query) {
    EXPECT_EQ(item.terms[i].integer, key);
    EXPECT_EQ(weights[i++], weight);
  }
  EXPECT_EQ(item.terms[0].id, MurmurHash3X86_32("-3"));  // ints hash as their decimal text
}

// Fault: colliding ids kept twice (a vector store rejects duplicate indices) or not summed.
TEST(BatchTermsTest, SparseEntriesSumCollidingIdsAndSortById) {
  ItemTerms item;
  item.terms.resize(3);
  item.terms[0].id = 9;
  item.terms[1].id = 2;
  item.terms[2].id = 9;
  std::vector<std::pair<std::uint32_t, double>> entries;
  typing::text::SparseEntries(item, {0.25, 0.5, 0.125}, entries);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (std::pair<std::uint32_t, double>{2, 0.5}));
  EXPECT_EQ(entries[1], (std::pair<std::uint32_t, double>{9, 0.375}));
}

std::vector<std::string_view> Views(const std::vector<std::string>& tokens) {
  return {tokens.begin(), tokens.end()};
}

// Fault: a counter reused across documents keeping a slot or a term of the document before
// (most likely after a longer one, whose table was larger), so a later document's terms or
// counts differ from a fresh count.
TEST(BatchTermsTest, ReusedCounterCountsEachDocumentAfresh) {
  std::vector<std::string> long_document;
  for (int i = 0; i < 300; ++i) long_document.push_back("词" + std::to_string(i % 120));
  const std::vector<std::vector<std::string>> documents{
      long_document, {"b", "a", "b"}, {}, {"a"}, long_document};
  typing::text::TermCounter counter;
  ItemTerms item;
  for (const auto& tokens : documents) {
    std::map<std::string, std::uint32_t> expected;
    for (const std::string& token : tokens) ++expected[token];
    counter.Count(Views(tokens), true, item);
    ASSERT_EQ(item.terms.size(), expected.size());
    EXPECT_EQ(item.length, tokens.size());
    std::size_t i = 0;
    for (const auto& [token, count] : expected) {
      EXPECT_EQ(item.terms[i].token, token);
      EXPECT_EQ(item.terms[i++].count, count) << token;
    }
  }
}

// Fault: rows made straight from tokens drifting from counting, weighing and SparseEntries:
// weights not bit-equal, colliding ids kept twice or not summed ("t24266" and "t120296" share
// MurmurHash3 id 1444528453), or a row's start misplaced when rows (an empty one too) are
// appended back to back.
TEST(BatchTermsTest, SparseRowsEqualTheCountedWeighedEntries) {
  const BM25 model = TrainedModel();
  const typing::text::DocumentScale scale(model);
  ASSERT_EQ(MurmurHash3X86_32("t24266"), MurmurHash3X86_32("t120296"));
  // The last document is long enough to be sorted by buckets of ids rather than by insertion.
  std::vector<std::string> long_document{"t24266", "t120296"};
  for (int i = 0; i < 300; ++i) long_document.push_back("词" + std::to_string(i % 120));
  const std::vector<std::vector<std::string>> documents{
      {"t120296", "x", "t24266", "x", "y", "t24266", "中文"},
      {},
      {"中文", "a", "a", "b", "c"},
      long_document};
  typing::text::TermCounter counter;
  typing::text::SparseRows rows;
  for (const auto& tokens : documents) counter.AppendSparse(Views(tokens), scale, rows);
  ASSERT_EQ(rows.rows(), documents.size());
  for (std::size_t r = 0; r < documents.size(); ++r) {
    std::vector<std::string_view> views = Views(documents[r]);
    ItemTerms item;
    typing::text::CountTokens(views, true, item);
    std::vector<double> weights;
    typing::text::DocumentWeights(scale, item, weights);
    std::vector<std::pair<std::uint32_t, double>> entries;
    typing::text::SparseEntries(item, weights, entries);
    ASSERT_EQ(rows.starts[r + 1] - rows.starts[r], entries.size()) << r;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(rows.ids[rows.starts[r] + i], entries[i].first);
      EXPECT_EQ(rows.values[rows.starts[r] + i], entries[i].second);  // exact
    }
  }
  EXPECT_EQ(rows.starts[1], 4u);  // five distinct tokens, two of them on one id
}

// Fault: entries marked to share one weight object whose weights differ (a summed collision,
// or another count), or a mark pointing outside the row or past the entry.
TEST(BatchTermsTest, SparseRowsShareOnlyEqualWeights) {
  const BM25 model = TrainedModel();
  const typing::text::DocumentScale scale(model);
  const std::vector<std::vector<std::string>> documents{
      {"a", "b", "c", "a", "t24266", "t120296", "d", "d", "e"}, {"b", "c"}};
  typing::text::TermCounter counter;
  typing::text::SparseRows rows;
  for (const auto& tokens : documents) counter.AppendSparse(Views(tokens), scale, rows);
  std::size_t shared = 0;
  for (std::size_t r = 0; r < rows.rows(); ++r) {
    for (std::size_t i = rows.starts[r]; i < rows.starts[r + 1]; ++i) {
      const std::size_t same = rows.starts[r] + rows.same_value[i];
      ASSERT_LE(same, i);
      EXPECT_EQ(rows.values[same], rows.values[i]);
      if (same != i) ++shared;
    }
  }
  // Two of b, c, e (once each) and one of a, d (twice each); in the second row, one of b, c.
  EXPECT_EQ(shared, 4u);
}

}  // namespace
}  // namespace orvel
