#include "tokenizer/jieba/text_fields.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <limits>

namespace orvel::tokenizer::jieba {
namespace {

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// from_chars reports out-of-range literals without a value, where strtod returns inf or 0. The
// literal's order of magnitude decides which: the power of the first non-zero mantissa digit
// plus the exponent is positive only for overflow.
bool LiteralOverflows(std::string_view literal, bool hex) {
  const int digit_bits = hex ? 4 : 1;
  const char exponent_mark_lower = hex ? 'p' : 'e';
  long long first_digit_power = 0;
  bool seen_nonzero = false;
  bool in_fraction = false;
  long long integer_digits_after_first = 0;
  long long fraction_zeros = 0;
  std::size_t pos = 0;
  for (; pos < literal.size(); ++pos) {
    const char c = literal[pos];
    if (c == '.') {
      in_fraction = true;
      continue;
    }
    if (!(hex ? IsHexDigit(c) : IsDecimalDigit(c))) break;
    if (!seen_nonzero && c != '0') {
      seen_nonzero = true;
      first_digit_power = in_fraction ? -(fraction_zeros + 1) : 0;
    } else if (seen_nonzero && !in_fraction) {
      ++integer_digits_after_first;
    } else if (!seen_nonzero && in_fraction) {
      ++fraction_zeros;
    }
  }
  if (!seen_nonzero) return false;
  long long magnitude = (first_digit_power + integer_digits_after_first) * digit_bits;
  if (pos < literal.size() && (literal[pos] | 0x20) == exponent_mark_lower) {
    ++pos;
    bool negative = false;
    if (pos < literal.size() && (literal[pos] == '+' || literal[pos] == '-')) {
      negative = literal[pos] == '-';
      ++pos;
    }
    long long exponent = 0;
    for (; pos < literal.size() && IsDecimalDigit(literal[pos]); ++pos) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (literal[pos] - '0');
    }
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude >= 0;
}

// Both C conversions start alike: leading white space, then an optional sign. Returns the
// position after them.
std::size_t SkipSpaceAndSign(std::string_view text, bool& negative) {
  std::size_t pos = 0;
  while (pos < text.size() && IsAsciiSpace(text[pos])) ++pos;
  negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  return pos;
}

}  // namespace

std::string_view TrimAsciiSpace(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsAsciiSpace(text[begin])) ++begin;
  while (end > begin && IsAsciiSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

double ParseCDouble(std::string_view text) {
  bool negative = false;
  std::size_t pos = SkipSpaceAndSign(text, negative);
  std::string_view rest = text.substr(pos);
  auto format = std::chars_format::general;
  // strtod's "0x" prefix needs a hex digit after it (possibly after the point); otherwise only
  // the leading "0" is a number.
  if (rest.size() >= 3 && rest[0] == '0' && (rest[1] | 0x20) == 'x' &&
      (IsHexDigit(rest[2]) || (rest[2] == '.' && rest.size() >= 4 && IsHexDigit(rest[3])))) {
    rest.remove_prefix(2);
    format = std::chars_format::hex;
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value, format);
  if (error == std::errc::invalid_argument) return 0.0;
  if (error == std::errc::result_out_of_range) {
    const std::string_view literal(rest.data(), static_cast<std::size_t>(end - rest.data()));
    value = LiteralOverflows(literal, format == std::chars_format::hex)
                ? std::numeric_limits<double>::infinity()
                : 0.0;
  }
  return negative ? -value : value;
}

int ParseCInt(std::string_view text) {
  bool negative = false;
  std::size_t pos = SkipSpaceAndSign(text, negative);
  // Accumulate the magnitude with saturation just past the long range, then clamp like strtol.
  constexpr std::uint64_t kSaturated = static_cast<std::uint64_t>(LONG_MAX) + 1;
  std::uint64_t magnitude = 0;
  for (; pos < text.size() && IsDecimalDigit(text[pos]); ++pos) {
    const auto digit = static_cast<std::uint64_t>(text[pos] - '0');
    magnitude = magnitude > (kSaturated - digit) / 10 ? kSaturated : magnitude * 10 + digit;
  }
  long clamped;
  if (negative) {
    clamped = magnitude >= kSaturated ? LONG_MIN : -static_cast<long>(magnitude);
  } else {
    clamped = magnitude >= kSaturated ? LONG_MAX : static_cast<long>(magnitude);
  }
  // The int conversion keeps the low 32 bits, as the reference's platform does.
  return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(clamped)));
}

}  // namespace orvel::tokenizer::jieba
