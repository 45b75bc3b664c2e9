#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "search/bm25/_json.h"

namespace json = orvel::typing::text::json;
using json::JSON;

namespace {

std::string Streamed(const JSON& value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

TEST(JsonWriter, WorkedExampleIsByteExact) {
  JSON root;
  root["a"] = 1;
  root["b"]["x"] = 2;
  root["b"]["y"] = 0.5;
  root["c"][0] = 1;
  root["c"][1] = 2.25;
  root["c"][2]["z"] = JSON();
  root["d"] = json::Object();
  EXPECT_EQ(Streamed(root),
            "{\n"
            "  \"a\" : 1,\n"
            "  \"b\" : {\n"
            "    \"x\" : 2,\n"
            "    \"y\" : 0.500000\n"
            "  },\n"
            "  \"c\" : [1, 2.250000, {\n"
            "      \"z\" : null\n"
            "    }],\n"
            "  \"d\" : {\n"
            "\n"
            "  }\n"
            "}");
}

TEST(JsonWriter, EmptyContainersAndScalars) {
  EXPECT_EQ(Streamed(json::Object()), "{\n\n}");
  EXPECT_EQ(Streamed(json::Array()), "[]");
  EXPECT_EQ(Streamed(JSON()), "null");
  JSON value;
  value = false;
  EXPECT_EQ(Streamed(value), "false");
  value = -0.5;
  EXPECT_EQ(Streamed(value), "-0.500000");
  value = 1e20;
  EXPECT_EQ(Streamed(value), "100000000000000000000.000000");
  value = 0.0000004;
  EXPECT_EQ(Streamed(value), "0.000000");
  value = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(Streamed(value), "-9223372036854775808");
}

TEST(JsonWriter, DepthAndIndentationUnit) {
  JSON object;
  object["k"] = 1;
  EXPECT_EQ(object.dump(0, "  "), "{\n\"k\" : 1\n}");
  EXPECT_EQ(object.dump(-3, "  "), "{\n\"k\" : 1\n}");
  // The closing brace loses two characters of pad, not one unit.
  EXPECT_EQ(object.dump(2, "\t"), "{\n\t\t\"k\" : 1\n}");
  EXPECT_EQ(object.dump(3, "\t"), "{\n\t\t\t\"k\" : 1\n\t}");

  JSON nested;
  nested["inner"] = json::Object();
  EXPECT_EQ(Streamed(nested), "{\n  \"inner\" : {\n\n  }\n}");
}

TEST(JsonWriter, StringsAreEscapedKeysAreNot) {
  JSON value;
  value = std::string("\t\"\x01/\\\b\f\n\r\x7F\xC3\xA9");
  EXPECT_EQ(Streamed(value), "\"\\t\\\"\x01/\\\\\\b\\f\\n\\r\x7F\xC3\xA9\"");

  JSON object;
  object["a\nb"] = 1;
  EXPECT_EQ(Streamed(object), "{\n  \"a\nb\" : 1\n}");
}

TEST(JsonWriter, EscapeTableCoversExactlySevenBytes) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string text(1, static_cast<char>(byte));
    const std::string escaped = json::json_escape(text);
    const bool changed =
        std::string("\"\\\b\f\n\r\t").find(static_cast<char>(byte)) != std::string::npos &&
        byte != 0;
    EXPECT_EQ(escaped.size(), changed ? 2u : 1u) << "byte " << byte;
  }
  EXPECT_EQ(json::json_escape("\\u00e9"), "\\\\u00e9");
}

}  // namespace
