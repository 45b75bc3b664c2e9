// Training from counts made elsewhere: the batch trainers count documents on several threads
// into tables of their own and fold them into the model here, under the caller's lock.
#include <limits>

#include "search/bm25/bm25.h"

namespace orvel::typing::text {
namespace {

// As training saturates each +1, so adding n at once saturates to the same value.
void SaturatingAdd(int64_t& counter, int64_t amount) {
  if (__builtin_add_overflow(counter, amount, &counter)) {
    counter =
        amount > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
}

}  // namespace

void BM25::add_token_count(std::string_view token, int64_t count) {
  SaturatingAdd(_doc_token_frequency.find_or_insert(token), count);
}

void BM25::add_document_lengths(const std::vector<std::size_t>& lengths) {
  for (const std::size_t length : lengths) add_document_length(length);
}

}  // namespace orvel::typing::text
