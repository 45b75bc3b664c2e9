#pragma once

// The BM25 model file: everything that reads, checks and writes it, apart from the JSON
// library it is written in (_json.h).
//
// Fixed by the format, and so by every file already saved:
// - One JSON object with exactly the keys "_b", "_doc_count", "_doc_length_average",
//   "_doc_token_frequency" and "_k1", written in that (byte) order, indented as the JSON
//   writer indents, with no line feed after the closing brace.
// - Reals in printf's %f (six decimals), counts as plain decimal integers, an integer token
//   under its decimal text (IntegerTokenText), tokens with the seven bytes JSON escaping
//   changes written escaped, every other byte raw.
// - How a text is read: by the lenient JSON parser, keys checked in the order table, count,
//   average, b, k1, with the messages "load <key> failed" and the parser's diagnostics.
// Chosen here, not by the format: a load checks the whole text before it changes the model,
// refuses values that would poison encoding or could not be saved again (negative counts,
// a negative average, non-finite reals), and a dump replaces the file whole and durably.
//
// Why two readers. The lenient parser builds a tree of JSON values, about 100 bytes per token,
// and defines what every text means. Nearly every text a user loads is one that dump wrote,
// so PlainModelText reads that plain form straight from the text, without a tree, and hands
// anything else to the parser. It scans numbers and strings with the parser's own scanners
// (ScanNumber, ConvertNumber, ScanString in _json.h) and accepts only texts that load without
// a diagnostic or an error, so whenever it answers, it answers as the parser would.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "search/bm25/_json.h"

namespace orvel::typing::text {

class BM25;

// Decimal text of an integer token, the same text std::to_string gives, without allocating.
// The model's table and its file hold integer tokens under this text.
class IntegerTokenText {
 public:
  explicit IntegerTokenText(long long token) {
    length_ = static_cast<std::size_t>(std::to_chars(buffer_, buffer_ + sizeof buffer_, token).ptr -
                                       buffer_);
  }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  char buffer_[24];  // "-9223372036854775808" is 20 characters
  std::size_t length_;
};

// ---- Reading -----------------------------------------------------------------------------

// The keys in the order load checks them; a failure reports the first that fails.
enum class ModelKey { kDocTokenFrequency, kDocCount, kDocLengthAverage, kB, kK1 };

// "load doc_count failed" and so on.
const char* load_failure_message(ModelKey key);

// Values a loaded model may hold. Anything else would make every weight NaN or infinite, or
// would be written as text (nan, inf) that no reader accepts.
inline bool is_loadable_count(int64_t count) {
  return count >= 0;
}
inline bool is_loadable_average(double average) {
  return std::isfinite(average) && average >= 0.0;
}
inline bool is_loadable_parameter(double parameter) {
  return std::isfinite(parameter);
}

struct ModelScalars {
  int64_t doc_count = 0;
  double doc_length_average = 0.0;
  double b = 0.0;
  double k1 = 0.0;
};

// Any model text, read by the lenient JSON parser and checked whole. Construction throws what
// load throws: the number conversions' std::invalid_argument or std::out_of_range, or
// std::runtime_error with the message of the first key (in load's order) that is missing, of
// the wrong kind, or holds a value that is not loadable.
class ParsedModelText {
 public:
  explicit ParsedModelText(const std::string& text);
  // The table pointer points into the tree this object owns.
  ParsedModelText(const ParsedModelText&) = delete;
  ParsedModelText& operator=(const ParsedModelText&) = delete;

  const ModelScalars& scalars() const { return scalars_; }

  // Visits every table entry (token, count) in ascending key order.
  template <typename Visit>
  void visit_table(Visit&& visit) const {
    std::string token;
    for (const auto& [key, value] : table_->Entries()) {
      bool ok = false;
      unescape_key(key, token);
      visit(std::string_view(token), value.GetInteger(ok));
    }
  }

  // The token a key stands for: the parser holds every key in escaped form.
  static void unescape_key(const std::string& held, std::string& token);

