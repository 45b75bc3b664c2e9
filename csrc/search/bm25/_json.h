#pragma once

// A small JSON value with a lenient parser and an indenting writer. The BM25 model file is
// its only user, so it does no more than that file needs: seven kinds, deep copies, a few
// typed reads, and parse errors reported as one line on std::cerr instead of exceptions.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <iostream>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>

namespace orvel::typing::text::json {

class JSON;

namespace {
inline JSON parse_next(const std::string& text, std::size_t& pos);
inline std::string json_escape(const std::string& text);
}  // namespace

class JSON {
 public:
  enum class Kind : int32_t { Null, Object, Array, String, Real, Integer, Bool };

  using ObjectMap = std::map<std::string, JSON>;
  using ArrayDeque = std::deque<JSON>;

  // The (key, value) pairs of an Object in key order; empty for every other kind.
  template <typename Iterator>
  class EntryRange {
   public:
    EntryRange() = default;
    EntryRange(Iterator first, Iterator last) : first_(first), last_(last) {}
    Iterator begin() const { return first_; }
    Iterator end() const { return last_; }

   private:
    // Value-initialised map iterators compare equal, which gives the empty range.
    Iterator first_{};
    Iterator last_{};
  };

  JSON() noexcept { payload_.integer = 0; }
  JSON(const JSON& other) : JSON() { CopyFrom(other); }
  JSON(JSON&& other) noexcept : payload_(other.payload_), kind_(other.kind_) { other.MakeNull(); }
  ~JSON() { ClearInternal(); }

  // Copies before releasing, so assigning a value to itself or from a value nested in the
  // target reads the source while it still exists.
  JSON& operator=(const JSON& other) {
    JSON copy(other);
    return *this = std::move(copy);
  }
  JSON& operator=(JSON&& other) noexcept {
    const Payload taken = other.payload_;
    const Kind taken_kind = other.kind_;
    other.MakeNull();
    ClearInternal();
    payload_ = taken;
    kind_ = taken_kind;
    return *this;
  }

  template <
      typename Integer,
      std::enable_if_t<std::is_integral_v<Integer> && !std::is_same_v<Integer, bool>, int> = 0>
  JSON& operator=(Integer number) {
    ConvertTo(Kind::Integer);
    payload_.integer = static_cast<int64_t>(number);
    return *this;
  }
  JSON& operator=(double number) {
    ConvertTo(Kind::Real);
    payload_.real = number;
    return *this;
  }
  JSON& operator=(bool flag) {
    ConvertTo(Kind::Bool);
    payload_.integer = 0;
    payload_.boolean = flag;
    return *this;
  }
  JSON& operator=(const std::string& text) {
    // Copy first: `text` may live inside this value.
    std::string copy(text);
    ConvertTo(Kind::String);
    payload_.string->swap(copy);
    return *this;
  }
  JSON& operator=(std::string&& text) {
    std::string taken(std::move(text));
    ConvertTo(Kind::String);
    payload_.string->swap(taken);
    return *this;
  }
  // Without this a string literal would pick the bool overload.
  JSON& operator=(const char* text) { return *this = std::string(text); }

  // Makes the value an Object (dropping other content) and returns the entry for `key`,
  // inserting a Null entry when there is none.
  JSON& operator[](const std::string& key) {
    ConvertTo(Kind::Object);
    return (*payload_.object)[key];
  }
  // Makes the value an Array (dropping other content), grows it with Nulls to hold `index`,
  // and returns that element. Growing a deque at its end leaves existing elements in place.
  JSON& operator[](unsigned index) {
    ConvertTo(Kind::Array);
    ArrayDeque& elements = *payload_.array;
    if (index >= elements.size()) elements.resize(static_cast<std::size_t>(index) + 1);
    return elements[index];
  }

  // Same kind: nothing changes. Otherwise the old content goes and the value becomes the
  // empty or zero value of `kind`.
  void ConvertTo(Kind kind) {
    if (kind_ == kind) return;
    Payload fresh;
    fresh.integer = 0;
    // Allocate before releasing, so running out of memory leaves the old value intact.
    switch (kind) {
      case Kind::Object:
        fresh.object = new ObjectMap();
        break;
      case Kind::Array:
        fresh.array = new ArrayDeque();
        break;
      case Kind::String:
        fresh.string = new std::string();
        break;
      case Kind::Real:
        fresh.real = 0.0;
        break;
      default:
        break;
    }
    ClearInternal();
    payload_ = fresh;
    kind_ = kind;
  }

