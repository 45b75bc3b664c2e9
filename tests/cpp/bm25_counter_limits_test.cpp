// Counters loaded from a model text may already stand at the 64-bit limit: training and
// encoding after such a load saturate instead of overflowing (found by the bm25_load fuzzer).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "search/bm25/bm25.h"

namespace {

using orvel::typing::text::BM25;

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

std::string ModelText(const std::string& count, const std::string& average,
                      const std::string& a_count) {
  return "{\"_b\" : 0.750000, \"_doc_count\" : " + count +
         ", \"_doc_length_average\" : " + average +
         ", \"_doc_token_frequency\" : {\"a\" : " + a_count + "}, \"_k1\" : 1.200000}";
}

TEST(BM25CounterLimits, TrainingAtTheLimitSaturates) {
  BM25 model(0.75, 1.2);
  model.load(ModelText("9223372036854775807", "2.000000", "9223372036854775807"));
  model.train(std::vector<std::string>{"a", "b"});
  model.train(std::vector<long long>{7});
  EXPECT_EQ(model.doc_count(), kMax);
  EXPECT_EQ(model.doc_length_total(), kMax);
  EXPECT_EQ(*model.doc_token_frequency().find("a"), kMax);
  EXPECT_EQ(*model.doc_token_frequency().find("b"), 1);
}

TEST(BM25CounterLimits, HugeAverageSaturatesTheLengthTotal) {
  BM25 model(0.75, 1.2);
  model.load(ModelText("2", "1.0e300", "1"));
  EXPECT_EQ(model.doc_length_total(), kMax);
  model.train(std::vector<std::string>{"x"});
  EXPECT_EQ(model.doc_length_total(), kMax);
  EXPECT_EQ(model.doc_count(), 3);
}

TEST(BM25CounterLimits, IdfAtTheLargestCountIsFinite) {
  BM25 model(0.75, 1.2);
  model.load(ModelText("9223372036854775807", "2.000000", "1"));
  EXPECT_TRUE(std::isfinite(model.idf("a")));
  EXPECT_DOUBLE_EQ(model.idf("unseen"), std::log(9223372036854775808.0 / 1.5));
  const auto weights = model.encode_query(std::vector<std::string>{"a", "unseen"});
  EXPECT_EQ(weights.size(), 2u);
}

}  // namespace
