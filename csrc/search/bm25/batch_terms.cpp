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
  // string_view compares bytes as unsigned char, the order std::map<std::string, ...> uses.
  std::sort(tokens.begin(), tokens.end());
  item.integer = false;
  CountSorted(tokens, item, [&](std::string_view token, TermCount& term) {
    term.token = token;
    if (with_ids) term.id = MurmurHash3X86_32(token);
  });
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

void CheckCanEncode(const BM25& model) {
  if (model.doc_count() == 0 || std::fabs(model.doc_length_average()) < 1e-9) {
    throw std::runtime_error("BM25 has not been initialized");
  }
}

void DocumentWeights(const BM25& model, const ItemTerms& item, std::vector<double>& weights) {
  weights.clear();
  if (item.terms.empty()) return;
  // encode_document's grouping, for bit-equal results: divide, times b, plus (1 - b), times k1.
  const double b = model.b();
  const double k =
      ((static_cast<double>(item.length) / model.doc_length_average()) * b + (1 - b)) * model.k1();
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
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& c) { return a.first < c.first; });
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
