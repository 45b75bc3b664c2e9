#include "search/bm25/bm25.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvel::typing::text {
namespace {

using Strings = std::vector<std::string>;
using Integers = std::vector<long long>;

std::map<std::string, int64_t> TableOf(const BM25& model) {
  std::map<std::string, int64_t> table;
  model.doc_token_frequency().for_each(
      [&](std::string_view key, int64_t count) { table.emplace(std::string(key), count); });
  return table;
}

// b = 0.75, k1 = 1.2, trained on ["a", "b", "a"] and ["a"].
BM25 ModelM() {
  BM25 model(0.75, 1.2);
  model.train(Strings{"a", "b", "a"});
  model.train(Strings{"a"});
  return model;
}

void ExpectThrowsMessage(const std::function<void()>& call, const std::string& message) {
  try {
    call();
    FAIL() << "expected std::runtime_error \"" << message << "\"";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(error.what(), message);
  }
}

TEST(BM25Training, CountsOccurrencesDocumentsAndLengths) {
  BM25 model(0.75, 1.2);
  EXPECT_EQ(model.doc_count(), 0);
  EXPECT_EQ(model.doc_length_average(), 0.0);

  model.train(Strings{"a", "b", "a"});
  EXPECT_EQ(model.doc_count(), 1);
  EXPECT_EQ(model.doc_length_total(), 3);
  EXPECT_EQ(model.doc_length_average(), 3.0);
  EXPECT_EQ(TableOf(model), (std::map<std::string, int64_t>{{"a", 2}, {"b", 1}}));

  model.train(Strings{"a"});
  EXPECT_EQ(model.doc_count(), 2);
  EXPECT_EQ(model.doc_length_total(), 4);
  EXPECT_EQ(model.doc_length_average(), 2.0);
  EXPECT_EQ(TableOf(model), (std::map<std::string, int64_t>{{"a", 3}, {"b", 1}}));
}

TEST(BM25Training, IntegerTokensShareEntriesWithTheirDecimalText) {
  BM25 model(0.75, 1.2);
  model.train(Integers{42, -7, 42});
  model.train(Strings{"42"});
  model.train(Integers{std::numeric_limits<long long>::min(), 0});
  EXPECT_EQ(TableOf(model), (std::map<std::string, int64_t>{
                                {"-7", 1}, {"-9223372036854775808", 1}, {"0", 1}, {"42", 3}}));
}

TEST(BM25Training, AnyBytesAreAToken) {
  BM25 model(0.75, 1.2);
  const std::string with_nul("a\0b", 3);
  const std::string long_token(300, 'x');  // longer than one length-prefix byte
  model.train(Strings{"", with_nul, "\xff\xfe", long_token, "a"});
  EXPECT_EQ(TableOf(model),
            (std::map<std::string, int64_t>{
                {"", 1}, {with_nul, 1}, {"\xff\xfe", 1}, {long_token, 1}, {"a", 1}}));
}

TEST(BM25Training, EmptyDocumentsAreRefusedAndChangeNothing) {
  BM25 model = ModelM();
  ExpectThrowsMessage([&] { model.train(Strings{}); }, "trainning tokens_vec should not be empty");
  ExpectThrowsMessage([&] { model.train(Integers{}); }, "trainning tokens_vec should not be empty");
  ExpectThrowsMessage([&] { model.train(std::vector<Integers>{}); },
                      "trainning tokens_vec should not be empty");
  EXPECT_EQ(model.doc_count(), 2);
  EXPECT_EQ(model.doc_length_total(), 4);
  EXPECT_EQ(TableOf(model), (std::map<std::string, int64_t>{{"a", 3}, {"b", 1}}));
}

TEST(BM25Training, BatchSkipsEmptyInnerDocuments) {
  BM25 model(0.75, 1.2);
  model.train(std::vector<Integers>{{1, 2}, {}, {3}});
  EXPECT_EQ(model.doc_count(), 2);
  EXPECT_EQ(model.doc_length_total(), 3);
  EXPECT_EQ(model.doc_length_average(), 1.5);
}

TEST(BM25Training, ManyDistinctTokensSurviveTableGrowth) {
  BM25 model(0.75, 1.2);
  for (long long i = 0; i < 50000; ++i) model.train(Integers{i, i % 7});
  EXPECT_EQ(model.doc_token_frequency().size(), 50000u);
  const std::map<std::string, int64_t> table = TableOf(model);
  EXPECT_EQ(table.at("3"), 1 + 50000 / 7 + 1);  // once as itself, then as i % 7
  EXPECT_EQ(table.at("49999"), 1);
}

TEST(BM25Training, TokenFrequencyCountsOneList) {
  BM25 model(0.75, 1.2);
  const auto strings = model._token_frequency(Strings{"a", "b", "a", ""});
  EXPECT_EQ(strings.at("a"), 2);
  EXPECT_EQ(strings.at("b"), 1);
  EXPECT_EQ(strings.at(""), 1);
  const auto integers = model._token_frequency(Integers{5, -5, 5});
  EXPECT_EQ(integers.at(5), 2);
  EXPECT_EQ(integers.at(-5), 1);
  EXPECT_TRUE(model._token_frequency(Strings{}).empty());
}

TEST(BM25Construction, RejectsNonFiniteParameters) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_THROW(BM25(nan, 1.2), std::invalid_argument);
  EXPECT_THROW(BM25(0.75, inf), std::invalid_argument);
  EXPECT_THROW(BM25(-inf, 1.2), std::invalid_argument);
  EXPECT_NO_THROW(BM25(-1.0, 0.0));  // unusual but finite values stay allowed
}

