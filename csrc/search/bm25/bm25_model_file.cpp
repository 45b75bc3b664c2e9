// BM25::dump and BM25::load: the model as indented JSON text.
//
// Both have a direct path for the text dump itself writes, because the model file is built
// for millions of tokens and a tree of JSON values costs about 100 bytes per token:
// - dump writes the bytes the JSON writer would produce for the model's tree, without the tree;
// - load first reads the text as the plain form dump writes, with no tree and no copies; any
//   text outside that form (or anything it is unsure of) goes to the lenient JSON parser, whose
//   result the plain reader reproduces exactly for the texts it accepts.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <limits>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "search/bm25/_json.h"
#include "search/bm25/bm25.h"

namespace orvel::typing::text {
namespace {

namespace fs = std::filesystem;

const char kOpenFailed[] = "Failed to dump: Unable to open file";
const char kWriteFailed[] = "Failed to dump: Unable to write file";

// Root keys in the order the file lists them (ascending bytes).
enum RootKey { kB, kDocCount, kDocLengthAverage, kDocTokenFrequency, kK1, kRootKeyCount };
constexpr std::string_view kRootKeys[kRootKeyCount] = {"_b", "_doc_count", "_doc_length_average",
                                                       "_doc_token_frequency", "_k1"};

// ---------------------------------------------------------------------------------------
// Writing

bool needs_escape(std::string_view token) {
  return token.find_first_of("\"\\\b\f\n\r\t") != std::string_view::npos;
}

// Buffered writes to a C stream, remembering whether any of them failed.
class ModelFileOutput {
 public:
  explicit ModelFileOutput(std::FILE* file) : file_(file) { buffer_.reserve(kChunk); }
  ModelFileOutput(const ModelFileOutput&) = delete;
  ModelFileOutput& operator=(const ModelFileOutput&) = delete;
  ~ModelFileOutput() {
    if (file_) std::fclose(file_);
  }

  void write(std::string_view bytes) {
    buffer_.append(bytes);
    if (buffer_.size() >= kChunk) drain();
  }
  void write_integer(int64_t number) {
    char digits[24];
    write({digits, static_cast<std::size_t>(
                       std::to_chars(digits, digits + sizeof digits, number).ptr - digits)});
  }
  // The JSON writer's form of a Real: printf's %f, as std::to_string gives it.
  void write_real(double number) { write(std::to_string(number)); }

  // Flushes and closes; false when any write, the flush or the close failed.
  bool close() {
    drain();
    bool ok = ok_ && std::fflush(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
  }

 private:
  static constexpr std::size_t kChunk = 1 << 20;

  void drain() {
    if (ok_ && !buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
      ok_ = false;
    }
    buffer_.clear();
  }

  std::FILE* file_;
  std::string buffer_;
  bool ok_ = true;
};

// Writes the text `os << tree` gives for the model's tree (keys in byte order, entries at
// depth 1 and 2 with two-space units), straight from the model. Token keys are stored
// escaped so that every token survives a load and the file stays valid JSON.
void write_model_text(const BM25& model, ModelFileOutput& out) {
  struct Entry {
    std::string_view key;
    int64_t count;
  };
  std::vector<Entry> entries;
  entries.reserve(model.doc_token_frequency().size());
  std::deque<std::string> escaped_keys;  // a deque keeps earlier keys in place as it grows
  model.doc_token_frequency().for_each([&](std::string_view token, int64_t count) {
    if (needs_escape(token)) {
      escaped_keys.push_back(json::json_escape(std::string(token)));
      token = escaped_keys.back();
    }
    entries.push_back({token, count});
  });
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.key < b.key; });

  out.write("{\n  \"_b\" : ");
  out.write_real(model.b());
  out.write(",\n  \"_doc_count\" : ");
  out.write_integer(model.doc_count());
  out.write(",\n  \"_doc_length_average\" : ");
  out.write_real(model.doc_length_average());
  out.write(",\n  \"_doc_token_frequency\" : {\n");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out.write(",\n");
    out.write("    \"");
    out.write(entries[i].key);
    out.write("\" : ");
    out.write_integer(entries[i].count);
  }
  out.write("\n  },\n  \"_k1\" : ");
  out.write_real(model.k1());
  out.write("\n}");
}

// Where a dump goes. Regular files (and paths with nothing there yet) are replaced by
// renaming a finished temporary file over them, so a failed dump never leaves a truncated
// model; devices and pipes cannot be renamed over and are written in place.
struct DumpTarget {
  fs::path path;
  bool replace_by_rename;
  bool existed;
  fs::perms permissions;
};

DumpTarget choose_target(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool is_link = fs::is_symlink(fs::symlink_status(path, error));
  if (status.type() == fs::file_type::not_found) {
    // A dangling link is written through, as a plain open would.
    return {path, !is_link, false, fs::perms::unknown};
  }
  if (status.type() != fs::file_type::regular) return {path, false, true, fs::perms::unknown};
  if (!is_link) return {path, true, true, status.permissions()};
  // Replace the file the link points to, keeping the link.
  fs::path resolved = fs::canonical(path, error);
  if (error) return {path, false, true, fs::perms::unknown};
  return {resolved, true, true, status.permissions()};
}