 private:
  json::JSON root_;
  const json::JSON* table_ = nullptr;
  ModelScalars scalars_;
};

// Reads the plain form of a model text: one object with exactly the five keys, each once, and
// a table of Integer values, with no syntax the parser would complain about and nothing that
// load would refuse. Every check answers "not plain" rather than failing; the caller then uses
// ParsedModelText, which gives the same model for every text this reader accepts.
class PlainModelText {
 public:
  explicit PlainModelText(std::string_view text) : text_(text) {}

  // Checks the whole text and reads the scalars; true when the text is plain.
  bool read();

  const ModelScalars& scalars() const { return scalars_; }

  // Visits the table's entries in text order (a repeated key: the last one wins, as in the
  // parser's map); only after read() accepted the text.
  template <typename Visit>
  void visit_table(Visit&& visit) {
    pos_ = table_start_;
    for_each_entry(visit);
  }

 private:
  char current() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void skip_whitespace() {
    while (json::IsJsonWhitespace(current())) ++pos_;
  }
  bool consume(char expected) {
    skip_whitespace();
    if (current() != expected) return false;
    ++pos_;
    return true;
  }

  bool read_key(std::string_view& key);
  bool read_number(json::NumberValue& number);
  bool read_count(int64_t& count);
  bool read_real(double& number);

  // Position on the table's first byte after '{'; true at its closing brace.
  template <typename Visit>
  bool for_each_entry(Visit&& visit) {
    skip_whitespace();
    if (current() == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      std::string_view key;
      int64_t count = 0;
      if (!read_key(key) || !consume(':') || !read_count(count)) return false;
      visit(key, count);
      skip_whitespace();
      const char ch = current();
      ++pos_;
      if (ch == '}') return true;
      if (ch != ',') return false;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t table_start_ = 0;
  std::string scratch_;  // a key with escapes, decoded
  ModelScalars scalars_;
};

// ---- Writing -----------------------------------------------------------------------------

// Writes `model` as the model file's text to `file` and flushes it; the caller closes it. The
// bytes are those the JSON writer gives for the model's tree, produced straight from the
// model: a tree of JSON values would cost about 100 bytes per token. False when any write or
// the flush failed.
bool write_model_text(const BM25& model, std::FILE* file);

// The file a dump writes. A regular file (or a path with nothing there yet) is replaced by
// renaming a finished, synced temporary file over it, so that a failed dump, a kill or a power
// loss leaves the old model or the new one, never a truncated one. Devices and pipes cannot be
// renamed over and are written in place. So is an existing file whose directory the process may
// not write: a service that owns its model file but not the directory must still be able to
// save, and gives up that guarantee (a full disk or a kill leaves a truncated model).
class ModelFileDestination {
 public:
  ModelFileDestination() = default;
  ModelFileDestination(const ModelFileDestination&) = delete;
  ModelFileDestination& operator=(const ModelFileDestination&) = delete;
  // Closes what is still open and removes a temporary file that was not renamed.
  ~ModelFileDestination();

  // Opens the file to write into; nullptr, or the message of dump's failure. The temporary
  // file has the target's permissions from its creation (a private model is never readable
  // by others, not even briefly); a new model gets 0666 less the umask.
  const char* open(const std::string& path);

  std::FILE* stream() const { return stream_; }
  // The temporary file being written; empty when writing in place.
  const std::filesystem::path& temporary_path() const { return temporary_; }

  // Flushes, syncs and closes the file; then renames it over the target and syncs the
  // directory. False on any failure: before the rename the target is untouched and the
  // temporary file removed; a failure to sync the directory comes after the rename, so the
  // new model is in place but may not survive a power loss.
  bool commit();

 private:
  const char* open_in_place(const std::string& path);
  const char* open_temporary(const std::filesystem::path& target, bool existed, unsigned mode);
  bool attach(int fd);

  std::FILE* stream_ = nullptr;
  std::filesystem::path temporary_;  // empty when writing in place or once renamed
  std::filesystem::path target_;
  int directory_ = -1;
};

}  // namespace orvel::typing::text