TEST(BM25Idf, SignsFollowOccurrencesAgainstDocuments) {
  BM25 model = ModelM();
  EXPECT_EQ(model.idf("a"), std::log(3 / 3.5));
  EXPECT_LT(model.idf("a"), 0.0);
  EXPECT_EQ(model.idf("b"), std::log(2.0));
  EXPECT_EQ(model.idf("c"), std::log(2.0));
  EXPECT_EQ(model.doc_token_frequency().size(), 2u) << "idf must not insert";
}

TEST(BM25Encoding, DocumentWeightsMatchTheWorkedNumbers) {
  BM25 model = ModelM();
  const auto weights = model.encode_document(Strings{"a", "b", "a"});
  EXPECT_EQ(weights,
            (std::map<std::string, double>{{"a", 0.547945205479452}, {"b", 0.37735849056603776}}));
  EXPECT_EQ(model.encode_document(Strings{"z"}),
            (std::map<std::string, double>{{"z", 0.5714285714285714}}));
}

TEST(BM25Encoding, QueryWeightsMatchTheWorkedNumbers) {
  BM25 model = ModelM();
  EXPECT_EQ(model.encode_query(Strings{"a", "b"}),
            (std::map<std::string, double>{{"a", -0.2859956968509314}, {"b", 1.2859956968509314}}));
  EXPECT_EQ(model.encode_query(Strings{"b", "c", "b"}),
            (std::map<std::string, double>{{"b", 0.5}, {"c", 0.5}}));
  EXPECT_EQ(model.encode_query(Strings{"a", "a"}), (std::map<std::string, double>{{"a", 1.0}}));
}

TEST(BM25Encoding, IntegerFormsLookUpDecimalTextAndOrderNumerically) {
  BM25 model(0.75, 1.2);
  model.train(Integers{42, -7, 42});
  const auto query = model.encode_query(Integers{42, 5});
  const double idf42 = std::log(2 / 2.5), idf5 = std::log(2 / 1.5);
  EXPECT_EQ(query, (std::map<long long, double>{{5, idf5 / (idf5 + idf42)},
                                                {42, idf42 / (idf5 + idf42)}}));
  const auto document = model.encode_document(Integers{5, -3, 5});
  ASSERT_EQ(document.size(), 2u);
  EXPECT_EQ(document.begin()->first, -3);
  // Same tokens as strings give the same weights.
  EXPECT_EQ(model.encode_document(Strings{"5", "-3", "5"}).at("5"), document.at(5));
}

TEST(BM25Encoding, ZeroK1GivesWeightOne) {
  BM25 model(0.75, 0.0);
  model.train(Strings{"a", "b"});
  EXPECT_EQ(model.encode_document(Strings{"a", "a", "b"}),
            (std::map<std::string, double>{{"a", 1.0}, {"b", 1.0}}));
}

TEST(BM25Encoding, UntrainedModelsRefuseOnlyNonEmptyInput) {
  BM25 model(0.75, 1.2);
  EXPECT_TRUE(model.encode_document(Strings{}).empty());
  EXPECT_TRUE(model.encode_query(Integers{}).empty());
  ExpectThrowsMessage([&] { model.encode_document(Strings{"a"}); },
                      "BM25 has not been initialized");
  ExpectThrowsMessage([&] { model.encode_query(Integers{1}); }, "BM25 has not been initialized");
}

TEST(BM25Encoding, EncodingNeverChangesTheModel) {
  BM25 model = ModelM();
  model.encode_query(Strings{"new", "tokens"});
  model.encode_document(Integers{7});
  EXPECT_EQ(TableOf(model), (std::map<std::string, int64_t>{{"a", 3}, {"b", 1}}));
  EXPECT_EQ(model.doc_count(), 2);
}

}  // namespace
}  // namespace orvel::typing::text
