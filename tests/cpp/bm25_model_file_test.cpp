#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "cerr_capture.h"
#include "search/bm25/_json.h"
#include "search/bm25/bm25.h"

namespace fs = std::filesystem;
namespace json = orvel::typing::text::json;
using orvel::typing::text::BM25;

namespace {

// Everything a load can change, with the table in key order.
struct State {
  int64_t doc_count;
  int64_t doc_length_total;
  double doc_length_average;
  double b;
  double k1;
  std::vector<std::pair<std::string, int64_t>> table;

  bool operator==(const State& other) const {
    return std::tie(doc_count, doc_length_total, doc_length_average, b, k1, table) ==
           std::tie(other.doc_count, other.doc_length_total, other.doc_length_average, other.b,
                    other.k1, other.table);
  }
};

State StateOf(const BM25& model) {
  State state{model.doc_count(),
              model.doc_length_total(),
              model.doc_length_average(),
              model.b(),
              model.k1(),
              {}};
  model.doc_token_frequency().for_each(
      [&](std::string_view key, int64_t count) { state.table.emplace_back(key, count); });
  std::sort(state.table.begin(), state.table.end());
  return state;
}

int64_t CountOf(const BM25& model, const std::string& token) {
  const int64_t* count = model.doc_token_frequency().find(token);
  return count ? *count : -1;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string RuntimeErrorOf(BM25& model, const std::string& text) {
  try {
    model.load(text);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

class BM25ModelFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "bm25_model_file_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string DumpText(const BM25& model) {
    const fs::path path = dir_ / "model.json";
    model.dump(path.string());
    return ReadFile(path);
  }

  fs::path dir_;
};

// The direct writer must produce exactly what the JSON writer gives for the model's tree.
TEST_F(BM25ModelFile, DumpEqualsTheJsonWriterOutputForTheModelTree) {
  BM25 model(0.5, 2.25);
  model.train(std::vector<std::string>{"z", "", "_", "A", "\xC3\xA9", "tab\there", "q\"", "b\\s"});
  model.train(std::vector<long long>{42, -7, INT64_MIN, 42});
  model.train(std::vector<std::string>{"a", "a", "line\nfeed", std::string("nul\0", 4)});

  json::JSON root;
  root["_doc_token_frequency"] = json::Object();
  model.doc_token_frequency().for_each([&](std::string_view token, int64_t count) {
    root["_doc_token_frequency"][json::json_escape(std::string(token))] = count;
  });
  root["_doc_count"] = model.doc_count();
  root["_doc_length_average"] = model.doc_length_average();
  root["_b"] = model.b();
  root["_k1"] = model.k1();
  std::ostringstream expected;
  expected << root;
  EXPECT_EQ(DumpText(model), expected.str());
}

TEST_F(BM25ModelFile, CountsAreSixtyFourBit) {
  const std::string text =
      "{\"_b\":0.5 ,\"_doc_count\":5000000000 ,\"_doc_length_average\":1.0 ,"
      "\"_doc_token_frequency\":{\"big\":9000000000000000000 ,\"zero\":0 },\"_k1\":1.0 ";
  // With and without a key that only the full parser takes.
  for (const char* ending : {"}", ", \"other\" : null}"}) {
    BM25 model(0.75, 1.2);
    model.load(text + ending);
    EXPECT_EQ(model.doc_count(), 5000000000);
    EXPECT_EQ(CountOf(model, "big"), 9000000000000000000);
    EXPECT_EQ(CountOf(model, "zero"), 0);
    EXPECT_EQ(model.doc_length_total(), 5000000000);
  }
}

// A loaded text in any layout other than the one dump writes takes the full parser; both
// ways must leave the same model.
TEST_F(BM25ModelFile, AnyLayoutLoadsLikeTheDumpedOne) {
  BM25 source(0.75, 1.2);
  source.train(std::vector<std::string>{"a", "b", "a"});
  source.train(std::vector<std::string>{"a", "c", "d"});
  const std::string dumped = DumpText(source);
  BM25 reference(0.75, 1.2);
  reference.load(dumped);

  const std::vector<std::string> variants = {
      "{\"_k1\":1.200000,\"_doc_token_frequency\":{\"a\":3,\"b\":1,\"c\":1,\"d\":1},"
      "\"_doc_length_average\":3.000000,\"_doc_count\":2,\"_b\":0.750000}",
      "{\"_k1\":1.200000,\"_doc_token_frequency\":{\"d\":1,\"a\":5,\"c\":1,\"b\":1,\"a\":3},"
      "\"_doc_length_average\":3.000000,\"_doc_count\":2,\"_b\":0.750000}",
      "{\"_k1\":1.200000 ,\"_doc_token_frequency\":{\"d\":1 ,\"c\":1 ,\"b\":1 ,\"a\":3 },"
      "\"_doc_length_average\":3.000000 ,\"_doc_count\":2 ,\"_b\":0.750000 ,\"extra\":[1, {}]}",
      "\v{\"_b\" : 0.750000 ,\"_b\" : 0.750000,\n\"_doc_count\" : 2,\r\"_doc_length_average\" : "
      "3.000000,\t\"_doc_token_frequency\" : {\"a\" : 1, \"a\" : 3, \"b\" : 1, \"c\" : 1, "
      "\"d\" : 1}, \"_k1\" : 1.200000} trailing",
  };
  for (const std::string& text : variants) {
    BM25 loaded(0.1, 0.1);
    CerrCapture quiet;
    loaded.load(text);
    EXPECT_EQ(quiet.text(), "") << text;
    EXPECT_EQ(StateOf(loaded), StateOf(reference)) << text;
  }
  EXPECT_EQ(reference.doc_count(), 2);
  EXPECT_EQ(CountOf(reference, "a"), 3);
}

// Each case fails at a different key; a load that applied what it had read before the failure
// (the table, the count, ...) would leave a model that encodes without complaint.
TEST_F(BM25ModelFile, FailedLoadsChangeNothing) {
  const std::string table = "\"_doc_token_frequency\" : {\"a\" : 3, \"b\" : 1}";
  const std::string scalars = ", \"_doc_count\" : 2 , \"_doc_length_average\" : 2.5 ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{}", "load doc_count failed"},
      {"[]", "load doc_count failed"},
      {"{" + table + "}", "load doc_count failed"},
      {"{" + table + ", \"_doc_count\" : 2.0 }", "load doc_count failed"},
      {"{" + table + ", \"_doc_count\" : 2 }", "load doc_length_average failed"},
      {"{" + table + scalars + ", \"_b\" : 1 }", "load b failed"},
      {"{" + table + scalars + ", \"_b\" : 1.0 }", "load k1 failed"},
      {"{\"_doc_token_frequency\":{\"c\":7 ,\"b\":2.0 ,\"a\":1 }}",
       "load doc_token_frequency failed"},
  };
  for (const auto& [text, message] : cases) {
    BM25 model(0.9, 0.8);
    model.train(std::vector<std::string>{"a", "a", "a", "a", "a", "b", "x", "x", "x"});
    const State before = StateOf(model);
    CerrCapture quiet;
    EXPECT_EQ(RuntimeErrorOf(model, text), message) << text;
    EXPECT_EQ(StateOf(model), before) << text;
  }
}