  Kind GetKind() const { return kind_; }

  // No conversion between kinds: reading the wrong kind sets `ok` false and returns zero.
  int64_t GetInteger(bool& ok) const {
    ok = kind_ == Kind::Integer;
    return ok ? payload_.integer : 0;
  }
  double GetReal(bool& ok) const {
    ok = kind_ == Kind::Real;
    return ok ? payload_.real : 0.0;
  }

  EntryRange<ObjectMap::iterator> Entries() {
    if (kind_ != Kind::Object) return {};
    return {payload_.object->begin(), payload_.object->end()};
  }
  EntryRange<ObjectMap::const_iterator> Entries() const {
    if (kind_ != Kind::Object) return {};
    return {payload_.object->cbegin(), payload_.object->cend()};
  }

  // The value as indented text; `depth` is the nesting level (outermost 1), `tab` the unit.
  std::string dump(int depth = 1, std::string tab = "  ") const {
    std::string out;
    AppendText(out, depth, tab);
    return out;
  }

  // Parses `text` from its first byte; whatever follows the first value is not examined.
  static JSON Load(const std::string& text) {
    std::size_t pos = 0;
    return parse_next(text, pos);
  }

  // Releases the owned container by kind. Leaves `kind_` and `payload_` as they are: every
  // caller overwrites both straight away.
  void ClearInternal() noexcept {
    switch (kind_) {
      case Kind::Object:
        delete payload_.object;
        break;
      case Kind::Array:
        delete payload_.array;
        break;
      case Kind::String:
        delete payload_.string;
        break;
      default:
        break;
    }
  }

 private:
  union Payload {
    ObjectMap* object;
    ArrayDeque* array;
    std::string* string;
    double real;
    int64_t integer;
    bool boolean;
  };

  void MakeNull() noexcept {
    payload_.integer = 0;
    kind_ = Kind::Null;
  }

  // Only called on a Null value. Containers are built in a local owner first, so an
  // allocation failure part-way releases what was copied and leaves this value Null.
  void CopyFrom(const JSON& other) {
    switch (other.kind_) {
      case Kind::Object: {
        auto* copy = new ObjectMap();
        try {
          for (const auto& entry : *other.payload_.object) copy->emplace_hint(copy->end(), entry);
        } catch (...) {
          delete copy;
          throw;
        }
        payload_.object = copy;
        break;
      }
      case Kind::Array: {
        auto* copy = new ArrayDeque();
        try {
          for (const JSON& element : *other.payload_.array) copy->push_back(element);
        } catch (...) {
          delete copy;
          throw;
        }
        payload_.array = copy;
        break;
      }
      case Kind::String:
        payload_.string = new std::string(*other.payload_.string);
        break;
      default:
        payload_ = other.payload_;
        break;
    }
    kind_ = other.kind_;
  }

  // Appends to one buffer rather than returning a string per nested value: same text,
  // without copying every subtree once per level.
  void AppendText(std::string& out, int depth, const std::string& tab) const {
    switch (kind_) {
      case Kind::Null:
        out += "null";
        return;
      case Kind::Bool:
        out += payload_.boolean ? "true" : "false";
        return;
      case Kind::Integer:
        out += std::to_string(payload_.integer);
        return;
      case Kind::Real:
        out += std::to_string(payload_.real);
        return;
      case Kind::String:
        out += '"';
        out += json_escape(*payload_.string);
        out += '"';
        return;
      case Kind::Array: {
        out += '[';
        bool first = true;
        for (const JSON& element : *payload_.array) {
          if (!first) out += ", ";
          first = false;
          element.AppendText(out, depth + 1, tab);
        }
        out += ']';
        return;
      }
      case Kind::Object: {
        std::string pad;
        for (int level = 0; level < depth; ++level) pad += tab;
        out += "{\n";
        bool first = true;
        for (const auto& [key, value] : *payload_.object) {
          if (!first) out += ",\n";
          first = false;
          // Keys go out as held: the parser already holds them escaped.
          out += pad;
          out += '"';
          out += key;
          out += "\" : ";
          value.AppendText(out, depth + 1, tab);
        }
        out += '\n';
        // The closing brace sits two characters left of the entries, whatever the unit.
        out.append(pad, pad.size() < 2 ? pad.size() : 2, std::string::npos);
        out += '}';
        return;
      }
    }
  }

