#include "search/bm25/batch_terms.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "search/bm25/bm25.h"
#include "search/bm25/model_file.h"
#include "search/bm25/token_hash.h"

namespace orvel::typing::text {
namespace {

// Sorted tokens become one term per run of equal tokens.
template <typename Token, typename Fill>
void CountSorted(const std::vector<Token>& tokens, ItemTerms& item, Fill fill) {
  item.terms.clear();
  item.length = tokens.size();
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t run_end = i + 1;
    while (run_end < tokens.size() && tokens[run_end] == tokens[i]) ++run_end;
    TermCount term;
    term.count = static_cast<std::uint32_t>(run_end - i);
    fill(tokens[i], term);
    item.terms.push_back(term);
    i = run_end;
  }
}

}  // namespace

void CountTokens(std::vector<std::string_view>& tokens, bool with_ids, ItemTerms& item) {
  TermCounter counter;
  counter.Count(tokens, with_ids, item);
}

void SparseRows::Clear() {
  ids.clear();
  values.clear();
  same_value.clear();
  starts.assign(1, 0);
}

void TermCounter::Tally(const std::vector<std::string_view>& tokens) {
  // Sorting every token, repeats included, took more time than cutting the text: most of a
  // document's tokens are repeats, and each comparison is a memcmp. So the distinct tokens are
  // found by hashing (with MurmurHash3, whose value is also the token's id), and only they are
  // sorted.
  terms_.clear();
  std::size_t slot_count = 16;
  while (slot_count < 2 * tokens.size()) slot_count *= 2;
  if (slots_.size() < slot_count) slots_.resize(slot_count);
  std::fill_n(slots_.begin(), slot_count, 0u);
  const std::size_t mask = slot_count - 1;
  for (const std::string_view token : tokens) {
    const std::uint32_t hash = MurmurHash3X86_32(token);
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t index = slots_[slot];
      if (index == 0) {
        terms_.push_back({token, hash, 1});
        slots_[slot] = static_cast<std::uint32_t>(terms_.size());
        break;
      }
      Term& term = terms_[index - 1];
      if (term.hash == hash && term.token == token) {
        ++term.count;
        break;
      }
    }
  }
}

void TermCounter::SortByKey() {
  // By the first eight bytes as one integer (the whole of most Chinese words), and by the
  // bytes only when those are equal. The order is the bytes' as unsigned char, the order
  // std::map<std::string, ...> uses.
  const std::size_t count = terms_.size();
  keys_.resize(count);
  order_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view token = terms_[i].token;
    std::uint64_t prefix = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      prefix = prefix << 8 | (k < token.size() ? static_cast<unsigned char>(token[k]) : 0u);
    }
    keys_[i] = prefix;
    order_[i] = static_cast<std::uint32_t>(i);
  }
  std::sort(order_.begin(), order_.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (keys_[a] != keys_[b]) return keys_[a] < keys_[b];
    // Equal prefixes: "ab" and "ab\0" too, which the bytes tell apart.
    return terms_[a].token < terms_[b].token;
  });
}

void TermCounter::Count(const std::vector<std::string_view>& tokens, bool with_ids,
                        ItemTerms& item) {
  Tally(tokens);
  SortByKey();
  item.length = tokens.size();
  item.integer = false;
  item.terms.clear();
  item.terms.reserve(order_.size());
  for (const std::uint32_t index : order_) {
    TermCount term;
    term.token = terms_[index].token;
    term.count = terms_[index].count;
    if (with_ids) term.id = terms_[index].hash;
    item.terms.push_back(term);
  }
}