// The dumped example cut at every byte: a load that applied keys as it went would leave half
// the table merged and the model encoding from it.
TEST_F(BM25ModelFile, TruncatedFileChangesNothing) {
  BM25 source(0.75, 1.2);
  source.train(std::vector<std::string>{"a", "b", "a"});
  source.train(std::vector<std::string>{"a"});
  const std::string text = DumpText(source);
  for (std::size_t length = 1; length + 1 < text.size(); ++length) {
    BM25 model(0.5, 0.5);
    model.train(std::vector<std::string>{"own"});
    const State before = StateOf(model);
    CerrCapture quiet;
    bool threw = false;
    try {
      model.load(text.substr(0, length));
    } catch (const std::exception&) {
      threw = true;
    }
    EXPECT_TRUE(threw) << length;
    EXPECT_EQ(StateOf(model), before) << length;
  }
}

// Values of the right kind that load must refuse, each with the message of its key and the
// model untouched. Without the checks a negative count or average makes every weight NaN, and
// a non-finite real is dumped as text (inf, nan) that can never be loaded again.
TEST_F(BM25ModelFile, UnloadableValuesAreRefusedLikeAWrongKind) {
  const auto text = [](const std::string& count, const std::string& table_value,
                       const std::string& average, const std::string& b, const std::string& k1) {
    return "{\n  \"_b\" : " + b + ",\n  \"_doc_count\" : " + count +
           ",\n  \"_doc_length_average\" : " + average +
           ",\n  \"_doc_token_frequency\" : {\n    \"a\" : " + table_value +
           "\n  },\n  \"_k1\" : " + k1 + "\n}";
  };
  const std::vector<std::pair<std::string, std::string>> cases = {
      {text("2", "-1", "2.0", "0.75", "1.2"), "load doc_token_frequency failed"},
      {text("-2", "1", "2.0", "0.75", "1.2"), "load doc_count failed"},
      {text("2", "1", "-2.0", "0.75", "1.2"), "load doc_length_average failed"},
      {text("2", "1", "1.0e400", "0.75", "1.2"), "load doc_length_average failed"},
      {text("2", "1", "2.0", "1.0e400", "1.2"), "load b failed"},
      {text("2", "1", "2.0", "-1.0e400", "1.2"), "load b failed"},
      {text("2", "1", "2.0", "0.75", "1e400"), "load k1 failed"},
      // The first failing key in load's order is the one reported.
      {text("-2", "-1", "-2.0", "1.0e400", "1e400"), "load doc_token_frequency failed"},
      {text("2", "1", "-2.0", "1.0e400", "1e400"), "load doc_length_average failed"},
  };
  for (const auto& [model_text, message] : cases) {
    BM25 model(0.9, 0.8);
    model.train(std::vector<std::string>{"a", "b"});
    const State before = StateOf(model);
    CerrCapture quiet;
    EXPECT_EQ(RuntimeErrorOf(model, model_text), message) << model_text;
    EXPECT_EQ(StateOf(model), before) << model_text;
    EXPECT_EQ(quiet.text(), "") << model_text;
  }
  // A zero count and a zero average are a valid untrained model.
  BM25 model(0.9, 0.8);
  model.load(text("0", "0", "0.0", "0.75", "1.2"));
  EXPECT_EQ(CountOf(model, "a"), 0);
}