  Payload payload_;
  Kind kind_ = Kind::Null;
};

static_assert(sizeof(JSON) == 16, "a JSON value is one payload word and a kind tag");

inline JSON Array() {
  JSON value;
  value.ConvertTo(JSON::Kind::Array);
  return value;
}

inline JSON Object() {
  JSON value;
  value.ConvertTo(JSON::Kind::Object);
  return value;
}

inline std::ostream& operator<<(std::ostream& os, const JSON& value) {
  return os << value.dump(1, "  ");
}

// The byte-level rules for numbers and strings, shared by the parser below and by the model
// file's fast reader (model_file.h): one copy of each rule means the two readers cannot come to
// disagree about what a number or a string is.

// The parser's whitespace: the default locale's isspace, fixed so that no locale can widen it.
inline bool IsJsonWhitespace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// How a number's text ended.
enum class NumberEnd {
  kNumber,       // ended cleanly, by whitespace, ',', ']' or '}'
  kBadExponent,  // an exponent followed by some other byte
  kUnexpected,   // a mantissa followed by some other byte
};

struct NumberScan {
  NumberEnd end = NumberEnd::kNumber;
  std::string_view mantissa;       // '-', '.' and digits in any order, as the text has them
  std::string_view exponent_text;  // the exponent's digits, with '-' in front when negative
  bool real = false;               // the mantissa holds a '.'
  bool has_exponent = false;       // an 'e' or 'E' followed the mantissa
  char offending = '\0';           // the byte that ended the number badly
};

// Scans the number whose first byte ('-' or a digit) is at `pos`. Lenient by design: '-' and
// '.' may stand anywhere in the mantissa. After a clean end `pos` is on the byte that ended the
// number; after a bad end it is just past the offending byte. Bytes at or past the end of the
// text read as NUL, which ends no number cleanly.
inline NumberScan ScanNumber(std::string_view text, std::size_t& pos) {
  const auto at = [&text](std::size_t index) { return index < text.size() ? text[index] : '\0'; };
  const auto ends_number = [](char ch) {
    return IsJsonWhitespace(ch) || ch == ',' || ch == ']' || ch == '}';
  };
  NumberScan scan;
  const std::size_t start = pos;
  char ch;
  while (true) {
    ch = at(pos);
    ++pos;
    if (ch == '.') {
      scan.real = true;
    } else if (ch != '-' && !(ch >= '0' && ch <= '9')) {
      break;
    }
  }
  scan.mantissa = text.substr(start, pos - 1 - start);
  if (ch == 'e' || ch == 'E') {
    scan.has_exponent = true;
    // A '-' stays in the exponent's text, a '+' does not; the digits follow either directly.
    const std::size_t exponent_start = at(pos) == '+' ? pos + 1 : pos;
    if (at(pos) == '-' || at(pos) == '+') ++pos;
    while (true) {
      ch = at(pos);
      ++pos;
      if (!(ch >= '0' && ch <= '9')) break;
    }
    scan.exponent_text = text.substr(exponent_start, pos - 1 - exponent_start);
    if (!ends_number(ch)) {
      scan.end = NumberEnd::kBadExponent;
      scan.offending = ch;
      return scan;
    }
  } else if (!ends_number(ch)) {
    scan.end = NumberEnd::kUnexpected;
    scan.offending = ch;
    return scan;
  }
  --pos;
  return scan;
}

// A cleanly ended number's value.
struct NumberValue {
  bool real;
  double real_value;
  int64_t integer_value;
};

// Converts a cleanly ended number as the standard conversions do: they read the longest valid
// prefix, throw std::invalid_argument when there is none and std::out_of_range when the value
// does not fit. A mantissa with '.' or an exponent gives a Real, any other an Integer.
inline NumberValue ConvertNumber(const NumberScan& scan) {
  // Fast path for the common '-'? digits form, where std::from_chars reads what std::stol
  // reads; everything else (and every failure, for its exception) goes to the standard
  // conversions themselves.
  if (!scan.real && !scan.has_exponent) {
    int64_t integer = 0;
    const char* first = scan.mantissa.data();
    const char* last = first + scan.mantissa.size();
    const auto [end, error] = std::from_chars(first, last, integer);
    if (error == std::errc() && end == last && first != last) return {false, 0.0, integer};
  }
  long exponent = 0;
  if (scan.has_exponent) exponent = std::stol(std::string(scan.exponent_text), nullptr, 10);
  if (scan.real) {
    return {true,
            std::stod(std::string(scan.mantissa)) * std::pow(10.0, static_cast<double>(exponent)),
            0};
  }
  const auto integer = static_cast<int64_t>(std::stol(std::string(scan.mantissa), nullptr, 10));
  if (!scan.has_exponent) return {false, 0.0, integer};
  return {true, static_cast<double>(integer) * std::pow(10.0, static_cast<double>(exponent)), 0};
}

// How a string's text ended.
enum class StringEnd {
  kClosed,      // at its closing quote
  kTextEnded,   // the text ended first; the string holds everything up to there
  kBadUnicode,  // a \u escape with a byte that is not a hexadecimal digit
};

struct StringScan {
  StringEnd end = StringEnd::kClosed;
  // The string's text: a view of the input when it holds no escape (no copy), otherwise of
  // the caller's scratch buffer. Empty after a bad \u escape.
  std::string_view text;
  char offending = '\0';  // the bad \u digit
};

// Scans the String whose opening quote is at `pos`, decoding escapes: \" \\ \/ \b \f \n \r \t
// give their byte, \u and four hexadecimal digits stay as those six characters (never decoded),
// and any other escape leaves a single backslash, dropping the letter. Leaves `pos` past the
// closing quote, at the end of the text when it ends first, or on the 'u' of a bad \u escape.
inline StringScan ScanString(std::string_view text, std::size_t& pos, std::string& scratch) {
  StringScan scan;
  const std::size_t start = pos + 1;
  std::size_t index = start;
  while (index < text.size() && text[index] != '"' && text[index] != '\\') ++index;
  if (index >= text.size()) {
    scan.end = StringEnd::kTextEnded;
    scan.text = text.substr(std::min(start, text.size()));
    pos = text.size();
    return scan;
  }
  if (text[index] == '"') {
    scan.text = text.substr(start, index - start);
    pos = index + 1;
    return scan;
  }
  // An escape: decode from here into the scratch buffer.
  scratch.assign(text.substr(start, index - start));
  pos = index - 1;
  const auto at = [&text](std::size_t i) { return i < text.size() ? text[i] : '\0'; };
  const auto is_hex = [](char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
  };
  while (true) {
    ++pos;
    if (pos >= text.size()) {
      pos = text.size();
      scan.end = StringEnd::kTextEnded;
      break;
    }
    const char ch = text[pos];
    if (ch == '"') {
      ++pos;
      break;
    }
    if (ch != '\\') {
      scratch += ch;
      continue;
    }
    ++pos;
    switch (const char escape = at(pos)) {
      case '"':
      case '\\':
      case '/':
        scratch += escape;
        break;
      case 'b':
        scratch += '\b';
        break;
      case 'f':
        scratch += '\f';
        break;
      case 'n':
        scratch += '\n';
        break;
      case 'r':
        scratch += '\r';
        break;
      case 't':
        scratch += '\t';
        break;
      case 'u':
        for (std::size_t offset = 1; offset <= 4; ++offset) {
          if (!is_hex(at(pos + offset))) {
            scan.end = StringEnd::kBadUnicode;
            scan.offending = at(pos + offset);
            scan.text = {};
            return scan;
          }
        }
        scratch += "\\u";
        scratch.append(text.substr(pos + 1, 4));
        pos += 4;
        break;
      default:
        scratch += '\\';
        break;
    }
  }
  scan.text = scratch;
  return scan;
}

namespace {

inline std::string json_escape(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char byte : text) {
    switch (byte) {
      case '"':
        escaped += "\\\"";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      case '\b':
        escaped += "\\b";
        break;
      case '\f':
        escaped += "\\f";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\t':
        escaped += "\\t";
        break;
      default:
        escaped += byte;
        break;
    }
  }
  return escaped;
}

// Recursive descent over bytes with one shared position. Every byte at or past the end reads
// as NUL, which no rule accepts, so no read leaves the text. Nesting is bounded so that
// hostile input cannot exhaust the stack.
class TextParser {
 public:
  static constexpr int kMaxDepth = 1000;

