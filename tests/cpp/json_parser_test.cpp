#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "search/bm25/_json.h"

namespace json = orvel::typing::text::json;
using json::JSON;
using Kind = JSON::Kind;

namespace {

// Collects what std::cerr receives while it lives.
class CerrCapture {
 public:
  CerrCapture() : saved_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(saved_); }
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf* saved_;
};

struct Parsed {
  JSON value;
  std::size_t pos;
  std::string diagnostics;
};

Parsed Parse(const std::string& text) {
  CerrCapture capture;
  std::size_t pos = 0;
  JSON value = json::parse_next(text, pos);
  return {std::move(value), pos, capture.text()};
}

// A diagnostic as the parser writes it: message, offending text, apostrophe, line feed.
std::string Line(const std::string& message, const std::string& found) {
  return message + found + "'\n";
}

const std::string kNul(1, '\0');

std::string Written(const JSON& value) {
  return value.dump(1, "  ");
}

int64_t IntegerOf(const JSON& value) {
  bool ok = false;
  const int64_t number = value.GetInteger(ok);
  EXPECT_TRUE(ok) << Written(value);
  return number;
}

double RealOf(const JSON& value) {
  bool ok = false;
  const double number = value.GetReal(ok);
  EXPECT_TRUE(ok) << Written(value);
  return number;
}

TEST(JsonParser, ValidValuesOfEveryKind) {
  const std::string text = " [1, 2.5, -3, true, null, \"x\", false, {}, []]tail";
  Parsed parsed = Parse(text);
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(parsed.pos, text.find("tail"));
  EXPECT_EQ(Written(parsed.value), "[1, 2.500000, -3, true, null, \"x\", false, {\n\n  }, []]");
  EXPECT_EQ(parsed.value[2].GetKind(), Kind::Integer);

  parsed = Parse("{\"a\":1}");
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(IntegerOf(parsed.value["a"]), 1);
  EXPECT_EQ(parsed.pos, 7u);

  // VT and FF count as whitespace between tokens.
  parsed = Parse("\v\f{ \"k\"\r\n:\t[ ] }");
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(parsed.value["k"].GetKind(), Kind::Array);
}

TEST(JsonParser, LoadReadsOnlyTheFirstValue) {
  CerrCapture capture;
  JSON value = JSON::Load("true false ][");
  EXPECT_EQ(Written(value), "true");
  EXPECT_EQ(capture.text(), "");
}

TEST(JsonParser, Numbers) {
  EXPECT_EQ(IntegerOf(Parse("42 ").value), 42);
  EXPECT_EQ(IntegerOf(Parse("42\n").value), 42);
  EXPECT_EQ(IntegerOf(Parse("-9223372036854775808,").value), INT64_MIN);
  EXPECT_DOUBLE_EQ(RealOf(Parse("1.5e2 ").value), 150.0);
  EXPECT_DOUBLE_EQ(RealOf(Parse("2E-3]").value), 0.002);
  EXPECT_DOUBLE_EQ(RealOf(Parse("3e2}").value), 300.0);
  EXPECT_DOUBLE_EQ(RealOf(Parse("1e+5 ").value), 100000.0);
  // The mantissa takes '-' and '.' anywhere; the conversions read their longest prefix.
  EXPECT_EQ(IntegerOf(Parse("1-2 ").value), 1);
  EXPECT_DOUBLE_EQ(RealOf(Parse("1.2.3 ").value), 1.2);

  Parsed parsed = Parse("12 ");
  EXPECT_EQ(parsed.pos, 2u);  // left on the byte that ended the number
}

TEST(JsonParser, NumberErrors) {
  Parsed parsed = Parse("42");
  EXPECT_EQ(parsed.diagnostics, Line("ERROR: Number: unexpected character '", kNul));
  EXPECT_EQ(parsed.value.GetKind(), Kind::Null);
  EXPECT_EQ(parsed.pos, 3u);  // one past the end: reads there see NUL

  parsed = Parse("7x ");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Number: unexpected character 'x'\n");
  EXPECT_EQ(parsed.pos, 2u);

  parsed = Parse("1ea");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Number: Expected a number for exponent, found 'a'\n");
  EXPECT_EQ(parsed.value.GetKind(), Kind::Null);
  EXPECT_EQ(parsed.pos, 3u);

  CerrCapture quiet;
  EXPECT_THROW(JSON::Load("[1e,2]"), std::invalid_argument);
  EXPECT_THROW(JSON::Load("[-]"), std::invalid_argument);
  EXPECT_THROW(JSON::Load("[99999999999999999999]"), std::out_of_range);
  EXPECT_THROW(JSON::Load("[1e99999999999999999999]"), std::out_of_range);
}

