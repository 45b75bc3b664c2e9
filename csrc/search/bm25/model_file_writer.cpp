#include "search/bm25/model_file_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "search/bm25/_json.h"

namespace orvel::typing::text {
namespace {

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

}  // namespace

bool write_model_file(const BM25& model, std::FILE* file) {
  ModelFileOutput output(file);
  write_model_text(model, output);
  return output.close();
}

}  // namespace orvel::typing::text
