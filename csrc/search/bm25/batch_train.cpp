// Training from counts made elsewhere: the batch trainers count documents on several threads
// into tables of their own and fold them into the model here, under the caller's lock.
#include "search/bm25/bm25.h"
#include "search/bm25/prefetch_ahead.h"
#include "search/bm25/saturating_add.h"

namespace orvel::typing::text {

void BM25::add_token_count(std::string_view token, int64_t count) {
  // Training saturates each +1, so adding n at once saturates to the same value.
  saturating_add(_doc_token_frequency.find_or_insert(token), count);
}

void BM25::add_token_counts(const std::vector<TokenCount>& counts) {
  // The model's table is large and the tokens come in no order that suits it.
  for (std::size_t i = 0; i < counts.size(); ++i) {
    PrefetchAhead(
        i, counts.size(),
        [&](std::size_t k) { _doc_token_frequency.prefetch_slot(counts[k].hash); },
        [&](std::size_t k) { _doc_token_frequency.prefetch_record(counts[k].hash); });
    saturating_add(_doc_token_frequency.find_or_insert(counts[i].token, counts[i].hash),
                   counts[i].count);
  }
}

void BM25::reserve_tokens(std::size_t tokens, std::size_t token_bytes) {
  _doc_token_frequency.reserve(_doc_token_frequency.size() + tokens, token_bytes);
}

void BM25::add_document_lengths(const std::vector<std::size_t>& lengths) {
  for (const std::size_t length : lengths) add_document_length(length);
}

}  // namespace orvel::typing::text
