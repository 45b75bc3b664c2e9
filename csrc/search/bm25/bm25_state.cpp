// BM25::state and BM25::from_state: the exact training state as bytes, for copies of a model
// sent to another process (pickling). Unlike the model file it keeps the document-length
// total and the average bit for bit, so training after a restore goes on exactly, and it
// costs one pass without sorting, escaping or formatting numbers.
//
// Layout (little-endian): the magic "BM25", a format version byte, then b, k1 (IEEE doubles),
// doc_count, doc_length_total (int64), doc_length_average (double), the number of tokens
// (uint64) and per token, in the table's insertion order: its length (varint), its bytes and
// its count (int64).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "search/bm25/bm25.h"

namespace orvel::typing::text {
namespace {

constexpr std::string_view kMagic = "BM25";
constexpr unsigned char kFormatVersion = 1;

void put_u64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void put_double(std::string& out, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  put_u64(out, bits);
}

void put_varint(std::string& out, uint64_t value) {
  for (; value >= 0x80; value >>= 7) out += static_cast<char>((value & 0x7F) | 0x80);
  out += static_cast<char>(value);
}

// Reads the layout above, refusing truncated or trailing bytes.
class StateReader {
 public:
  explicit StateReader(std::string_view bytes) : bytes_(bytes) {}

  std::string_view take(std::size_t size) {
    if (size > bytes_.size() - position_) fail();
    const std::string_view part = bytes_.substr(position_, size);
    position_ += size;
    return part;
  }
  uint64_t u64() {
    const std::string_view part = take(8);
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(part[i]);
    return value;
  }
  double real() {
    const uint64_t bits = u64();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  uint64_t varint() {
    uint64_t value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      const auto byte = static_cast<unsigned char>(take(1)[0]);
      value |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return value;
    }
    fail();
  }
  void expect_end() const {
    if (position_ != bytes_.size()) fail();
  }
  [[noreturn]] static void fail() { throw std::invalid_argument("not a BM25 state"); }

 private:
  std::string_view bytes_;
  std::size_t position_ = 0;
};

}  // namespace

std::string BM25::state() const {
  std::string out;
  std::size_t key_bytes = 0;
  _doc_token_frequency.for_each(
      [&](std::string_view token, int64_t) { key_bytes += token.size(); });
  // One allocation: a short token's length takes one byte of varint.
  out.reserve(kMagic.size() + 1 + 6 * 8 + key_bytes + _doc_token_frequency.size() * 9);
  out += kMagic;
  out += static_cast<char>(kFormatVersion);
  put_double(out, _b);
  put_double(out, _k1);
  put_u64(out, static_cast<uint64_t>(_doc_count));
  put_u64(out, static_cast<uint64_t>(_doc_length_total));
  put_double(out, _doc_length_average);
  put_u64(out, _doc_token_frequency.size());
  _doc_token_frequency.for_each([&](std::string_view token, int64_t count) {
    put_varint(out, token.size());
    out += token;
    put_u64(out, static_cast<uint64_t>(count));
  });
  return out;
}

BM25 BM25::from_state(std::string_view state) {
  StateReader in(state);
  if (in.take(kMagic.size()) != kMagic) StateReader::fail();
  if (static_cast<unsigned char>(in.take(1)[0]) != kFormatVersion) {
    throw std::invalid_argument("unsupported BM25 state version");
  }
  const double b = in.real();
  const double k1 = in.real();
  BM25 model(b, k1);  // refuses parameters that are not finite, as the constructor does
  model._doc_count = static_cast<int64_t>(in.u64());
  model._doc_length_total = static_cast<int64_t>(in.u64());
  model._doc_length_average = in.real();
  const uint64_t tokens = in.u64();
  // Sized once rather than grown step by step; an entry takes at least nine bytes, which
  // bounds what a damaged count can make us reserve.
  model._doc_token_frequency.reserve(
      static_cast<std::size_t>(std::min<uint64_t>(tokens, state.size() / 9)), state.size());
  // In runs, hashed before they are filed, so that add_token_counts overlaps the table's
  // cache misses: a model sent to a worker is mostly its tokens, and restoring it took four
  // times as long as writing it.
  constexpr std::size_t kRun = 256;
  std::vector<TokenCount> run;
  run.reserve(kRun);
  for (uint64_t i = 0; i < tokens; ++i) {
    const std::string_view token = in.take(in.varint());
    run.push_back({token, static_cast<int64_t>(in.u64()), TokenCountTable::hash(token)});
    if (run.size() == kRun || i + 1 == tokens) {
      model.add_token_counts(run);
      run.clear();
    }
  }
  in.expect_end();
  // state() lists each token once; a token listed twice would be counted twice.
  if (model._doc_token_frequency.size() != tokens) StateReader::fail();
  return model;
}

}  // namespace orvel::typing::text
