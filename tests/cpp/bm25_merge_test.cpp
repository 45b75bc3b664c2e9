// BM25::merge arithmetic and the property distributed training rests on: models trained on
// the shards of a corpus, merged in any order or grouping, equal the one-process model.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "golden_file.h"
#include "jieba_test_support.h"
#include "search/bm25/bm25.h"

namespace orvel::typing::text {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Integers = std::vector<long long>;
using Document = std::variant<Strings, Integers>;

std::string DumpText(const BM25& model) {
  const fs::path path = fs::temp_directory_path() / "orvel_bm25_merge_test.json";
  model.dump(path.string());
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  fs::remove(path);
  return text.str();
}

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Dump bytes cover counts, table and the printed average; the exact total and the average's
// bits are what later training and encoding use, so they are compared as well.
void ExpectSameModel(const BM25& merged, const BM25& whole) {
  EXPECT_EQ(DumpText(merged), DumpText(whole));
  EXPECT_EQ(merged.doc_count(), whole.doc_count());
  EXPECT_EQ(merged.doc_length_total(), whole.doc_length_total());
  EXPECT_EQ(Bits(merged.doc_length_average()), Bits(whole.doc_length_average()));
}

void Train(BM25& model, const Document& document) {
  std::visit([&](const auto& tokens) { model.train(tokens); }, document);
}

// Splits the corpus at random points into shards, trains one model per shard, then merges
// them by repeatedly joining two random models (any order, any tree shape).
BM25 TrainShardedAndMerge(const std::vector<Document>& corpus, std::mt19937& random) {
  std::vector<BM25> models;
  std::size_t start = 0;
  while (start < corpus.size()) {
    const std::size_t length =
        std::uniform_int_distribution<std::size_t>(0, corpus.size() - start)(random);
    BM25 shard(0.75, 1.2);  // an empty shard stays an untrained model
    for (std::size_t i = start; i < start + length; ++i) Train(shard, corpus[i]);
    models.push_back(shard);
    start += length;
  }
  while (models.size() > 1) {
    std::shuffle(models.begin(), models.end(), random);
    BM25 right = models.back();
    models.pop_back();
    models.back().merge(right);
  }
  return models.empty() ? BM25(0.75, 1.2) : models.front();
}

void ExpectShardingInvariant(const std::vector<Document>& corpus, unsigned seed) {
  BM25 whole(0.75, 1.2);
  for (const Document& document : corpus) Train(whole, document);
  std::mt19937 random(seed);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ExpectSameModel(TrainShardedAndMerge(corpus, random), whole);
  }
}

// Catches any merge that is not plain addition in a training-equivalent order: a wrong
// average (averaged averages), lost or double-counted tokens, an empty shard mishandled.
TEST(BM25MergeProperty, GeneratedStringAndIntegerCorpusMergesToTheWholeModel) {
  std::mt19937 random(12);
  std::vector<Document> corpus;
  for (int i = 0; i < 300; ++i) {
    const int length = std::uniform_int_distribution<int>(1, 40)(random);
    if (i % 3 == 0) {
      Integers tokens;  // integer tokens share entries with their decimal text
      for (int t = 0; t < length; ++t) {
        tokens.push_back(std::uniform_int_distribution<long long>(-50, 200)(random));
      }
      corpus.emplace_back(tokens);
    } else {
      Strings tokens;
      for (int t = 0; t < length; ++t) {
        tokens.push_back(std::to_string(std::uniform_int_distribution<int>(0, 400)(random)) +
                         (t % 5 == 0 ? "\"\\\n" : "x"));
      }
      corpus.emplace_back(tokens);
    }
  }
  ExpectShardingInvariant(corpus, 7);
}

TEST(BM25MergeProperty, GoldenSentencesMergeToTheWholeModel) {
  const auto shared = tokenizer::jieba::testing::SharedDir();
  if (!shared) GTEST_SKIP() << "shared data not found";
  std::vector<Document> corpus;
  for (const auto& line : tokenizer::jieba::testing::ReadGoldenFile(
           (*shared / "jieba" / "golden" / "public-userdict.jsonl").string())) {
    if (!line.search.empty()) corpus.emplace_back(line.search);
  }
  ASSERT_FALSE(corpus.empty());
  ExpectShardingInvariant(corpus, 11);
}

TEST(BM25Merge, AddsCountsAndRecomputesTheAverageAsTrainingDoes) {
  BM25 left(0.75, 1.2);
  left.train(Strings{"a", "b", "a"});
  BM25 right(0.75, 1.2);
  right.train(Strings{"a"});
  right.train(Integers{7, 7, 7, 7});
  left.merge(right);
  EXPECT_EQ(left.doc_count(), 3);
  EXPECT_EQ(left.doc_length_total(), 8);
  EXPECT_EQ(left.doc_length_average(), 8.0 / 3.0);
  EXPECT_EQ(*left.doc_token_frequency().find("a"), 3);
  EXPECT_EQ(*left.doc_token_frequency().find("7"), 4);
  EXPECT_EQ(right.doc_count(), 2);  // the argument is only read
}

