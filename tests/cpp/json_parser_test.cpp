#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cerr_capture.h"
#include "search/bm25/_json.h"

namespace json = orvel::typing::text::json;
using json::JSON;

namespace {

// One parse_next call: the text, then what it must write to std::cerr, the value it returns
// (as the writer renders it) and where it leaves the position.
struct Case {
  std::string text;
  std::string diagnostics;
  std::string value;
  std::size_t pos;
};

void ExpectParses(const std::vector<Case>& cases) {
  for (const Case& test : cases) {
    CerrCapture capture;
    std::size_t pos = 0;
    const JSON value = json::parse_next(test.text, pos);
    const std::string diagnostics = capture.text();
    EXPECT_EQ(diagnostics, test.diagnostics) << test.text;
    EXPECT_EQ(value.dump(1, "  "), test.value) << test.text;
    EXPECT_EQ(pos, test.pos) << test.text;
  }
}

const std::string kNul(1, '\0');
const std::string kUnknown = "ERROR: Parse: Unknown starting character '";
const std::string kArray = "ERROR: Array: Expected ',' or ']', found '";
const std::string kColon = "Error: Object: Expected colon, found '";
const std::string kComma = "ERROR: Object: Expected comma, found '";
const std::string kHex = "ERROR: String: Expected hex character in unicode escape, found '";
const std::string kBool = "ERROR: Bool: Expected 'true' or 'false', found '";
const std::string kNull = "ERROR: Null: Expected 'null', found '";
const std::string kExponent = "ERROR: Number: Expected a number for exponent, found '";
const std::string kNumber = "ERROR: Number: unexpected character '";

std::string Line(const std::string& message, const std::string& found) {
  return message + found + "'\n";
}

TEST(JsonParser, ValidText) {
  ExpectParses({
      {" [1, 2.5, -3, true, null, \"x\", false, {}, []]tail", "",
       "[1, 2.500000, -3, true, null, \"x\", false, {\n\n  }, []]", 45},
      {"{\"a\":1}", "", "{\n  \"a\" : 1\n}", 7},
      {"\v\f{ \"k\"\r\n:\t[ ] }", "", "{\n  \"k\" : []\n}", 16},
      {"trueish", "", "true", 4},  // what follows a word is left to the caller
      {"42 ", "", "42", 2},        // the position stays on the byte that ended the number
      {"-9223372036854775808,", "", "-9223372036854775808", 20},
      {"1.5e2 ", "", "150.000000", 5},
      {"2E-3]", "", "0.002000", 4},
      {"3e2}", "", "300.000000", 3},
      {"1e+5 ", "", "100000.000000", 4},
      // The mantissa takes '-' and '.' anywhere; the conversions read their longest prefix.
      {"1-2 ", "", "1", 3},
      {"1.2.3 ", "", "1.200000", 5},
  });
}

TEST(JsonParser, EveryDiagnostic) {
  ExpectParses({
      {"", Line(kUnknown, kNul), "null", 0},
      {"  \t", Line(kUnknown, kNul), "null", 3},
      {"/path", Line(kUnknown, "/"), "null", 0},
      {"\xE4", Line(kUnknown, "\xE4"), "null", 0},
      {"[1,]", Line(kUnknown, "]"), "[1, null]", 4},
      {"[1 2]", Line(kArray, "2"), "[]", 3},
      {"{\"a\" 1}", Line(kColon, "1"), "{\n\n}", 5},
      {"{\"a\":1 \"b\":2}", Line(kComma, "\""), "{\n  \"a\" : 1\n}", 7},
      {"{\"a\":1,}", Line(kUnknown, "}") + Line(kColon, "}"), "{\n  \"a\" : 1\n}", 7},
      {"{\"a\":nul,\"b\":1}", Line(kNull, "nul,") + Line(kComma, "n"), "{\n  \"a\" : null\n}", 5},
      {"\"x\\u00G0\"", Line(kHex, "G"), "\"\"", 3},  // the position stays on the u
      {"tru", Line(kBool, "tru"), "null", 0},
      {"fals e", Line(kBool, "fals "), "null", 0},
      {" nul", Line(kNull, "nul"), "null", 1},
      {"1ea", Line(kExponent, "a"), "null", 3},
      {"7x ", Line(kNumber, "x"), "null", 2},
      {"42", Line(kNumber, kNul), "null", 3},  // a number needs something after it
  });
}

// Every position at or past the end reads as NUL, and a string ends with the text.
TEST(JsonParser, NoReadPastTheEnd) {
  ExpectParses({
      {"\"abc", "", "\"abc\"", 4},
      {"\"ab\\", "", "\"ab\\\\\"", 4},
      {"\"\\u12", Line(kHex, kNul), "\"\"", 2},
      {"[1", Line(kNumber, kNul) + Line(kArray, kNul), "[]", 3},
      {"{\"a\":[\"b", Line(kArray, kNul) + Line(kComma, kNul), "{\n  \"a\" : []\n}", 8},
  });
}

TEST(JsonParser, StringsAndKeys) {
  ExpectParses({
      {"\"a\\tb\\\"\\\\\\/\\b\\f\\n\\r\\u00e9\\q!\"", "",
       "\"a\\tb\\\"\\\\/\\b\\f\\n\\r\\\\u00e9\\\\!\"", 29},
      {std::string("\"\x01\0\"", 4), "", std::string("\"\x01\0\"", 4), 4},
      // Keys are held escaped; other kinds of key become ""; a later duplicate wins.
      {"{\"a\\nb\":1, \"q\\\"\":2, \"a\":1, \"a\":3, 1 :4, true:5}", "",
       "{\n  \"\" : 5,\n  \"a\" : 3,\n  \"a\\nb\" : 1,\n  \"q\\\"\" : 2\n}", 47},
  });
}

TEST(JsonParser, ConversionErrorsLeaveLoad) {
  CerrCapture quiet;
  EXPECT_THROW(JSON::Load("[1e,2]"), std::invalid_argument);
  EXPECT_THROW(JSON::Load("[-]"), std::invalid_argument);
  EXPECT_THROW(JSON::Load("[99999999999999999999]"), std::out_of_range);
  EXPECT_THROW(JSON::Load("[1e99999999999999999999]"), std::out_of_range);
}

TEST(JsonParser, WrittenTextReadsBackToTheSameTree) {
  JSON tree;
  tree["list"][0] = "\\u0041 \t";
  tree["list"][1] = -7;
  tree["list"][2]["deep"] = json::Array();
  tree["real"] = 0.1234567;  // comes back as 0.123457, which writes the same
  tree["flag"] = false;
  tree["none"] = JSON();
  const std::string text = tree.dump(1, "  ");
  ExpectParses({{text, "", text, text.size()}});
}

TEST(JsonParser, NestingDepthIsBounded) {
  const int levels = json::TextParser::kMaxDepth;
  ASSERT_EQ(levels, 1000);
  const std::string deepest = std::string(levels, '[') + std::string(levels, ']');
  ExpectParses({{deepest, "", deepest, deepest.size()}});

  // One level too many: the innermost bracket alone is refused, and each enclosing array
  // then reports the bracket it stopped on.
  const std::string line = "ERROR: Parse: Maximum nesting depth exceeded, found '['\n";
  for (const std::string& text : {std::string(levels + 1, '['), std::string(100000, '[')}) {
    CerrCapture capture;
    const JSON value = JSON::Load(text);
    std::string expected = line;
    for (int level = 0; level < levels; ++level) expected += Line(kArray, "[");
    EXPECT_EQ(capture.text(), expected);
    EXPECT_EQ(value.dump(1, "  "), "[]");
  }
}

}  // namespace