void TermCounter::AppendSparse(const std::vector<std::string_view>& tokens,
                               const DocumentScale& scale, SparseRows& rows) {
  const std::size_t count = tokens.size();
  if (count > 0) {
    // Every token's id, packed above its index and sorted: a document's equal tokens, which
    // share an id, lie next to each other, so no table is needed to count them.
    keys_.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      keys_[i] = std::uint64_t{MurmurHash3X86_32(tokens[i])} << 32 | i;
    }
    SortPackedIds();
    // DocumentWeights' arithmetic, for bit-equal weights.
    const double b = scale.b;
    const double k = ((static_cast<double>(count) / scale.length_average) * b + (1 - b)) * scale.k1;
    // A term's weight depends only on its count, and most terms occur once or a few times:
    // entries of equal counts are marked to share one value object.
    constexpr std::uint32_t kSharedCounts = 16;
    first_of_count_.assign(kSharedCounts, 0);
    const std::size_t row_start = rows.ids.size();
    rows.ids.reserve(row_start + count);  // at most one entry per token
    rows.values.reserve(row_start + count);
    rows.same_value.reserve(row_start + count);
    for (std::size_t i = 0; i < count;) {
      const std::uint32_t id = static_cast<std::uint32_t>(keys_[i] >> 32);
      const std::string_view token = tokens[static_cast<std::uint32_t>(keys_[i])];
      std::size_t end = i + 1;
      bool one_token = true;
      for (; end < count && static_cast<std::uint32_t>(keys_[end] >> 32) == id; ++end) {
        one_token = one_token && tokens[static_cast<std::uint32_t>(keys_[end])] == token;
      }
      const auto entry = static_cast<std::uint32_t>(rows.ids.size() - row_start);
      std::uint32_t same = entry;
      double value = 0.0;
      if (one_token) {
        const auto repeats = static_cast<std::uint32_t>(end - i);
        const double term_count = repeats;
        value = term_count / (k + term_count);
        if (repeats < kSharedCounts) {
          std::uint32_t& first = first_of_count_[repeats];
          if (first != 0) {
            same = first - 1;
          } else {
            first = entry + 1;
          }
        }
      } else {
        value = CollidingWeight(tokens, i, end, k);
      }
      rows.ids.push_back(id);
      rows.values.push_back(value);
      rows.same_value.push_back(same);
      i = end;
    }
  }
  rows.starts.push_back(rows.ids.size());
}

void TermCounter::SortPackedIds() {
  // Ids are MurmurHash3 values, spread evenly over 32 bits, so an id's top bits place it among
  // a document's ids almost exactly: one counting pass by those bits, then an insertion sort
  // over the nearly sorted result, cost about linear time, where a comparison sort cost more
  // than hashing the tokens.
  const std::size_t count = keys_.size();
  if (count > 32) {
    const auto bucket_of = [count](std::uint64_t key) {
      return static_cast<std::size_t>(((key >> 32) * count) >> 32);
    };
    bucket_starts_.assign(count + 1, 0);
    for (const std::uint64_t key : keys_) ++bucket_starts_[bucket_of(key) + 1];
    for (std::size_t i = 1; i <= count; ++i) bucket_starts_[i] += bucket_starts_[i - 1];
    spread_.resize(count);
    for (const std::uint64_t key : keys_) spread_[bucket_starts_[bucket_of(key)]++] = key;
    keys_.swap(spread_);
  }
  for (std::size_t i = 1; i < count; ++i) {
    const std::uint64_t key = keys_[i];
    std::size_t j = i;
    for (; j > 0 && keys_[j - 1] > key; --j) keys_[j] = keys_[j - 1];
    keys_[j] = key;
  }
}

double TermCounter::CollidingWeight(const std::vector<std::string_view>& tokens, std::size_t begin,
                                    std::size_t end, double k) {
  // Distinct tokens on one id (rare): their weights summed in key order, as SparseEntries
  // sums the terms of a colliding id.
  colliding_.clear();
  for (std::size_t i = begin; i < end; ++i) {
    colliding_.push_back(tokens[static_cast<std::uint32_t>(keys_[i])]);
  }
  std::sort(colliding_.begin(), colliding_.end());
  double sum = 0.0;
  for (std::size_t i = 0; i < colliding_.size();) {
    std::size_t run_end = i + 1;
    while (run_end < colliding_.size() && colliding_[run_end] == colliding_[i]) ++run_end;
    const double term_count = static_cast<double>(run_end - i);
    const double weight = term_count / (k + term_count);
    sum = i == 0 ? weight : sum + weight;
    i = run_end;
  }
  return sum;
}

