// BM25::merge: one model from models trained on the shards of a corpus.

#include <charconv>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "search/bm25/bm25.h"
#include "search/bm25/saturating_add.h"

namespace orvel::typing::text {
namespace {

// The shortest text that reads back as the same double, so that two parameters that print
// alike are never reported as different.
std::string shortest_text(double value) {
  char text[32];
  return {text,
          static_cast<std::size_t>(std::to_chars(text, text + sizeof text, value).ptr - text)};
}

}  // namespace

void BM25::merge(const BM25& other) {
  if (&other == this) {
    // Adding a table into itself while walking it would depend on insertions never moving
    // the records being walked; a snapshot makes doubling a model plainly correct.
    const BM25 snapshot(other);
    merge(snapshot);
    return;
  }
  // Different parameters would give weights that neither model's training meant; refuse
  // before anything changes.
  if (other._b != _b || other._k1 != _k1) {
    throw std::invalid_argument(
        "cannot merge BM25 models with different parameters: b=" + shortest_text(_b) +
        ", k1=" + shortest_text(_k1) + " and b=" + shortest_text(other._b) +
        ", k1=" + shortest_text(other._k1));
  }
  // In runs, so that add_token_counts can overlap the lookups' cache misses, without copying
  // the other model's whole table first.
  constexpr std::size_t kRun = 256;
  std::vector<TokenCount> run;
  run.reserve(kRun);
  other._doc_token_frequency.for_each([&](std::string_view token, int64_t count) {
    run.push_back({token, count, TokenCountTable::hash(token)});
    if (run.size() == kRun) {
      add_token_counts(run);
      run.clear();
    }
  });
  add_token_counts(run);
  const bool this_empty = _doc_count == 0 && _doc_length_total == 0;
  const bool other_empty = other._doc_count == 0 && other._doc_length_total == 0;
  saturating_add(_doc_count, other._doc_count);
  saturating_add(_doc_length_total, other._doc_length_total);
  // The average is recomputed as training computes it after each document, so that the
  // merged model equals the model trained on the whole corpus bit for bit. An empty side adds
  // nothing and keeps the other side's average as it is (a loaded model's may differ from
  // total / count in the last bits).
  if (other_empty) return;
  if (this_empty) {
    _doc_length_average = other._doc_length_average;
  } else if (_doc_count != 0) {
    _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
  }
}

}  // namespace orvel::typing::text
