#pragma once

// Reads the golden segmentation files: one JSON object per line with the input "s" and the
// reference's "cut" and "search" words. Shared by the golden tests and the engine benchmark.

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvel::tokenizer::jieba::testing {

struct GoldenLine {
  std::string sentence;
  std::vector<std::string> cut;
  std::vector<std::string> search;
};

// Just enough JSON for the golden lines: one object per line whose members are strings or
// arrays of strings, with every string escape including surrogate pairs.
class GoldenLineParser {
 public:
  explicit GoldenLineParser(const std::string& text) : text_(text) {}

  GoldenLine Parse() {
    GoldenLine line;
    Expect('{');
    do {
      const std::string key = ParseString();
      Expect(':');
      if (key == "s") {
        line.sentence = ParseString();
      } else if (key == "cut") {
        line.cut = ParseStringArray();
      } else if (key == "search") {
        line.search = ParseStringArray();
      } else {
        Fail("unknown key " + key);
      }
    } while (Accept(','));
    Expect('}');
    SkipSpace();
    if (pos_ != text_.size()) Fail("trailing characters");
    return line;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("golden JSON at byte " + std::to_string(pos_) + ": " + what);
  }
  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
  }
  bool Accept(char c) {
    SkipSpace();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Accept(c)) Fail(std::string("expected '") + c + "'");
  }

  std::vector<std::string> ParseStringArray() {
    std::vector<std::string> items;
    Expect('[');
    if (Accept(']')) return items;
    do {
      items.push_back(ParseString());
    } while (Accept(','));
    Expect(']');
    return items;
  }

  std::uint32_t ParseHex4() {
    if (pos_ + 4 > text_.size()) Fail("short \\u escape");
    const std::uint32_t value = std::stoul(text_.substr(pos_, 4), nullptr, 16);
    pos_ += 4;
    return value;
  }

  static void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string ParseString() {
    Expect('"');
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      const char c = text_[pos_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) Fail("dangling backslash");
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t cp = ParseHex4();
          if (cp >= 0xD800 && cp < 0xDC00 && text_.compare(pos_, 2, "\\u") == 0) {
            pos_ += 2;
            const std::uint32_t low = ParseHex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("unpaired high surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(cp, out);
          break;
        }
        default:
          Fail(std::string("bad escape \\") + escape);
      }
    }
    Expect('"');
    return out;
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

inline std::vector<GoldenLine> ReadGoldenFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<GoldenLine> lines;
  std::string text;
  while (std::getline(in, text)) lines.push_back(GoldenLineParser(text).Parse());
  return lines;
}

}  // namespace orvel::tokenizer::jieba::testing
