// BM25::dump and BM25::load: the model as indented JSON text.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "search/bm25/_json.h"
#include "search/bm25/bm25.h"
#include "search/bm25/model_file_writer.h"
#include "search/bm25/plain_model_text.h"
#include "search/bm25/replacing_file.h"

namespace orvel::typing::text {
namespace {

const char kOpenFailed[] = "Failed to dump: Unable to open file";
const char kWriteFailed[] = "Failed to dump: Unable to write file";

// Reverses json_escape: the parser holds every key escaped, and the model wants the token.
std::string unescape_key(const std::string& held) {
  std::string token;
  token.reserve(held.size());
  for (std::size_t i = 0; i < held.size(); ++i) {
    if (held[i] != '\\' || i + 1 == held.size()) {
      token += held[i];
      continue;
    }
    switch (held[++i]) {
      case 'b':
        token += '\b';
        break;
      case 'f':
        token += '\f';
        break;
      case 'n':
        token += '\n';
        break;
      case 'r':
        token += '\r';
        break;
      case 't':
        token += '\t';
        break;
      default:  // '"' and '\\'
        token += held[i];
        break;
    }
  }
  return token;
}

// The running length total that training expects of `count` documents of this average.
int64_t rounded_length_total(int64_t count, double average) {
  const double product = static_cast<double>(count) * average;
  constexpr double kLimit = 9.2e18;  // inside int64_t, with room for the rounding
  if (std::isnan(product)) return 0;
  if (product >= kLimit) return std::numeric_limits<int64_t>::max();
  if (product <= -kLimit) return std::numeric_limits<int64_t>::min();
  return std::llround(product);
}

}  // namespace

void BM25::dump(const std::string& path) const {
  // A NUL byte would end the path early at the C library: the model would land in a file
  // other than the one named.
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw std::runtime_error(kOpenFailed);
  }
  const DumpTarget target = choose_target(path);
  if (target.existed && target.replace_by_rename) {
    // Renaming would replace a file we may not write; refuse it as opening it would.
    std::FILE* probe = std::fopen(target.path.c_str(), "r+b");
    if (!probe) throw std::runtime_error(kOpenFailed);
    std::fclose(probe);
  }
  std::optional<TemporaryFile> temporary;
  std::FILE* file = nullptr;
  if (target.replace_by_rename) {
    temporary.emplace(target.path);
    file = temporary->stream();
  }
  // Without a temporary file (a directory we may not write, say), write in place.
  const bool in_place = file == nullptr;
  if (in_place) file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error(kOpenFailed);

  bool written = write_model_file(*this, file);
  if (written && !in_place) written = temporary->commit(target);
  if (!written) throw std::runtime_error(kWriteFailed);
}

void BM25::load(const std::string& text) {
  if (text.empty()) throw std::runtime_error("json data should not be empty");

  PlainModelText plain(text);
  if (plain.read()) {
    plain.visit_table([this](std::string_view token, int64_t count) {
      _doc_token_frequency.find_or_insert(token) = count;
    });
    _doc_count = plain.doc_count();
    _doc_length_average = plain.doc_length_average();
    _doc_length_total = rounded_length_total(_doc_count, _doc_length_average);
    _b = plain.b();
    _k1 = plain.k1();
    return;
  }

  // Keys are read in this order and each failing step leaves the earlier ones applied, so
  // that the model afterwards shows how far the load got.
  json::JSON root = json::JSON::Load(text);
  bool ok = false;
  // The later reads only insert root keys, which leaves this entry (a map node) in place.
  for (const auto& [key, value] : root["_doc_token_frequency"].Entries()) {
    _doc_token_frequency.find_or_insert(unescape_key(key)) = value.GetInteger(ok);
    if (!ok) throw std::runtime_error("load doc_token_frequency failed");
  }
  _doc_count = root["_doc_count"].GetInteger(ok);
  // The file has no running length total; training after a load needs one that matches.
  _doc_length_total = rounded_length_total(_doc_count, _doc_length_average);
  if (!ok) throw std::runtime_error("load doc_count failed");
  _doc_length_average = root["_doc_length_average"].GetReal(ok);
  _doc_length_total = rounded_length_total(_doc_count, _doc_length_average);
  if (!ok) throw std::runtime_error("load doc_length_average failed");
  _b = root["_b"].GetReal(ok);
  if (!ok) throw std::runtime_error("load b failed");
  _k1 = root["_k1"].GetReal(ok);
  if (!ok) throw std::runtime_error("load k1 failed");
}

}  // namespace orvel::typing::text
