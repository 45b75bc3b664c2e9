#pragma once

// Properties of BM25::load on arbitrary text: it either restores a model or throws one of its
// documented exceptions and leaves the model as it was; the fast reader for plain model text and
// the full JSON parser give the same model; whatever state a load leaves, the model can be used,
// dumped and loaded again (Reals rounded to six decimals, tokens exact) without undefined
// behaviour.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "search/bm25/bm25.h"
#include "search/bm25/model_file.h"

namespace orvel::fuzz {

namespace bm25_detail {

using orvel::typing::text::BM25;

inline bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::vector<std::pair<std::string, int64_t>> SortedTable(const BM25& model) {
  std::vector<std::pair<std::string, int64_t>> table;
  model.doc_token_frequency().for_each(
      [&](std::string_view token, int64_t count) { table.emplace_back(token, count); });
  std::sort(table.begin(), table.end());
  return table;
}

// Loads, turning the documented failures into false.
inline bool TryLoad(BM25& model, const std::string& text) {
  try {
    model.load(text);
    return true;
  } catch (const std::runtime_error&) {     // a missing or mistyped key, empty text
  } catch (const std::invalid_argument&) {  // a number conversion with no valid prefix
  } catch (const std::out_of_range&) {      // a number conversion out of range
  }
  return false;
}

// The same text with an extra root entry that the reader for plain text refuses and the
// parser ignores, so that the load goes through the parser's tree.
inline std::string ForceFullParser(const std::string& plain_text) {
  std::string text = plain_text;
  text.insert(text.find('{') + 1, " \"~\" : [],");
  return text;
}

inline std::string DumpToText(const BM25& model) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&buffer, &size);
  Require(stream != nullptr, "a memory stream opens");
  bool written = orvel::typing::text::write_model_text(model, stream);
  written = std::fclose(stream) == 0 && written;
  std::string text(buffer, size);
  std::free(buffer);
  Require(written, "writing to memory succeeds");
  return text;
}

inline double Rounded(double value) {
  return std::stod(std::to_string(value));
}

inline void CheckDumpLoadRoundTrip(const BM25& model) {
  if (!std::isfinite(model.b()) || !std::isfinite(model.k1()) ||
      !std::isfinite(model.doc_length_average())) {
    return;  // written as nan or inf, which no reader accepts
  }
  const std::string text = DumpToText(model);
  BM25 restored(0.0, 0.0);
  CerrCapture diagnostics;
  Require(TryLoad(restored, text), "a dumped model loads");
  Require(diagnostics.text().empty(), "a dumped model loads without a diagnostic");
  Require(SortedTable(restored) == SortedTable(model), "dump and load keep every token exactly");
  Require(restored.doc_count() == model.doc_count(), "dump and load keep the document count");
  Require(SameBits(restored.doc_length_average(), Rounded(model.doc_length_average())) &&
              SameBits(restored.b(), Rounded(model.b())) &&
              SameBits(restored.k1(), Rounded(model.k1())),
          "dump and load keep Reals to six decimals");
}

// Every public operation on whatever a load left behind.
inline void Exercise(BM25& model) {
  std::vector<std::string> tokens{"a", "b", "a"};
  model.doc_token_frequency().for_each([&](std::string_view token, int64_t) {
    if (tokens.size() < 8) tokens.emplace_back(token);
  });
  const std::vector<long long> numbers{0, -1, 42, 9223372036854775807LL};
  for (const std::string& token : tokens) model.idf(token);
  try {
    model.encode_query(tokens);
    model.encode_document(tokens);
    model.encode_query(numbers);
    model.encode_document(numbers);
  } catch (const std::runtime_error&) {
    // "BM25 has not been initialized": the load stopped before a usable count and average.
  }
  model.train(tokens);
  model.train(numbers);
  try {
    model.encode_query(tokens);
    model.encode_document(numbers);
  } catch (const std::runtime_error&) {
    // Still uninitialised when the loaded average was near zero.
  }
}

}  // namespace bm25_detail

inline void CheckModelText(std::string_view data) {
  using namespace bm25_detail;
  const std::string text(data);
  CerrCapture quiet;
  BM25 model(0.75, 1.2);
  model.train(std::vector<std::string>{"own", "a"});
  const auto table_before = SortedTable(model);
  const int64_t count_before = model.doc_count();
  const bool loaded = TryLoad(model, text);
  if (!loaded) {
    Require(SortedTable(model) == table_before && model.doc_count() == count_before &&
                model.doc_length_average() == 2.0 && model.b() == 0.75 && model.k1() == 1.2,
            "a failed load changes nothing");
  } else {
    Require(std::isfinite(model.b()) && std::isfinite(model.k1()) &&
                std::isfinite(model.doc_length_average()) && model.doc_length_average() >= 0 &&
                model.doc_count() >= 0,
            "a loaded model holds only loadable values");
  }

  if (orvel::typing::text::PlainModelText(text).read()) {
    Require(loaded, "plain model text always loads");
    BM25 parsed(0.75, 1.2);
    parsed.train(std::vector<std::string>{"own", "a"});
    CerrCapture diagnostics;
    Require(TryLoad(parsed, ForceFullParser(text)), "the parser loads what the fast reader does");
    Require(diagnostics.text().empty(), "plain model text is free of diagnostics");
    Require(SortedTable(parsed) == SortedTable(model) && parsed.doc_count() == model.doc_count() &&
                parsed.doc_length_total() == model.doc_length_total() &&
                SameBits(parsed.doc_length_average(), model.doc_length_average()) &&
                SameBits(parsed.b(), model.b()) && SameBits(parsed.k1(), model.k1()),
            "the fast reader and the parser restore the same model");
  }

  CheckDumpLoadRoundTrip(model);
  Exercise(model);
}

}  // namespace orvel::fuzz