TEST(JsonParser, UnknownStartingCharacter) {
  const std::string message = "ERROR: Parse: Unknown starting character '";
  Parsed parsed = Parse("");
  EXPECT_EQ(parsed.diagnostics, Line(message, kNul));
  EXPECT_EQ(parsed.value.GetKind(), Kind::Null);
  EXPECT_EQ(parsed.pos, 0u);

  parsed = Parse("  \t");
  EXPECT_EQ(parsed.diagnostics, Line(message, kNul));
  EXPECT_EQ(parsed.pos, 3u);

  parsed = Parse("/path");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Parse: Unknown starting character '/'\n");
  EXPECT_EQ(parsed.pos, 0u);

  EXPECT_EQ(Parse("\xE4").diagnostics, "ERROR: Parse: Unknown starting character '\xE4'\n");
}

TEST(JsonParser, ArrayErrors) {
  Parsed parsed = Parse("[1,]");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Parse: Unknown starting character ']'\n");
  EXPECT_EQ(Written(parsed.value), "[1, null]");
  EXPECT_EQ(parsed.pos, 4u);

  parsed = Parse("[1 2]");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Array: Expected ',' or ']', found '2'\n");
  EXPECT_EQ(Written(parsed.value), "[]");
  EXPECT_EQ(parsed.pos, 3u);
}

TEST(JsonParser, ObjectErrors) {
  Parsed parsed = Parse("{\"a\" 1}");
  EXPECT_EQ(parsed.diagnostics, "Error: Object: Expected colon, found '1'\n");
  EXPECT_EQ(parsed.value.GetKind(), Kind::Object);
  EXPECT_EQ(parsed.pos, 5u);

  parsed = Parse("{\"a\":1 \"b\":2}");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Object: Expected comma, found '\"'\n");
  EXPECT_EQ(Written(parsed.value), "{\n  \"a\" : 1\n}");
  EXPECT_EQ(parsed.pos, 7u);

  parsed = Parse("{\"a\":1,}");
  EXPECT_EQ(parsed.diagnostics,
            "ERROR: Parse: Unknown starting character '}'\n"
            "Error: Object: Expected colon, found '}'\n");
  EXPECT_EQ(Written(parsed.value), "{\n  \"a\" : 1\n}");
  EXPECT_EQ(parsed.pos, 7u);

  // An inner failure takes its place and the enclosing rule carries on.
  parsed = Parse("{\"a\":nul,\"b\":1}");
  EXPECT_EQ(parsed.diagnostics,
            "ERROR: Null: Expected 'null', found 'nul,'\n"
            "ERROR: Object: Expected comma, found 'n'\n");
  EXPECT_EQ(Written(parsed.value), "{\n  \"a\" : null\n}");
}

TEST(JsonParser, BoolAndNullErrors) {
  Parsed parsed = Parse("tru");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Bool: Expected 'true' or 'false', found 'tru'\n");
  EXPECT_EQ(parsed.value.GetKind(), Kind::Null);
  EXPECT_EQ(parsed.pos, 0u);
  EXPECT_EQ(Parse("fals e").diagnostics,
            "ERROR: Bool: Expected 'true' or 'false', found 'fals '\n");

  parsed = Parse(" nul");
  EXPECT_EQ(parsed.diagnostics, "ERROR: Null: Expected 'null', found 'nul'\n");
  EXPECT_EQ(parsed.pos, 1u);

  parsed = Parse("trueish");  // what follows the word is left for the caller
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(parsed.pos, 4u);
}

