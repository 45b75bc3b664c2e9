#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "search/bm25/token_count_table.h"

namespace orvel::typing::text {

// Sparse BM25 encoder trained incrementally, one tokenised document per call. Keeps only
// corpus statistics. Tokens are byte strings or signed 64-bit integers; an integer token is
// the same token as its decimal text (42 and "42" share one entry).
class BM25 {
 public:
  // Throws std::invalid_argument when b or k1 is not finite: such a model would encode
  // garbage and could not be saved and restored.
  BM25(double b, double k1);
  ~BM25();
  // Declared because of the destructor above: without them a restored or returned model
  // would be copied, table and all, instead of moved.
  BM25(const BM25&) = default;
  BM25(BM25&&) noexcept = default;
  BM25& operator=(const BM25&) = default;
  BM25& operator=(BM25&&) noexcept = default;

  // One document. Throws std::runtime_error on an empty document; the model is unchanged.
  void train(const std::vector<std::string>& tokens_vec);
  void train(const std::vector<long long>& tokens_vec);
  // A batch of documents in order; empty inner documents are skipped, an empty batch throws.
  void train(const std::vector<std::vector<long long>>& tokens_vec);

  // Training step for one document; an empty document changes nothing.
  void _train(const std::vector<std::string>& tokens_vec);
  void _train(const std::vector<long long>& tokens_vec);

  // Occurrences of each distinct token in one token list.
  std::unordered_map<std::string, int64_t> _token_frequency(
      const std::vector<std::string>& tokens_vec);
  std::unordered_map<long long, int64_t> _token_frequency(const std::vector<long long>& tokens_vec);

  // ln((doc_count + 1) / (n + 0.5)), with n = 1 for a token the model has never seen.
  double idf(const std::string& token);
  // The same for a token given as bytes, without copying them (the batch encoders).
  double idf_of_bytes(std::string_view token) const { return idf_of_key(token); }

  // Batch training (batch_train.cpp): adds occurrence counts gathered from whole documents,
  // then one document length per document in order, ending as training on each would.
  void add_token_count(std::string_view token, int64_t count);
  // The same for many tokens at once, each with its TokenCountTable::hash, in order.
  struct TokenCount {
    std::string_view token;
    int64_t count;
    uint64_t hash;
  };
  void add_token_counts(const std::vector<TokenCount>& counts);
  void add_document_lengths(const std::vector<std::size_t>& lengths);
  // Makes room for up to `tokens` more distinct tokens of `token_bytes` bytes in all, so that
  // adding them does not grow the token table step by step (each step hashes every key again).
  void reserve_tokens(std::size_t tokens, std::size_t token_bytes);

  // BM25 term-frequency weights c / (K + c) of each distinct token, K from the length.
  std::map<std::string, double> encode_document(const std::vector<std::string>& tokens);
  std::map<long long, double> encode_document(const std::vector<long long>& tokens);
  // idf of each distinct token, scaled to sum to 1.
  std::map<std::string, double> encode_query(const std::vector<std::string>& tokens);
  std::map<long long, double> encode_query(const std::vector<long long>& tokens);

  // Writes the model as indented JSON text to the file at `path`.
  void dump(const std::string& path) const;
  // Restores a model from the JSON text a dump wrote (the text itself, not a path).
  void load(const std::string& text);

  // Adds `other`'s counts into this model: documents, the document-length total and every
  // token's occurrences, saturating at the 64-bit limits as training does, so that models
  // trained on the shards of a corpus merge into the model of the whole corpus
  // (bm25_merge.cpp). Throws std::invalid_argument, changing nothing, when b or k1 differ.
  void merge(const BM25& other);

  // The whole training state as compact bytes, the exact document-length total included
  // (which the model file lacks), and a model restored from them (bm25_state.cpp). The
  // restore throws std::invalid_argument on bytes that no state() call wrote.
  std::string state() const;
  static BM25 from_state(std::string_view state);

  double b() const { return _b; }
  double k1() const { return _k1; }
  int64_t doc_count() const { return _doc_count; }
  int64_t doc_length_total() const { return _doc_length_total; }
  double doc_length_average() const { return _doc_length_average; }
  const TokenCountTable& doc_token_frequency() const { return _doc_token_frequency; }

 private:
  // One body for each operation above that takes string or integer tokens (Token is
  // std::string or long long); the public overloads forward to these.
  template <typename Token>
  void train_one(const std::vector<Token>& tokens_vec);
  template <typename Token>
  void train_step(const std::vector<Token>& tokens_vec);
  template <typename Token>
  static std::unordered_map<Token, int64_t> count_tokens(const std::vector<Token>& tokens_vec);
  template <typename Token>
  std::map<Token, double> document_weights(const std::vector<Token>& tokens) const;
  template <typename Token>
  std::map<Token, double> query_weights(const std::vector<Token>& tokens) const;

  void add_document_length(std::size_t length);
  void check_initialized() const;
  double idf_of_key(std::string_view key) const;

  double _b;
  double _k1;
  int64_t _doc_count = 0;
  int64_t _doc_length_total = 0;
  double _doc_length_average = 0.0;
  TokenCountTable _doc_token_frequency;
};

}  // namespace orvel::typing::text