// A new file beside `target`, opened for exclusive writing, removed again unless committed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
      path_ = target.parent_path() / ("." + target.filename().string() + ".tmp-" + suffix);
      file_ = std::fopen(path_.c_str(), "wbx");
      if (file_ || errno != EEXIST) return;
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!committed_ && file_) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }

  // The open stream, for the caller to write and close; nullptr when none could be made.
  std::FILE* stream() const { return file_; }

  bool commit(const DumpTarget& target) {
    std::error_code error;
    if (target.existed) fs::permissions(path_, target.permissions, error);
    fs::rename(path_, target.path, error);
    committed_ = !error;
    return committed_;
  }

 private:
  fs::path path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// ---------------------------------------------------------------------------------------
// Reading

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

// Reads the plain form of a model text: one object with exactly the five keys, each once,
// String keys without backslashes, Integer table values and numbers that end cleanly. For such a
// text the lenient parser writes no diagnostic and yields exactly these values, so loading from
// here is the same as loading from its tree. Every check answers "not plain" rather than failing;
// the caller then uses the parser.
class PlainModelText {
 public:
  explicit PlainModelText(std::string_view text) : text_(text) {}

  // Checks the whole text and reads the scalars; true when the text is plain.
  bool read() {
    if (!consume('{')) return false;
    bool seen[kRootKeyCount] = {};
    while (true) {
      std::string_view key;
      if (!read_key(key) || !consume(':')) return false;
      const auto found = std::find(std::begin(kRootKeys), std::end(kRootKeys), key);
      if (found == std::end(kRootKeys)) return false;
      const auto which = static_cast<std::size_t>(found - std::begin(kRootKeys));
      if (seen[which]) return false;
      seen[which] = true;
      bool ok = false;
      switch (which) {
        case kB:
          ok = read_real(b_);
          break;
        case kDocCount:
          ok = read_integer(doc_count_);
          break;
        case kDocLengthAverage:
          ok = read_real(doc_length_average_);
          break;
        case kDocTokenFrequency:
          ok = consume('{');
          table_start_ = pos_;
          ok = ok && for_each_entry([](std::string_view, int64_t) {});
          break;
        case kK1:
          ok = read_real(k1_);
          break;
      }
      if (!ok) return false;
      skip_whitespace();
      const char ch = current();
      ++pos_;
      if (ch == '}') break;
      if (ch != ',') return false;
    }
    return std::all_of(std::begin(seen), std::end(seen), [](bool s) { return s; });
  }

  // Visits the table's entries; only after read() accepted the text.
  template <typename Visit>
  void visit_table(Visit&& visit) {
    pos_ = table_start_;
    for_each_entry(visit);
  }

  int64_t doc_count() const { return doc_count_; }
  double doc_length_average() const { return doc_length_average_; }
  double b() const { return b_; }
  double k1() const { return k1_; }

 private:
  // The parser's whitespace: the default locale's isspace.
  static bool is_whitespace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
  }
  static bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

  char current() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  void skip_whitespace() {
    while (is_whitespace(current())) ++pos_;
  }
  bool consume(char expected) {
    skip_whitespace();
    if (current() != expected) return false;
    ++pos_;
    return true;
  }

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
      if (!read_key(key) || !consume(':') || !read_integer(count)) return false;
      // Storing in text order lets a repeated key keep its last value, as the parser's map
      // does; and since every value is valid, the order of the keys cannot matter otherwise.
      visit(key, count);
      skip_whitespace();
      const char ch = current();
      ++pos_;
      if (ch == '}') return true;
      if (ch != ',') return false;
    }
  }

  // A String with no escapes; its bytes are then the token itself.
  bool read_key(std::string_view& key) {
    if (!consume('"')) return false;
    const std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\\') ++pos_;
    if (current() != '"') return false;
    key = text_.substr(start, pos_ - start);
    ++pos_;
    return true;
  }

  // The bytes the parser would take as a number's mantissa, provided the number ends where
  // the parser accepts it (no exponent).
  bool read_number_text(std::string_view& digits) {
    skip_whitespace();
    const std::size_t start = pos_;
    if (current() != '-' && !is_digit(current())) return false;
    while (current() == '-' || current() == '.' || is_digit(current())) ++pos_;
    const char end = current();
    if (!is_whitespace(end) && end != ',' && end != ']' && end != '}') return false;
    digits = text_.substr(start, pos_ - start);
    return true;
  }

  // An optional '-' and digits only: then std::stol and std::from_chars agree.
  bool read_integer(int64_t& number) {
    std::string_view digits;
    if (!read_number_text(digits) || digits.find('.') != std::string_view::npos) return false;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return error == std::errc() && end == digits.data() + digits.size();
  }

  // The parser's own conversion: std::stod of the mantissa (times 10^0).
  bool read_real(double& number) {
    std::string_view digits;
    if (!read_number_text(digits) || digits.find('.') == std::string_view::npos) return false;
    try {
      number = std::stod(std::string(digits));
    } catch (const std::logic_error&) {
      return false;  // the parser reports it, with its own exception
    }
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t table_start_ = 0;
  int64_t doc_count_ = 0;
  double doc_length_average_ = 0.0;
  double b_ = 0.0;
  double k1_ = 0.0;
};

}  // namespace

void BM25::dump(const std::string& path) const {
  if (path.empty()) throw std::runtime_error(kOpenFailed);
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

  ModelFileOutput output(file);
  write_model_text(*this, output);
  bool written = output.close();
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
