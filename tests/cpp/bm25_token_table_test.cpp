// The token table's record format: the varint key length changes size at 128 and 16384 bytes,
// and the next record must start right after the longer prefix. Records of up to eight words
// (keys of up to 55 bytes) are put together apart and copied in: the last of them and the first
// longer one must both be whole.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "search/bm25/token_count_table.h"

namespace orvel::typing::text {
namespace {

TEST(TokenCountTableTest, KeysAroundVarintLengthSteps) {
  // Fault caught: a length prefix one byte short or long at 127/128 (or 16383/16384) bytes,
  // which would misread that key or the record after it; or a short record copied a word short
  // (55 and 56 bytes, and the empty key).
  TokenCountTable table;
  std::vector<std::string> keys;
  for (const std::size_t length : {0, 7, 8, 55, 56, 127, 128, 129, 16383, 16384}) {
    keys.push_back(std::string(length, static_cast<char>('a' + keys.size())));
    keys.push_back("next" + std::to_string(length));  // the record after a long key
  }
  for (std::size_t i = 0; i < keys.size(); ++i) table.find_or_insert(keys[i]) = 10 + i;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const int64_t* count = table.find(keys[i]);
    ASSERT_NE(count, nullptr) << keys[i].size();
    EXPECT_EQ(*count, static_cast<int64_t>(10 + i)) << keys[i].size();
  }
  std::vector<std::pair<std::string, int64_t>> visited;
  table.for_each([&](std::string_view key, int64_t count) { visited.emplace_back(key, count); });
  ASSERT_EQ(visited.size(), keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(visited[i].first, keys[i]);
    EXPECT_EQ(visited[i].second, static_cast<int64_t>(10 + i));
  }
}

}  // namespace
}  // namespace orvel::typing::text
