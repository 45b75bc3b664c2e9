#pragma once

#include <cstddef>
#include <string_view>

namespace orvel::tokenizer::jieba {

// Splits `text` at every byte for which `is_separator` holds, with the reference's field rules:
// empty text gives no field, empty fields between or before separators are kept, and a single
// separator at the very end adds no trailing empty field. Stores the first `capacity` fields in
// `fields` and returns the total number of fields, so callers can reject a wrong count without
// allocating.
template <typename IsSeparator>
std::size_t SplitFields(std::string_view text, IsSeparator is_separator, std::string_view* fields,
                        std::size_t capacity) {
  std::size_t count = 0;
  std::size_t field_start = 0;
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    if (!is_separator(text[pos])) continue;
    if (count < capacity) fields[count] = text.substr(field_start, pos - field_start);
    ++count;
    field_start = pos + 1;
  }
  if (field_start < text.size()) {
    if (count < capacity) fields[count] = text.substr(field_start);
    ++count;
  }
  return count;
}

inline std::size_t SplitFields(std::string_view text, char separator, std::string_view* fields,
                               std::size_t capacity) {
  return SplitFields(
      text, [separator](char c) { return c == separator; }, fields, capacity);
}

// The six ASCII white-space bytes of the "C" locale: space, \t, \n, \v, \f, \r.
constexpr bool IsAsciiSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Strips ASCII white space (IsAsciiSpace) from both ends.
std::string_view TrimAsciiSpace(std::string_view text);

// The C library's atof in the "C" locale, independent of the process locale: leading white space,
// the longest valid prefix (decimal, hexadecimal, inf, nan), trailing garbage ignored, 0 when no
// prefix is valid, +-inf on overflow and 0 on underflow.
double ParseCDouble(std::string_view text);

// The C library's atoi as this platform implements it: leading white space, optional sign,
// decimal digits; the value is clamped to the range of long (as strtol does) and then truncated
// to a 32-bit int.
int ParseCInt(std::string_view text);

// Calls `on_line(line)` for each LF-terminated line of `text`. A final LF does not start an
// extra empty line, a last line without LF is still reported, and CR bytes are kept.
template <typename OnLine>
void ForEachLine(std::string_view text, OnLine on_line) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    on_line(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace orvel::tokenizer::jieba
