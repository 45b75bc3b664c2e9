// The BM25 model file: its readers, its writer, and BM25::load and BM25::dump (see
// model_file.h for what the format fixes and why there are two readers).

#include "search/bm25/model_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <limits>
#include <random>
#include <system_error>
#include <vector>

#include "search/bm25/bm25.h"

namespace orvel::typing::text {

// ---- Reading -----------------------------------------------------------------------------

const char* load_failure_message(ModelKey key) {
  switch (key) {
    case ModelKey::kDocTokenFrequency:
      return "load doc_token_frequency failed";
    case ModelKey::kDocCount:
      return "load doc_count failed";
    case ModelKey::kDocLengthAverage:
      return "load doc_length_average failed";
    case ModelKey::kB:
      return "load b failed";
    case ModelKey::kK1:
      return "load k1 failed";
  }
  return "load failed";
}

namespace {

[[noreturn]] void fail_load(ModelKey key) {
  throw std::runtime_error(load_failure_message(key));
}

double checked_real(json::JSON& root, const char* name, ModelKey key, bool (*loadable)(double)) {
  bool ok = false;
  const double value = root[name].GetReal(ok);
  if (!ok || !loadable(value)) fail_load(key);
  return value;
}

}  // namespace

ParsedModelText::ParsedModelText(const std::string& text) : root_(json::JSON::Load(text)) {
  // The later reads only insert root keys, which leaves this entry (a map node) in place.
  table_ = &root_["_doc_token_frequency"];
  for (const auto& entry : table_->Entries()) {
    bool ok = false;
    const int64_t count = entry.second.GetInteger(ok);
    if (!ok || !is_loadable_count(count)) fail_load(ModelKey::kDocTokenFrequency);
  }
  bool ok = false;
  scalars_.doc_count = root_["_doc_count"].GetInteger(ok);
  if (!ok || !is_loadable_count(scalars_.doc_count)) fail_load(ModelKey::kDocCount);
  scalars_.doc_length_average =
      checked_real(root_, "_doc_length_average", ModelKey::kDocLengthAverage, is_loadable_average);
  scalars_.b = checked_real(root_, "_b", ModelKey::kB, is_loadable_parameter);
  scalars_.k1 = checked_real(root_, "_k1", ModelKey::kK1, is_loadable_parameter);
}

// Reverses json_escape. Every backslash in a held key starts one of its seven escapes.
void ParsedModelText::unescape_key(const std::string& held, std::string& token) {
  token.clear();
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
}

namespace {

// Root keys in the order the file lists them (ascending bytes).
enum RootKey { kB, kDocCount, kDocLengthAverage, kDocTokenFrequency, kK1, kRootKeyCount };
constexpr std::string_view kRootKeys[kRootKeyCount] = {"_b", "_doc_count", "_doc_length_average",
                                                       "_doc_token_frequency", "_k1"};

}  // namespace

bool PlainModelText::read() {
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
        ok = read_real(scalars_.b) && is_loadable_parameter(scalars_.b);
        break;
      case kDocCount:
        ok = read_count(scalars_.doc_count);
        break;
      case kDocLengthAverage:
        ok = read_real(scalars_.doc_length_average) &&
             is_loadable_average(scalars_.doc_length_average);
        break;
      case kDocTokenFrequency:
        ok = consume('{');
        table_start_ = pos_;
        ok = ok && for_each_entry([](std::string_view, int64_t) {});
        break;
      case kK1:
        ok = read_real(scalars_.k1) && is_loadable_parameter(scalars_.k1);
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

// A closed String; its decoded text is the token itself (the parser's held key, unescaped).
bool PlainModelText::read_key(std::string_view& key) {
  skip_whitespace();
  if (current() != '"') return false;
  const json::StringScan scan = json::ScanString(text_, pos_, scratch_);
  if (scan.end != json::StringEnd::kClosed) return false;
  key = scan.text;
  return true;
}

// A number that ends cleanly and converts; a conversion that throws is left to the parser,
// which throws the same exception.
bool PlainModelText::read_number(json::NumberValue& number) {
  skip_whitespace();
  const char first = current();
  if (first != '-' && !(first >= '0' && first <= '9')) return false;
  const json::NumberScan scan = json::ScanNumber(text_, pos_);
  if (scan.end != json::NumberEnd::kNumber) return false;
  try {
    number = json::ConvertNumber(scan);
  } catch (const std::logic_error&) {
    return false;
  }
  return true;
}

bool PlainModelText::read_count(int64_t& count) {
  json::NumberValue number{};
  if (!read_number(number) || number.real) return false;
  count = number.integer_value;
  return is_loadable_count(count);
}

bool PlainModelText::read_real(double& value) {
  json::NumberValue number{};
  if (!read_number(number) || !number.real) return false;
  value = number.real_value;
  return true;
}

namespace {

// The running length total that training expects of `count` documents of this average; both
// are loadable, so the product is finite and not negative.
int64_t rounded_length_total(int64_t count, double average) {
  const double product = static_cast<double>(count) * average;
  constexpr double kLimit = 9.2e18;  // inside int64_t, with room for the rounding
  if (product >= kLimit) return std::numeric_limits<int64_t>::max();
  return std::llround(product);
}

}  // namespace

void BM25::load(const std::string& text) {
  if (text.empty()) throw std::runtime_error("json data should not be empty");

  // Both readers check the whole text first; only then does the model change, so a failed
  // load leaves it as it was.
  const auto apply = [this](auto& reader) {
    reader.visit_table([this](std::string_view token, int64_t count) {
      _doc_token_frequency.find_or_insert(token) = count;
    });
    const ModelScalars& scalars = reader.scalars();
    _doc_count = scalars.doc_count;
    _doc_length_average = scalars.doc_length_average;
    // The file has no running length total; training after a load needs one that matches.
    _doc_length_total = rounded_length_total(_doc_count, _doc_length_average);
    _b = scalars.b;
    _k1 = scalars.k1;
  };
  PlainModelText plain(text);
  if (plain.read()) {
    apply(plain);
    return;
  }
  ParsedModelText parsed(text);
  apply(parsed);
}

// ---- Writing -----------------------------------------------------------------------------

namespace {

const char kOpenFailed[] = "Failed to dump: Unable to open file";
const char kWriteFailed[] = "Failed to dump: Unable to write file";

bool needs_escape(std::string_view token) {
  return token.find_first_of("\"\\\b\f\n\r\t") != std::string_view::npos;
}

// Buffered writes to a C stream, remembering whether any of them failed.
class ModelFileOutput {
 public:
  explicit ModelFileOutput(std::FILE* file) : file_(file) { buffer_.reserve(kChunk); }

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

  // Drains and flushes; false when any write or the flush failed.
  bool flush() {
    drain();
    return ok_ && std::fflush(file_) == 0;
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

}  // namespace

// The text `os << tree` gives for the model's tree (keys in byte order, entries at depth 1 and
// 2 with two-space units), straight from the model. Token keys are stored escaped so that every
// token survives a load and the file stays valid JSON.
bool write_model_text(const BM25& model, std::FILE* file) {
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

  ModelFileOutput out(file);
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
  return out.flush();
}

// ---- Replacing the file ------------------------------------------------------------------

namespace {

namespace fs = std::filesystem;

// fsync, where "this file cannot be synced" (EINVAL: a pipe, a device, some filesystems'
// directories) counts as done: there is nothing more that could be made durable.
bool sync_descriptor(int fd) {
  return ::fsync(fd) == 0 || errno == EINVAL;
}

}  // namespace

ModelFileDestination::~ModelFileDestination() {
  if (stream_) std::fclose(stream_);
  if (directory_ >= 0) ::close(directory_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

const char* ModelFileDestination::open(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool is_link = fs::is_symlink(fs::symlink_status(path, error));
  if (status.type() == fs::file_type::not_found) {
    // A dangling link is written through, as a plain open would.
    if (is_link) return open_in_place(path);
    return open_temporary(path, false, 0);
  }
  if (status.type() != fs::file_type::regular) return open_in_place(path);
  fs::path target = path;
  if (is_link) {
    // Replace the file the link points to, keeping the link.
    target = fs::canonical(path, error);
    if (error) return open_in_place(path);
  }
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) return kOpenFailed;
  // Renaming would replace a file we may not write; refuse it as opening it would.
  const int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (probe < 0) return kOpenFailed;
  ::close(probe);
  return open_temporary(target, true, info.st_mode & 07777);
}

bool ModelFileDestination::commit() {
  std::FILE* stream = stream_;
  stream_ = nullptr;
  bool ok = std::fflush(stream) == 0 && sync_descriptor(::fileno(stream));
  ok = std::fclose(stream) == 0 && ok;
  if (!ok || temporary_.empty()) return ok;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
  temporary_.clear();
  return sync_descriptor(directory_);
}

const char* ModelFileDestination::open_in_place(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return kOpenFailed;
  return attach(fd) ? nullptr : kOpenFailed;
}

// Created with the target's mode, which the umask can only narrow; the fchmod then restores
// it exactly, before any byte is written.
const char* ModelFileDestination::open_temporary(const fs::path& target, bool existed,
                                                 unsigned mode) {
  const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device random;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
    temporary_ = directory / ("." + target.filename().string() + ".tmp-" + suffix);
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                existed ? static_cast<mode_t>(mode & 0777) : static_cast<mode_t>(0666));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int open_error = errno;
    temporary_.clear();
    // A directory we may not write: replace an existing file in place.
    if (existed && (open_error == EACCES || open_error == EPERM)) {
      return open_in_place(target.string());
    }
    return kOpenFailed;
  }
  target_ = target;
  if (!attach(fd)) return kWriteFailed;
  if (existed && ::fchmod(fd, static_cast<mode_t>(mode)) != 0) return kWriteFailed;
  directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Without the directory the rename could not be made durable.
  if (directory_ < 0) return kWriteFailed;
  return nullptr;
}

bool ModelFileDestination::attach(int fd) {
  stream_ = ::fdopen(fd, "wb");
  if (!stream_) ::close(fd);
  return stream_ != nullptr;
}

void BM25::dump(const std::string& path) const {
  // A NUL byte would end the path early at the C library: the model would land in a file
  // other than the one named.
  if (path.empty() || path.find('\0') != std::string::npos) {
    throw std::runtime_error(kOpenFailed);
  }
  ModelFileDestination file;
  if (const char* failure = file.open(path)) throw std::runtime_error(failure);
  const bool written = write_model_text(*this, file.stream());
  // An incomplete text is never renamed over the old model: the temporary file goes.
  if (!written || !file.commit()) throw std::runtime_error(kWriteFailed);
}

}  // namespace orvel::typing::text