  TextParser(const std::string& text, std::size_t& pos) : text_(text), pos_(pos) {}

  JSON ParseValue() {
    SkipWhitespace();
    const char ch = Current();
    switch (ch) {
      case '[':
      case '{': {
        if (depth_ >= kMaxDepth) {
          Report("ERROR: Parse: Maximum nesting depth exceeded, found '", std::string(1, ch));
          return JSON();
        }
        ++depth_;
        JSON value = ch == '[' ? ParseArray() : ParseObject();
        --depth_;
        return value;
      }
      case '"': {
        JSON value;
        value = ParseString();
        return value;
      }
      case 't':
      case 'f':
        return ParseBool();
      case 'n':
        return ParseNull();
      default:
        if (ch == '-' || IsDigit(ch)) return ParseNumber();
        Report("ERROR: Parse: Unknown starting character '", std::string(1, ch));
        return JSON();
    }
  }

 private:
  static bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

  char At(std::size_t index) const { return index < text_.size() ? text_[index] : '\0'; }
  char Current() const { return At(pos_); }
  // Up to `count` bytes from the position, fewer where the text ends.
  std::string Upcoming(std::size_t count) const {
    return pos_ < text_.size() ? text_.substr(pos_, count) : std::string();
  }
  bool StartsWith(const char* word, std::size_t length) const {
    return pos_ < text_.size() && text_.compare(pos_, length, word) == 0;
  }
  void SkipWhitespace() {
    while (IsJsonWhitespace(Current())) ++pos_;
  }

