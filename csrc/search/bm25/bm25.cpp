#include "search/bm25/bm25.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "search/bm25/model_file.h"
#include "search/bm25/saturating_add.h"

namespace orvel::typing::text {
namespace {

const char kEmptyTrainingMessage[] = "trainning tokens_vec should not be empty";

// c / (K + c) for every counted token; the map holds counts on entry and weights on exit.
template <typename Key>
void counts_to_document_weights(std::map<Key, double>& counts, std::size_t length, double b,
                                double k1, double average) {
  // Grouping matters for bit-exact results: divide, times b, plus (1 - b), times k1.
  const double k = ((static_cast<double>(length) / average) * b + (1 - b)) * k1;
  for (auto& entry : counts) entry.second = entry.second / (k + entry.second);
}

// Divides each weight by their sum, taken in ascending key order; a zero or negative sum is
// used as it is.
template <typename Key>
void normalise_query_weights(std::map<Key, double>& weights) {
  double sum = 0.0;
  for (const auto& entry : weights) sum += entry.second;
  for (auto& entry : weights) entry.second /= sum;
}

// Calls `use` with the table key of `token`: a string token's own bytes, an integer token's
// decimal text.
template <typename Use>
decltype(auto) with_key(const std::string& token, Use&& use) {
  return use(std::string_view(token));
}
template <typename Use>
decltype(auto) with_key(long long token, Use&& use) {
  return use(IntegerTokenText(token).view());
}

}  // namespace

BM25::BM25(double b, double k1) : _b(b), _k1(k1) {
  if (!std::isfinite(b)) throw std::invalid_argument("b must be a finite number");
  if (!std::isfinite(k1)) throw std::invalid_argument("k1 must be a finite number");
}

BM25::~BM25() = default;

void BM25::train(const std::vector<std::string>& tokens_vec) {
  train_one(tokens_vec);
}
void BM25::train(const std::vector<long long>& tokens_vec) {
  train_one(tokens_vec);
}

void BM25::train(const std::vector<std::vector<long long>>& tokens_vec) {
  if (tokens_vec.empty()) throw std::runtime_error(kEmptyTrainingMessage);
  for (const auto& document : tokens_vec) _train(document);
}

void BM25::_train(const std::vector<std::string>& tokens_vec) {
  train_step(tokens_vec);
}
void BM25::_train(const std::vector<long long>& tokens_vec) {
  train_step(tokens_vec);
}

std::unordered_map<std::string, int64_t> BM25::_token_frequency(
    const std::vector<std::string>& tokens_vec) {
  return count_tokens(tokens_vec);
}
std::unordered_map<long long, int64_t> BM25::_token_frequency(
    const std::vector<long long>& tokens_vec) {
  return count_tokens(tokens_vec);
}

std::map<std::string, double> BM25::encode_document(const std::vector<std::string>& tokens) {
  return document_weights(tokens);
}
std::map<long long, double> BM25::encode_document(const std::vector<long long>& tokens) {
  return document_weights(tokens);
}

std::map<std::string, double> BM25::encode_query(const std::vector<std::string>& tokens) {
  return query_weights(tokens);
}
std::map<long long, double> BM25::encode_query(const std::vector<long long>& tokens) {
  return query_weights(tokens);
}

template <typename Token>
void BM25::train_one(const std::vector<Token>& tokens_vec) {
  if (tokens_vec.empty()) throw std::runtime_error(kEmptyTrainingMessage);
  train_step(tokens_vec);
}

// Adding each occurrence straight into the corpus table gives the same counts as counting
// the document first and merging, without a per-document hash map.
template <typename Token>
void BM25::train_step(const std::vector<Token>& tokens_vec) {
  if (tokens_vec.empty()) return;
  for (const Token& token : tokens_vec) {
    with_key(token, [this](std::string_view key) {
      saturating_add(_doc_token_frequency.find_or_insert(key), 1);
    });
  }
  add_document_length(tokens_vec.size());
}

void BM25::add_document_length(std::size_t length) {
  saturating_add(_doc_count, 1);
  saturating_add(_doc_length_total, static_cast<int64_t>(length));
  _doc_length_average = static_cast<double>(_doc_length_total) / static_cast<double>(_doc_count);
}

template <typename Token>
std::unordered_map<Token, int64_t> BM25::count_tokens(const std::vector<Token>& tokens_vec) {
  std::unordered_map<Token, int64_t> counts;
  for (const Token& token : tokens_vec) ++counts[token];
  return counts;
}

double BM25::idf(const std::string& token) {
  return idf_of_key(token);
}

double BM25::idf_of_key(std::string_view key) const {
  const int64_t* occurrences = _doc_token_frequency.find(key);
  const double denominator = occurrences ? static_cast<double>(*occurrences) + 0.5 : 1.5;
  // Added in double: a loaded count may be the largest 64-bit value. Exact below 2^53.
  const double numerator = static_cast<double>(_doc_count) + 1.0;
  return std::log(numerator / denominator);
}

void BM25::check_initialized() const {
  if (_doc_count == 0 || std::fabs(_doc_length_average) < 1e-9) {
    throw std::runtime_error("BM25 has not been initialized");
  }
}

// The result map doubles as the occurrence count: counts are exact in a double, and a
// separate hash map per call would only add allocations.
template <typename Token>
std::map<Token, double> BM25::document_weights(const std::vector<Token>& tokens) const {
  std::map<Token, double> weights;
  if (tokens.empty()) return weights;
  check_initialized();
  for (const Token& token : tokens) weights[token] += 1.0;
  counts_to_document_weights(weights, tokens.size(), _b, _k1, _doc_length_average);
  return weights;
}

template <typename Token>
std::map<Token, double> BM25::query_weights(const std::vector<Token>& tokens) const {
  std::map<Token, double> weights;
  if (tokens.empty()) return weights;
  check_initialized();
  for (const Token& token : tokens) {
    auto [it, inserted] = weights.try_emplace(token, 0.0);
    if (inserted) {
      it->second = with_key(token, [this](std::string_view key) { return idf_of_key(key); });
    }
  }
  normalise_query_weights(weights);
  return weights;
}

}  // namespace orvel::typing::text