// Aliasing fault: walking the table while adding into it, or reading counters already updated.
TEST(BM25Merge, MergingWithItselfDoubles) {
  BM25 model(0.75, 1.2);
  for (int i = 0; i < 100; ++i) model.train(Strings{std::to_string(i), "x", "x"});
  model.merge(model);
  EXPECT_EQ(model.doc_count(), 200);
  EXPECT_EQ(model.doc_length_total(), 600);
  EXPECT_EQ(model.doc_length_average(), 3.0);
  EXPECT_EQ(*model.doc_token_frequency().find("x"), 400);
  EXPECT_EQ(*model.doc_token_frequency().find("99"), 2);
  EXPECT_EQ(model.doc_token_frequency().size(), 101u);
}

// Wrapping counters: a merged count must stop at the 64-bit maximum, as training's does.
TEST(BM25Merge, CountsSaturateAtTheLargest64BitValue) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  BM25 big(0.75, 1.2);
  big.load(
      "{\"_b\": 0.75, \"_doc_count\": 9223372036854775807, \"_doc_length_average\": 1.0,"
      " \"_doc_token_frequency\": {\"a\": 9223372036854775806}, \"_k1\": 1.2}");
  BM25 more(0.75, 1.2);
  more.train(Strings{"a", "a", "a"});
  big.merge(more);
  EXPECT_EQ(big.doc_count(), kMax);
  EXPECT_EQ(big.doc_length_total(), kMax);
  EXPECT_EQ(*big.doc_token_frequency().find("a"), kMax);
}

// A partial merge of refused models would silently corrupt the receiving model.
TEST(BM25Merge, DifferentParametersAreRefusedNamingBothAndChangeNothing) {
  BM25 model(0.75, 1.2);
  model.train(Strings{"a", "b"});
  const std::string before = DumpText(model);
  BM25 other(0.5, 1.2);
  other.train(Strings{"c"});
  try {
    model.merge(other);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot merge BM25 models with different parameters: b=0.75, k1=1.2 and b=0.5, "
              "k1=1.2");
  }
  EXPECT_THROW(model.merge(BM25(0.75, 1.5)), std::invalid_argument);
  EXPECT_EQ(DumpText(model), before);
}

// A loaded model's average is the file's; merging it into a fresh model must not replace it
// by total / count (which the rounded file value need not equal), nor merging an empty model.
TEST(BM25Merge, AnEmptySideKeepsTheOtherAverage) {
  BM25 loaded(0.75, 1.2);
  loaded.load(
      "{\"_b\": 0.75, \"_doc_count\": 3, \"_doc_length_average\": 2.333333,"
      " \"_doc_token_frequency\": {\"a\": 7}, \"_k1\": 1.2}");
  BM25 fresh(0.75, 1.2);
  fresh.merge(loaded);
  EXPECT_EQ(fresh.doc_length_average(), 2.333333);
  loaded.merge(BM25(0.75, 1.2));
  EXPECT_EQ(loaded.doc_length_average(), 2.333333);
  EXPECT_EQ(loaded.doc_count(), 3);
}

// Restores must keep what the model file rounds away: the exact total and the average bits.
TEST(BM25State, RoundTripKeepsTheExactTotalAndAverage) {
  BM25 model(0.5, 2.0);
  model.train(Strings{"a"});
  model.train(Strings{"a", "b"});
  model.train(Integers{1, 2, 3, 4});
  for (int i = 0; i < 20; ++i) model.merge(model);  // 3 * 2^20 documents, 7 * 2^20 tokens
  // Fault: tokens lost or counted twice where a restore files them in runs of a few hundred.
  Strings many;
  for (int i = 0; i < 700; ++i) many.push_back("t" + std::to_string(i));
  model.train(many);
  const BM25 restored = BM25::from_state(model.state());
  ExpectSameModel(restored, model);
  EXPECT_EQ(restored.b(), 0.5);
  EXPECT_EQ(restored.k1(), 2.0);
  EXPECT_EQ(restored.doc_length_total(), (7 << 20) + 700);
}

// A truncated or foreign byte string must be refused, not read past its end.
TEST(BM25State, TruncatedOrForeignBytesAreRefused) {
  BM25 model(0.75, 1.2);
  model.train(Strings{"token", "other"});
  const std::string state = model.state();
  for (std::size_t length = 0; length < state.size(); ++length) {
    EXPECT_THROW(BM25::from_state(state.substr(0, length)), std::invalid_argument) << length;
  }
  EXPECT_THROW(BM25::from_state(state + "x"), std::invalid_argument);
  std::string other_version = state;
  other_version[4] = 2;
  EXPECT_THROW(BM25::from_state(other_version), std::invalid_argument);
  // Fault: the table reserved room for as many tokens as the count claims, so a damaged count
  // ran out of memory (or never finished growing) instead of being refused. The count follows
  // the magic, the version byte and five 8-byte fields.
  std::string huge_count = state;
  const std::uint64_t claimed = std::uint64_t{1} << 62;
  std::memcpy(&huge_count[4 + 1 + 5 * 8], &claimed, sizeof claimed);
  EXPECT_THROW(BM25::from_state(huge_count), std::invalid_argument);
}

// Fault: a state listing a token twice restored with that token's counts added or one of
// them dropped, rather than refused: no state() call writes it.
TEST(BM25State, TokenListedTwiceIsRefused) {
  BM25 model(0.75, 1.2);
  model.train(Strings{"ab", "cd"});
  std::string state = model.state();
  const std::size_t second = state.find("cd");
  ASSERT_NE(second, std::string::npos);
  state.replace(second, 2, "ab");
  EXPECT_THROW(BM25::from_state(state), std::invalid_argument);
}

}  // namespace
}  // namespace orvel::typing::text
