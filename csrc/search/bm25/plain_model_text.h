#pragma once

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvel::typing::text {

// Loading a model goes through this reader first: it needs no tree of JSON values (about
// 100 bytes per token) and no copies, so large models load in little more than their own
// size. Anything outside the plain form goes to the lenient JSON parser, whose result this
// reader reproduces exactly for the texts it accepts.
// Reads the plain form of a model text: one object with exactly the five keys, each once,
// String keys without backslashes, Integer table values and numbers that end cleanly. For such a
// text the lenient parser writes no diagnostic and yields exactly these values, so loading from
// here is the same as loading from its tree. Every check answers "not plain" rather than failing;
// the caller then uses the parser.
class PlainModelText {
 public:
  // Root keys in the order the file lists them (ascending bytes).
  enum RootKey { kB, kDocCount, kDocLengthAverage, kDocTokenFrequency, kK1, kRootKeyCount };
  static constexpr std::string_view kRootKeys[kRootKeyCount] = {
      "_b", "_doc_count", "_doc_length_average", "_doc_token_frequency", "_k1"};

  explicit PlainModelText(std::string_view text) : text_(text) {}

  // Checks the whole text and reads the scalars; true when the text is plain.
  bool read() {
    if (!consume('{')) return false;
    bool seen[kRootKeyCount] = {};
    while (true) {
      std::string_view key;
      if (!read_key(key) || !consume(':')) return false;
      const auto found = std::find(std::begin(kRootKeys), std::end(kRootKeys), key);
      if (found == std::end(kRootKeys)) return false;
      const auto which = static_cast<std::size_t>(found - std::begin(kRootKeys));
      if (seen[which]) return false;
      seen[which] = true;
      bool ok = false;
      switch (which) {
        case kB:
          ok = read_real(b_);
          break;
        case kDocCount:
          ok = read_integer(doc_count_);
          break;
        case kDocLengthAverage:
          ok = read_real(doc_length_average_);
          break;
        case kDocTokenFrequency:
          ok = consume('{');
          table_start_ = pos_;
          ok = ok && for_each_entry([](std::string_view, int64_t) {});
          break;
        case kK1:
          ok = read_real(k1_);
          break;
      }
      if (!ok) return false;
      skip_whitespace();
      const char ch = current();
      ++pos_;
      if (ch == '}') break;
      if (ch != ',') return false;
    }
    return std::all_of(std::begin(seen), std::end(seen), [](bool s) { return s; });
  }

  // Visits the table's entries; only after read() accepted the text.
  template <typename Visit>
  void visit_table(Visit&& visit) {
    pos_ = table_start_;
    for_each_entry(visit);
  }

  int64_t doc_count() const { return doc_count_; }
  double doc_length_average() const { return doc_length_average_; }
  double b() const { return b_; }
  double k1() const { return k1_; }

 private:
  // The parser's whitespace: the default locale's isspace.
  static bool is_whitespace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
  }
  static bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

  char current() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void skip_whitespace() {
    while (is_whitespace(current())) ++pos_;
  }
  bool consume(char expected) {
    skip_whitespace();
    if (current() != expected) return false;
    ++pos_;
    return true;
  }

  // Position on the table's first byte after '{'; true at its closing brace.
  template <typename Visit>
  bool for_each_entry(Visit&& visit) {
    skip_whitespace();
    if (current() == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      std::string_view key;
      int64_t count = 0;
      if (!read_key(key) || !consume(':') || !read_integer(count)) return false;
      // Storing in text order lets a repeated key keep its last value, as the parser's map
      // does; and since every value is valid, the order of the keys cannot matter otherwise.
      visit(key, count);
      skip_whitespace();
      const char ch = current();
      ++pos_;
      if (ch == '}') return true;
      if (ch != ',') return false;
    }
  }

  // A String with no escapes; its bytes are then the token itself.
  bool read_key(std::string_view& key) {
    if (!consume('"')) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\\') ++pos_;
    if (current() != '"') return false;
    key = text_.substr(start, pos_ - start);
    ++pos_;
    return true;
  }

  // The bytes the parser would take as a number's mantissa, provided the number ends where
  // the parser accepts it (no exponent).
  bool read_number_text(std::string_view& digits) {
    skip_whitespace();
    const std::size_t start = pos_;
    if (current() != '-' && !is_digit(current())) return false;
    while (current() == '-' || current() == '.' || is_digit(current())) ++pos_;
    const char end = current();
    if (!is_whitespace(end) && end != ',' && end != ']' && end != '}') return false;
    digits = text_.substr(start, pos_ - start);
    return true;
  }

  // An optional '-' and digits only: then std::stol and std::from_chars agree.
  bool read_integer(int64_t& number) {
    std::string_view digits;
    if (!read_number_text(digits) || digits.find('.') != std::string_view::npos) return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size();
  }

  // The parser's own conversion: std::stod of the mantissa (times 10^0).
  bool read_real(double& number) {
    std::string_view digits;
    if (!read_number_text(digits) || digits.find('.') == std::string_view::npos) return false;
    try {
      number = std::stod(std::string(digits));
    } catch (const std::logic_error&) {
      return false;  // the parser reports it, with its own exception
    }
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t table_start_ = 0;
  int64_t doc_count_ = 0;
  double doc_length_average_ = 0.0;
  double b_ = 0.0;
  double k1_ = 0.0;
};

}  // namespace orvel::typing::text
