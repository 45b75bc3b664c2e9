#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel::typing::text {

class BM25;

// One distinct token of one item and how often the item holds it. A string token is viewed in
// place (its bytes belong to the caller's input); an integer token keeps its value.
struct TermCount {
  std::string_view token;  // string tokens
  long long integer = 0;   // integer tokens
  std::uint32_t count = 0;
  std::uint32_t id = 0;  // MurmurHash3 of the token's bytes (integer: its decimal text)
  // The caller's own object for the token, if it passed one (opaque here): lets it reuse an
  // object it already has instead of building an equal one.
  const void* origin = nullptr;
};

// A string token and the caller's object for it (may be null).
struct OriginToken {
  std::string_view bytes;
  const void* origin;
};

// The counted tokens of one item of a batch, in the order the per-item encoders list their
// keys: byte order for string tokens, numeric order for integer tokens.
struct ItemTerms {
  std::vector<TermCount> terms;
  std::size_t length = 0;  // tokens in the item, repeats included
  bool integer = false;
};

// Counts string tokens (the OriginToken form sorts `tokens` on the way). Ids are filled only
// when `with_ids`.
void CountTokens(std::vector<std::string_view>& tokens, bool with_ids, ItemTerms& item);
void CountTokens(std::vector<OriginToken>& tokens, bool with_ids, ItemTerms& item);
void CountIntegers(std::vector<long long>& tokens, bool with_ids, ItemTerms& item);

// Whether `model` can encode yet (it has documents of some length); CheckCanEncode throws
// std::runtime_error, as the per-item encoders do, when it cannot.
bool CanEncode(const BM25& model);
void CheckCanEncode(const BM25& model);

// What document weights read from the model. Taken once per batch, so that the documents can be
// weighed off the interpreter lock while another thread might train the model.
struct DocumentScale {
  explicit DocumentScale(const BM25& model);
  double b;
  double k1;
  double length_average;
};

// The weights encode_document / encode_query give the item's terms, bit for bit, in term
// order. An empty item has no weights and needs no trained model.
void DocumentWeights(const DocumentScale& scale, const ItemTerms& item,
                     std::vector<double>& weights);
inline void DocumentWeights(const BM25& model, const ItemTerms& item,
                            std::vector<double>& weights) {
  DocumentWeights(DocumentScale(model), item, weights);
}
void QueryWeights(const BM25& model, const ItemTerms& item, std::vector<double>& weights);

// (id, weight) pairs sorted by id, terms whose ids collide summed in key order.
void SparseEntries(const ItemTerms& item, const std::vector<double>& weights,
                   std::vector<std::pair<std::uint32_t, double>>& entries);

// Document vectors by id, one row per document, back to back: row r is ids[starts[r]] up to
// (not including) ids[starts[r + 1]], with values alongside (the form of a CSR matrix). A
// chunk of short documents is a few arrays instead of several small vectors per document.
struct SparseRows {
  std::vector<std::uint32_t> ids;
  std::vector<double> values;
  // Per entry: the entry of the same row, at or before it, whose value is the same bits (the
  // entry itself when it is the first), so that a row's equal weights can share one object.
  std::vector<std::uint32_t> same_value;
  std::vector<std::size_t> starts{0};

  std::size_t rows() const { return starts.size() - 1; }
  void Clear();
};

// Counts one document's string tokens after another, reusing its buffers: the distinct tokens
// are found in a small hash table sized to the document and cleared for the next one, so a
// document costs no allocation once the buffers have grown to the largest one yet. One per
// thread.
class TermCounter {
 public:
  // As CountTokens.
  void Count(const std::vector<std::string_view>& tokens, bool with_ids, ItemTerms& item);

  // Appends the document of `tokens` as a row of `rows`: encode_document's weights (with
  // `scale`) by MurmurHash3 id, sorted by id, colliding terms summed in key order; the same
  // entries, bit for bit, as SparseEntries of the counted and weighed document.
  void AppendSparse(const std::vector<std::string_view>& tokens, const DocumentScale& scale,
                    SparseRows& rows);

 private:
  struct Term {
    std::string_view token;
    std::uint32_t hash;  // MurmurHash3, the token's id
    std::uint32_t count;
  };

  void Tally(const std::vector<std::string_view>& tokens);
  void SortByKey();      // order_ = term indexes by key
  void SortPackedIds();  // sorts keys_, each an id above a token index
  // The summed weight of the distinct tokens that keys_[begin, end) index, all on one id.
  double CollidingWeight(const std::vector<std::string_view>& tokens, std::size_t begin,
                         std::size_t end, double k);

  std::vector<std::uint32_t> slots_;  // term index + 1; 0 is free
  std::vector<Term> terms_;
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> order_;
  // AppendSparse's.
  std::vector<std::uint64_t> spread_;
  std::vector<std::size_t> bucket_starts_;
  std::vector<std::uint32_t> first_of_count_;  // per count, its first entry + 1
  std::vector<std::string_view> colliding_;
};

}  // namespace orvel::typing::text