// One token per escapable byte, each in a model of its own, so that losing any one byte from
// the writer's escape set fails its own case: the file would hold the raw byte (no longer JSON,
// and a double quote would cut the table short) and the token would not come back.
TEST_F(BM25ModelFile, EachEscapableByteIsWrittenEscapedAndComesBack) {
  const std::vector<std::pair<char, std::string>> escapes = {
      {'"', "\\\""}, {'\\', "\\\\"}, {'\b', "\\b"}, {'\f', "\\f"},
      {'\n', "\\n"}, {'\r', "\\r"},  {'\t', "\\t"},
  };
  for (const auto& [byte, written] : escapes) {
    const std::string token = std::string("x") + byte + "y";
    SCOPED_TRACE(written);
    BM25 model(0.75, 1.2);
    model.train(std::vector<std::string>{token});
    const std::string text = DumpText(model);
    EXPECT_NE(text.find("\n    \"x" + written + "y\" : 1\n"), std::string::npos) << text;
    BM25 loaded(0.75, 1.2);
    CerrCapture quiet;
    loaded.load(text);
    EXPECT_EQ(quiet.text(), "");
    EXPECT_EQ(StateOf(loaded).table, StateOf(model).table);
  }
}

// Bytes outside the escape set go out raw and come back: escaping them (as \u sequences,
// which the parser keeps undecoded) would change the token.
TEST_F(BM25ModelFile, OtherBytesAreWrittenRawAndComeBack) {
  for (const std::string& token : {std::string("a/b"), std::string("a\x01b"),
                                   std::string("a\x7f"
                                               "b"),
                                   std::string("a\0b", 3), std::string("\xc3\xa9\xff")}) {
    SCOPED_TRACE(token);
    BM25 model(0.75, 1.2);
    model.train(std::vector<std::string>{token});
    const std::string text = DumpText(model);
    EXPECT_NE(text.find("\n    \"" + token + "\" : 1\n"), std::string::npos);
    BM25 loaded(0.75, 1.2);
    loaded.load(text);
    EXPECT_EQ(StateOf(loaded).table, StateOf(model).table);
  }
}

}  // namespace