void CountTokens(std::vector<OriginToken>& tokens, bool with_ids, ItemTerms& item) {
  std::sort(tokens.begin(), tokens.end(),
            [](const OriginToken& a, const OriginToken& b) { return a.bytes < b.bytes; });
  item.terms.clear();
  item.length = tokens.size();
  item.integer = false;
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t run_end = i + 1;
    while (run_end < tokens.size() && tokens[run_end].bytes == tokens[i].bytes) ++run_end;
    TermCount term;
    term.count = static_cast<std::uint32_t>(run_end - i);
    term.token = tokens[i].bytes;
    term.origin = tokens[i].origin;
    if (with_ids) term.id = MurmurHash3X86_32(term.token);
    item.terms.push_back(term);
    i = run_end;
  }
}

void CountIntegers(std::vector<long long>& tokens, bool with_ids, ItemTerms& item) {
  std::sort(tokens.begin(), tokens.end());
  item.integer = true;
  CountSorted(tokens, item, [&](long long token, TermCount& term) {
    term.integer = token;
    if (with_ids) term.id = MurmurHash3X86_32(IntegerTokenText(token).view());
  });
}

bool CanEncode(const BM25& model) {
  return model.doc_count() != 0 && std::fabs(model.doc_length_average()) >= 1e-9;
}

void CheckCanEncode(const BM25& model) {
  if (!CanEncode(model)) throw std::runtime_error("BM25 has not been initialized");
}

DocumentScale::DocumentScale(const BM25& model)
    : b(model.b()), k1(model.k1()), length_average(model.doc_length_average()) {}

void DocumentWeights(const DocumentScale& scale, const ItemTerms& item,
                     std::vector<double>& weights) {
  weights.clear();
  if (item.terms.empty()) return;
  // encode_document's grouping, for bit-equal results: divide, times b, plus (1 - b), times k1.
  const double b = scale.b;
  const double k =
      ((static_cast<double>(item.length) / scale.length_average) * b + (1 - b)) * scale.k1;
  for (const TermCount& term : item.terms) {
    const double count = term.count;
    weights.push_back(count / (k + count));
  }
}

void QueryWeights(const BM25& model, const ItemTerms& item, std::vector<double>& weights) {
  weights.clear();
  if (item.terms.empty()) return;
  double sum = 0.0;
  for (const TermCount& term : item.terms) {
    const double idf = item.integer ? model.idf_of_bytes(IntegerTokenText(term.integer).view())
                                    : model.idf_of_bytes(term.token);
    weights.push_back(idf);
    sum += idf;  // in key order, as encode_query sums
  }
  for (double& weight : weights) weight /= sum;
}

void SparseEntries(const ItemTerms& item, const std::vector<double>& weights,
                   std::vector<std::pair<std::uint32_t, double>>& entries) {
  entries.clear();
  for (std::size_t i = 0; i < item.terms.size(); ++i) {
    entries.emplace_back(item.terms[i].id, weights[i]);
  }
  // Stable, so colliding terms are summed in key order and the sum is reproducible.
  const auto by_id = [](const auto& a, const auto& c) { return a.first < c.first; };
  if (!std::is_sorted(entries.begin(), entries.end(), by_id)) {
    std::stable_sort(entries.begin(), entries.end(), by_id);
  }
  std::size_t out = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (out > 0 && entries[out - 1].first == entries[i].first) {
      entries[out - 1].second += entries[i].second;
    } else {
      entries[out++] = entries[i];
    }
  }
  entries.resize(out);
}

}  // namespace orvel::typing::text
