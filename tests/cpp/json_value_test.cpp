#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "search/bm25/_json.h"

namespace json = orvel::typing::text::json;
using json::JSON;
using Kind = JSON::Kind;

namespace {

int64_t IntegerOf(const JSON& value) {
  bool ok = false;
  const int64_t number = value.GetInteger(ok);
  EXPECT_TRUE(ok);
  return number;
}

std::vector<std::string> KeysOf(const JSON& value) {
  std::vector<std::string> keys;
  for (const auto& entry : value.Entries()) keys.push_back(entry.first);
  return keys;
}

TEST(JsonValue, KindsFromFactoriesAndAssignments) {
  EXPECT_EQ(JSON().GetKind(), Kind::Null);
  EXPECT_EQ(json::Object().GetKind(), Kind::Object);
  EXPECT_EQ(json::Array().GetKind(), Kind::Array);
  JSON value;
  value = std::string("text");
  EXPECT_EQ(value.GetKind(), Kind::String);
  value = "literal";  // must not turn into a Bool through the pointer
  EXPECT_EQ(value.GetKind(), Kind::String);
  value = 0.5;
  EXPECT_EQ(value.GetKind(), Kind::Real);
  value = 7;
  EXPECT_EQ(value.GetKind(), Kind::Integer);
  value = true;
  EXPECT_EQ(value.GetKind(), Kind::Bool);
  EXPECT_EQ(static_cast<int>(Kind::Bool), 6);
}

TEST(JsonValue, TypedReadsDoNotConvertBetweenKinds) {
  JSON integer;
  integer = 1;
  JSON real;
  real = 1.0;
  bool ok = true;
  EXPECT_EQ(integer.GetReal(ok), 0.0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(real.GetInteger(ok), 0);
  EXPECT_FALSE(ok);
  EXPECT_EQ(real.GetReal(ok), 1.0);
  EXPECT_TRUE(ok);

  JSON negative;
  negative = -1;  // an int, sign-extended
  EXPECT_EQ(IntegerOf(negative), -1);
  negative = std::numeric_limits<int64_t>::min();
  EXPECT_EQ(IntegerOf(negative), std::numeric_limits<int64_t>::min());
}

TEST(JsonValue, ConvertToKeepsSameKindAndResetsOtherwise) {
  JSON object = json::Object();
  object["a"] = 1;
  object.ConvertTo(Kind::Object);
  EXPECT_EQ(KeysOf(object), std::vector<std::string>{"a"});
  object = 5;  // releases the map
  EXPECT_EQ(IntegerOf(object), 5);
  object.ConvertTo(Kind::Real);
  bool ok = false;
  EXPECT_EQ(object.GetReal(ok), 0.0);
  EXPECT_TRUE(ok);
}

TEST(JsonValue, KeyAccessTurnsAnyValueIntoAnObject) {
  for (JSON value : {JSON(), json::Array(), json::Object()}) {
    value = 3;
    value["k"];
    EXPECT_EQ(value.GetKind(), Kind::Object);
    EXPECT_EQ(KeysOf(value), std::vector<std::string>{"k"});
    EXPECT_EQ(value["k"].GetKind(), Kind::Null);
  }
  JSON object;
  object["k"] = 1;
  object["k"];  // existing key: nothing inserted, value kept
  EXPECT_EQ(KeysOf(object).size(), 1u);
  EXPECT_EQ(IntegerOf(object["k"]), 1);
}

TEST(JsonValue, KeysIterateInByteOrder) {
  JSON object;
  for (const char* key : {"b", "_x", "Z", "a", "ab", "\xC3\xA9"}) object[key] = 0;
  EXPECT_EQ(KeysOf(object), (std::vector<std::string>{"Z", "_x", "a", "ab", "b", "\xC3\xA9"}));
}

TEST(JsonValue, IndexAccessGrowsWithNullsAndKeepsElementsInPlace) {
  JSON array = json::Array();
  JSON& last = array[3];
  EXPECT_EQ(last.GetKind(), Kind::Null);
  last = 9;
  JSON& first = array[0];
  first = 1;
  array[1000];  // growth at the end must not move earlier elements
  EXPECT_EQ(IntegerOf(first), 1);
  EXPECT_EQ(IntegerOf(last), 9);
  EXPECT_EQ(array[2].GetKind(), Kind::Null);
  EXPECT_EQ(array.dump(1, "  ").substr(0, 16), "[1, null, null, ");

  JSON object;
  object["a"] = 1;
  object[0];
  EXPECT_EQ(object.dump(1, "  "), "[null]");
}

TEST(JsonValue, EntriesOfNonObjectsAreEmpty) {
  JSON string;
  string = "s";
  for (const JSON& value : {JSON(), json::Array(), string}) {
    EXPECT_EQ(value.Entries().begin(), value.Entries().end());
  }
}

TEST(JsonValue, CopiesAreIndependent) {
  JSON source;
  source["a"]["b"] = 1;
  source["list"][1] = "x";
  JSON copy(source);
  copy["a"]["b"] = 2;
  copy["list"][1] = "y";
  copy["new"] = true;
  EXPECT_EQ(IntegerOf(source["a"]["b"]), 1);
  EXPECT_EQ(source.dump(1, "  ").find("new"), std::string::npos);
  EXPECT_NE(source.dump(1, "  ").find("\"x\""), std::string::npos);

  JSON assigned;
  assigned = 4;
  assigned = source;
  EXPECT_EQ(assigned.dump(1, "  "), source.dump(1, "  "));
  { JSON scoped(source); }  // destroying a copy leaves the source intact
  EXPECT_EQ(IntegerOf(source["a"]["b"]), 1);
}

TEST(JsonValue, MovesLeaveNull) {
  JSON source;
  source["a"] = 1;
  JSON moved(std::move(source));
  EXPECT_EQ(source.GetKind(), Kind::Null);
  EXPECT_EQ(source.dump(1, "  "), "null");
  JSON target;
  target = "old";
  target = std::move(moved);
  EXPECT_EQ(moved.GetKind(), Kind::Null);
  EXPECT_EQ(IntegerOf(target["a"]), 1);
}

TEST(JsonValue, AssigningFromItselfOrFromInsideIsSafe) {
  JSON value;
  value["a"]["b"] = 1;
  const std::string text = value.dump(1, "  ");
  JSON& alias = value;
  value = alias;
  EXPECT_EQ(value.dump(1, "  "), text);
  value = std::move(alias);
  EXPECT_EQ(value.dump(1, "  "), text);

  value = value["a"];  // the source lives in the map being replaced
  EXPECT_EQ(IntegerOf(value["b"]), 1);
  value = std::move(value["b"]);
  EXPECT_EQ(IntegerOf(value), 1);

  JSON text_value;
  text_value["s"] = "inner";
  JSON& inner = text_value["s"];
  text_value = inner;
  EXPECT_EQ(text_value.dump(1, "  "), "\"inner\"");
}

}  // namespace
