// The byte-level helpers every file format and every sentence goes through: the lenient UTF-8
// decoder, field splitting, trimming, C-style number parsing, line reading and separators.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tokenizer/jieba/separator_filter.h"
#include "tokenizer/jieba/text_fields.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {
namespace {

using namespace std::string_literals;

std::vector<Rune> Decode(const std::string& text) {
  std::vector<Rune> runes;
  EXPECT_TRUE(AppendRunes(text, runes)) << text;
  return runes;
}

TEST(JiebaUtf8DecoderTest, AcceptsWhatTheReferenceAccepts) {
  EXPECT_EQ(Decode("a\0b"s), (std::vector<Rune>{'a', 0, 'b'}));
  EXPECT_EQ(Decode("\xE5\xA5\xBD"), (std::vector<Rune>{0x597D}));       // 好
  EXPECT_EQ(Decode("\xF0\x9F\x99\x8B"), (std::vector<Rune>{0x1F64B}));  // 4 bytes
  EXPECT_EQ(Decode("\xE4"
                   "AB"),
            (std::vector<Rune>{0x4042}));                    // unchecked tail
  EXPECT_EQ(Decode("\x80\x80"), (std::vector<Rune>{0}));     // stray continuation
  EXPECT_EQ(Decode("\xC0\xA0"), (std::vector<Rune>{0x20}));  // overlong space
  EXPECT_EQ(Decode("\xC1\x81"), (std::vector<Rune>{'A'}));
  EXPECT_EQ(Decode("\xED\xA0\x80"), (std::vector<Rune>{0xD800}));  // surrogate
  EXPECT_EQ(Decode("\xF7\xBF\xBF\xBF"), (std::vector<Rune>{0x1FFFFF}));
}

TEST(JiebaUtf8DecoderTest, RejectsBadLeadsAndTruncationWithoutPartialResult) {
  for (const std::string bad :
       {"\xF8"
        "abc",
        "\xFF", "123\x80", "\xC3", "\xE5\xA5", "\xF0\x9F\x99", "\xDF", "ok\xEF\xBF"}) {
    std::vector<Rune> runes{42};
    EXPECT_FALSE(AppendRunes(bad, runes)) << bad;
    EXPECT_EQ(runes, std::vector<Rune>{42}) << bad;
  }
}

TEST(JiebaUtf8DecoderTest, SentenceOffsetsCoverEveryByte) {
  const std::string text =
      "a\xE4"
      "AB\xF0\x9F\x99\x8B"
      "c";
  ASSERT_EQ(CountRunes(text), 4u);
  std::vector<Rune> runes(4);
  std::vector<std::size_t> offsets(5);
  ASSERT_EQ(DecodeRunes(text, runes.data(), offsets.data()), 4u);
  EXPECT_EQ(runes, (std::vector<Rune>{'a', 0x4042, 0x1F64B, 'c'}));
  EXPECT_EQ(offsets, (std::vector<std::size_t>{0, 1, 4, 8, 9}));
  EXPECT_EQ(CountRunes("ab\xF8"), kUndecodable);
  EXPECT_EQ(DecodeRunes("ab\xF8", runes.data(), offsets.data()), kUndecodable);
  EXPECT_EQ(CountRunes(""), 0u);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string_view> fields(SplitFields(text, separator, nullptr, 0));
  EXPECT_EQ(SplitFields(text, separator, fields.data(), fields.size()), fields.size());
  return {fields.begin(), fields.end()};
}

TEST(JiebaSplitTest, KeepsInnerEmptyFieldsButNotOneTrailingSeparator) {
  using Fields = std::vector<std::string>;
  EXPECT_EQ(Split("", ' '), Fields{});
  EXPECT_EQ(Split("a b c", ' '), (Fields{"a", "b", "c"}));
  EXPECT_EQ(Split("a b c ", ' '), (Fields{"a", "b", "c"}));
  EXPECT_EQ(Split("a b c  ", ' '), (Fields{"a", "b", "c", ""}));
  EXPECT_EQ(Split("a  b", ' '), (Fields{"a", "", "b"}));
  EXPECT_EQ(Split(" a b", ' '), (Fields{"", "a", "b"}));
  EXPECT_EQ(Split(" ", ' '), (Fields{""}));
  EXPECT_EQ(Split("a b c\r", ' '), (Fields{"a", "b", "c\r"}));
  EXPECT_EQ(Split("a\tb", ' '), (Fields{"a\tb"}));
}

TEST(JiebaSplitTest, CountsFieldsBeyondCapacity) {
  std::string_view fields[2];
  EXPECT_EQ(SplitFields("w 1 n x", ' ', fields, 2), 4u);
  EXPECT_EQ(fields[0], "w");
  EXPECT_EQ(fields[1], "1");
}

TEST(JiebaTextTest, TrimRemovesOnlyTheSixAsciiSpaces) {
  EXPECT_EQ(TrimAsciiSpace(" \t\v\f\r\nx y\r\n"), "x y");
  EXPECT_EQ(TrimAsciiSpace("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
  EXPECT_EQ(TrimAsciiSpace(" \t "), "");
}

TEST(JiebaTextTest, ParseCDoubleFollowsStrtodInTheCLocale) {
  EXPECT_EQ(ParseCDouble("3\r"), 3.0);
  EXPECT_EQ(ParseCDouble("abc"), 0.0);
  EXPECT_EQ(ParseCDouble(" \t-0.25e1x"), -2.5);
  EXPECT_EQ(ParseCDouble("+.5"), 0.5);
  EXPECT_EQ(ParseCDouble("-3.14e+100"), -3.14e+100);
  EXPECT_EQ(ParseCDouble("0x1.8p1"), 3.0);
  EXPECT_EQ(ParseCDouble("0xg"), 0.0);
  EXPECT_EQ(ParseCDouble("1e400"), HUGE_VAL);
  EXPECT_EQ(ParseCDouble("-1e400"), -HUGE_VAL);
  EXPECT_EQ(ParseCDouble("1e-400"), 0.0);
  EXPECT_EQ(ParseCDouble("-17.218405947195272"), -17.218405947195272);
  EXPECT_TRUE(std::isinf(ParseCDouble("-Infinity")));
  EXPECT_TRUE(std::isnan(ParseCDouble("nan")));
}

TEST(JiebaTextTest, ParseCIntClampsToLongThenTruncatesToInt) {
  EXPECT_EQ(ParseCInt("2.9"), 2);
  EXPECT_EQ(ParseCInt("abc"), 0);
  EXPECT_EQ(ParseCInt(" -17x"), -17);
  EXPECT_EQ(ParseCInt("+8"), 8);
  EXPECT_EQ(ParseCInt("-"), 0);
  EXPECT_EQ(ParseCInt("4294967298"), 2);                // low 32 bits
  EXPECT_EQ(ParseCInt("99999999999999999999999"), -1);  // LONG_MAX's low bits
  EXPECT_EQ(ParseCInt("-99999999999999999999999"), 0);  // LONG_MIN's low bits
}

TEST(JiebaTextTest, LinesEndAtLfOnlyAndAFinalLfAddsNoLine) {
  const auto lines = [](const std::string& text) {
    std::vector<std::string> out;
    ForEachLine(text, [&](std::string_view line) { out.emplace_back(line); });
    return out;
  };
  using Lines = std::vector<std::string>;
  EXPECT_EQ(lines(""), Lines{});
  EXPECT_EQ(lines("a\n"), Lines{"a"});
  EXPECT_EQ(lines("a\n\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(lines("a\r\nb\n\n"), (Lines{"a\r", "b", ""}));
}

TEST(JiebaSeparatorTest, EachSeparatorIsARangeOfItsOwn) {
  const std::vector<Rune> runes{' ', 'a', 'b', 0x3002, 0xFF0C, 'c', '\r', '\t', '\n', 0xFF01};
  std::string trace;
  ForEachRange(
      runes.data(), runes.size(),
      [&](std::size_t b, std::size_t e) {
        trace += "[" + std::to_string(b) + std::to_string(e) + "]";
      },
      [&](std::size_t i) { trace += "s" + std::to_string(i); });
  EXPECT_EQ(trace, "s0[13]s3s4[57]s7s8[910]");
}

TEST(JiebaSeparatorTest, ExactlyTheFiveSeparatorsOverEveryRune) {
  // Fault caught: a table slot holding a wrong rune, which would make a rune that shares a
  // separator's low bits (such as U+3042 or U+FF4C) stand alone, or miss a separator.
  std::vector<Rune> found;
  for (Rune rune = 0; rune <= 0x1FFFFF; ++rune) {
    if (IsSeparator(rune)) found.push_back(rune);
  }
  EXPECT_EQ(found, (std::vector<Rune>{0x09, 0x0A, 0x20, 0x3002, 0xFF0C}));
  EXPECT_FALSE(IsSeparator(~Rune{0}));
}

TEST(JiebaSeparatorTest, ListedSeparatorsGiveTheSameRangesAsTheScan) {
  // Fault caught: the list-driven walk dropping the last range or a separator at either end.
  const std::vector<Rune> runes{0x3002, 'a', 'b', ' ', ' ', 'c', 0xFF0C};
  const std::vector<std::uint32_t> separators{0, 3, 4, 6};
  const auto trace = [&](auto walk) {
    std::string out;
    walk([&](std::size_t b,
             std::size_t e) { out += "[" + std::to_string(b) + std::to_string(e) + "]"; },
         [&](std::size_t i) { out += "s" + std::to_string(i); });
    return out;
  };
  const std::string scanned = trace([&](auto on_range, auto on_separator) {
    ForEachRange(runes.data(), runes.size(), on_range, on_separator);
  });
  EXPECT_EQ(scanned, "s0[13]s3s4[56]s6");
  EXPECT_EQ(trace([&](auto on_range, auto on_separator) {
              ForEachRangeBetween(separators.data(), separators.size(), runes.size(), on_range,
                                  on_separator);
            }),
            scanned);
  EXPECT_EQ(trace([&](auto on_range, auto on_separator) {
              ForEachRangeBetween(separators.data(), 3, 6, on_range, on_separator);
            }),
            "s0[13]s3s4[56]");
}

}  // namespace
}  // namespace orvel::tokenizer::jieba
