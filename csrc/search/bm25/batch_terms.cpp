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

void CountTokens(std::vector<std::string_view>& tokens, bool with_ids, ItemTerms& item,
                 TermOrder order) {
  // Sorting every token, repeats included, took more time than cutting the text: most of a
  // document's tokens are repeats, and each comparison is a memcmp. So the distinct tokens are
  // found by hashing, and only they are sorted, by their first eight bytes as one integer
  // (the whole of most Chinese words) and by the bytes only when those are equal. The order
  // is the bytes' as unsigned char, the order std::map<std::string, ...> uses.
  item.terms.clear();
  item.length = tokens.size();
  item.integer = false;
  std::size_t slot_count = 16;
  while (slot_count < 2 * tokens.size()) slot_count *= 2;
  std::vector<std::uint32_t> slots(slot_count, 0);  // term index + 1; 0 is free
  std::vector<std::uint32_t> hashes;
  hashes.reserve(tokens.size());
  for (const std::string_view token : tokens) {
    const std::uint32_t hash = MurmurHash3X86_32(token);
    std::size_t slot = hash & (slot_count - 1);
    while (slots[slot] != 0) {
      const std::size_t index = slots[slot] - 1;
      if (hashes[index] == hash && item.terms[index].token == token) break;
      slot = (slot + 1) & (slot_count - 1);
    }
    if (slots[slot] == 0) {
      TermCount term;
      term.token = token;
      if (with_ids) term.id = hash;
      item.terms.push_back(term);
      hashes.push_back(hash);
      slots[slot] = static_cast<std::uint32_t>(item.terms.size());
    }
    ++item.terms[slots[slot] - 1].count;
  }
  struct Key {
    std::uint64_t prefix;  // the first eight bytes, big-endian, zero-padded
    std::uint32_t index;
  };
  std::vector<Key> keys(item.terms.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    std::uint64_t prefix = 0;
    if (order == TermOrder::kKey) {  // by id, keys are compared only when ids are equal
      const std::string_view token = item.terms[i].token;
      for (std::size_t k = 0; k < 8; ++k) {
        prefix = prefix << 8 | (k < token.size() ? static_cast<unsigned char>(token[k]) : 0u);
      }
    }
    keys[i] = {prefix, static_cast<std::uint32_t>(i)};
  }
  const std::vector<TermCount>& terms = item.terms;
  const auto by_key = [&](const Key& a, const Key& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    // Equal prefixes: "ab" and "ab\0" too, which the bytes tell apart.
    return terms[a.index].token < terms[b.index].token;
  };
  if (order == TermOrder::kId) {
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
      const std::uint32_t id_a = hashes[a.index];
      const std::uint32_t id_b = hashes[b.index];
      return id_a != id_b ? id_a < id_b : by_key(a, b);
    });
  } else {
    std::sort(keys.begin(), keys.end(), by_key);
  }
  std::vector<TermCount> sorted;
  sorted.reserve(keys.size());
  for (const Key& key : keys) sorted.push_back(terms[key.index]);
  item.terms = std::move(sorted);
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
  // Stable, so colliding terms are summed in key order and the sum is reproducible. Terms
  // counted in TermOrder::kId are in that order already.
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