  static void Report(const char* message, const std::string& found) {
    std::string line(message);
    line += found;
    line += "'\n";
    std::cerr << line;
  }

  JSON ParseArray() {
    JSON array = Array();
    unsigned index = 0;
    ++pos_;
    SkipWhitespace();
    if (Current() == ']') {
      ++pos_;
      return array;
    }
    while (true) {
      array[index++] = ParseValue();
      SkipWhitespace();
      const char ch = Current();
      if (ch == ',') {
        ++pos_;
        continue;
      }
      if (ch == ']') {
        ++pos_;
        return array;
      }
      Report("ERROR: Array: Expected ',' or ']', found '", std::string(1, ch));
      return Array();
    }
  }

  JSON ParseObject() {
    JSON object = Object();
    ++pos_;
    SkipWhitespace();
    if (Current() == '}') {
      ++pos_;
      return object;
    }
    while (true) {
      // A key of any kind but String is held as the empty key; a String key is held escaped.
      std::string key;
      SkipWhitespace();
      if (Current() == '"') {
        key = json_escape(ParseString());
      } else {
        ParseValue();
      }
      SkipWhitespace();
      if (Current() != ':') {
        Report("Error: Object: Expected colon, found '", std::string(1, Current()));
        return object;
      }
      ++pos_;
      SkipWhitespace();
      object[key] = ParseValue();
      SkipWhitespace();
      const char ch = Current();
      if (ch == ',') {
        ++pos_;
        continue;
      }
      if (ch == '}') {
        ++pos_;
        return object;
      }
      Report("ERROR: Object: Expected comma, found '", std::string(1, ch));
      return object;
    }
  }

  // Position on the opening quote. Returns the text, or empty text after a bad \u escape.
  std::string ParseString() {
    std::string scratch;
    const StringScan scan = ScanString(text_, pos_, scratch);
    if (scan.end == StringEnd::kBadUnicode) {
      Report("ERROR: String: Expected hex character in unicode escape, found '",
             std::string(1, scan.offending));
      return std::string();
    }
    // An unterminated string ends with the text, leaving the position on the end.
    return std::string(scan.text);
  }

  JSON ParseBool() {
    JSON value;
    if (StartsWith("true", 4)) {
      pos_ += 4;
      value = true;
    } else if (StartsWith("false", 5)) {
      pos_ += 5;
      value = false;
    } else {
      Report("ERROR: Bool: Expected 'true' or 'false', found '", Upcoming(5));
    }
    return value;
  }

  JSON ParseNull() {
    if (StartsWith("null", 4)) {
      pos_ += 4;
    } else {
      Report("ERROR: Null: Expected 'null', found '", Upcoming(4));
    }
    return JSON();
  }

  // Lenient by design (see ScanNumber); the conversions' exceptions are left to the caller.
  JSON ParseNumber() {
    const NumberScan scan = ScanNumber(text_, pos_);
    if (scan.end == NumberEnd::kBadExponent) {
      Report("ERROR: Number: Expected a number for exponent, found '",
             std::string(1, scan.offending));
      return JSON();
    }
    if (scan.end == NumberEnd::kUnexpected) {
      Report("ERROR: Number: unexpected character '", std::string(1, scan.offending));
      return JSON();
    }
    const NumberValue number = ConvertNumber(scan);
    JSON value;
    if (number.real) {
      value = number.real_value;
    } else {
      value = number.integer_value;
    }
    return value;
  }

  const std::string& text_;
  std::size_t& pos_;
  int depth_ = 0;
};

// Skips whitespace, reads one value at `pos` and leaves `pos` just past it.
inline JSON parse_next(const std::string& text, std::size_t& pos) {
  return TextParser(text, pos).ParseValue();
}

}  // namespace

}  // namespace orvel::typing::text::json