TEST(JsonParser, StringEscapes) {
  Parsed parsed = Parse("\"a\\tb\\\"\\\\\\/\\b\\f\\n\\r\\u00e9\\q!\"");
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(Written(parsed.value), "\"a\\tb\\\"\\\\/\\b\\f\\n\\r\\\\u00e9\\\\!\"");

  parsed = Parse("\"x\\u00G0\"");
  EXPECT_EQ(parsed.diagnostics,
            "ERROR: String: Expected hex character in unicode escape, found 'G'\n");
  EXPECT_EQ(Written(parsed.value), "\"\"");
  EXPECT_EQ(parsed.pos, 3u);  // on the u

  // Raw control bytes and NUL inside the text are kept.
  parsed = Parse(std::string("\"\x01\0\"", 4));
  EXPECT_EQ(Written(parsed.value), std::string("\"\x01\0\"", 4));
}

TEST(JsonParser, NoReadPastTheEnd) {
  Parsed parsed = Parse("\"abc");
  EXPECT_EQ(Written(parsed.value), "\"abc\"");
  EXPECT_EQ(parsed.pos, 4u);

  parsed = Parse("\"ab\\");  // the escape letter is past the end and reads as NUL
  EXPECT_EQ(parsed.value.GetKind(), Kind::String);
  EXPECT_EQ(parsed.pos, 4u);

  parsed = Parse("\"\\u12");
  EXPECT_EQ(parsed.diagnostics,
            Line("ERROR: String: Expected hex character in unicode escape, found '", kNul));

  parsed = Parse("[1");
  EXPECT_EQ(parsed.diagnostics, Line("ERROR: Number: unexpected character '", kNul) +
                                    Line("ERROR: Array: Expected ',' or ']', found '", kNul));

  parsed = Parse("{\"a\":[\"b");
  EXPECT_EQ(parsed.diagnostics, Line("ERROR: Array: Expected ',' or ']', found '", kNul) +
                                    Line("ERROR: Object: Expected comma, found '", kNul));
}

TEST(JsonParser, KeysAreHeldEscapedAndLaterDuplicatesWin) {
  Parsed parsed = Parse("{\"a\\nb\":1, \"q\\\"\":2, \"a\":1, \"a\":3, 1 :4, true:5}");
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(Written(parsed.value),
            "{\n"
            "  \"\" : 5,\n"
            "  \"a\" : 3,\n"
            "  \"a\\nb\" : 1,\n"
            "  \"q\\\"\" : 2\n"
            "}");
}

TEST(JsonParser, WrittenTextReadsBackToTheSameTree) {
  JSON tree;
  tree["list"][0] = "\\u0041 \t";
  tree["list"][1] = -7;
  tree["list"][2]["deep"] = json::Array();
  tree["real"] = 0.1234567;
  tree["flag"] = false;
  tree["none"] = JSON();
  const std::string text = tree.dump(1, "  ");
  Parsed parsed = Parse(text);
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(parsed.pos, text.size());
  EXPECT_DOUBLE_EQ(RealOf(parsed.value["real"]), 0.123457);
  EXPECT_EQ(Written(parsed.value), text);
}

TEST(JsonParser, NestingDepthIsBounded) {
  const int levels = json::TextParser::kMaxDepth;
  ASSERT_EQ(levels, 1000);
  const std::string allowed = std::string(levels, '[') + std::string(levels, ']');
  Parsed parsed = Parse(allowed);
  EXPECT_EQ(parsed.diagnostics, "");
  EXPECT_EQ(parsed.pos, allowed.size());

  parsed = Parse(std::string(100000, '['));
  const std::string depth_line = "ERROR: Parse: Maximum nesting depth exceeded, found '['\n";
  ASSERT_EQ(parsed.diagnostics.substr(0, depth_line.size()), depth_line);
  EXPECT_EQ(parsed.diagnostics.find(depth_line, 1), std::string::npos);
  EXPECT_EQ(Written(parsed.value), "[]");

  // One level too many: only the innermost bracket is refused.
  parsed = Parse(std::string(levels + 1, '[') + std::string(levels + 1, ']'));
  EXPECT_EQ(parsed.diagnostics.substr(0, depth_line.size()), depth_line);
  EXPECT_EQ(Written(parsed.value), "[]");
}

}  // namespace
