#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "pybind/typed_object.h"
#include "search/bm25/batch_text.h"

namespace orvel::typing::text::pybind {

struct TextsName {
  static constexpr auto kName = pybind11::detail::const_name("Sequence[Union[str, bytes]]");
};
struct ThreadsName {
  static constexpr auto kName = pybind11::detail::const_name("Optional[int]");
};
using TextsArgument = TypedObject<TextsName>;
using ThreadsArgumentObject = TypedObject<ThreadsName>;

// `threads=` of the batch methods: None is 0 (every usable core). TypeError when not an int,
// ValueError when negative.
int ThreadsArgument(pybind11::handle threads);

// A batch argument as a tuple (a tuple is taken as it is, other iterables are copied once). A bare
// str or bytes would iterate per character, so it is refused with TypeError, as the per-item
// methods refuse a str where a token list belongs.
pybind11::object BatchSequence(pybind11::handle batch, const char* name);

// Raises TypeError "name[index]: expected str or bytes ..." unless every item is a str that
// encodes to UTF-8 (no lone surrogates) or a bytes-like object. Run before any work, so a bad
// item changes nothing.
void CheckTexts(pybind11::handle sequence, const char* name);

// Consecutive texts of a checked batch as UTF-8 views, a few MiB at a time so that the batch
// is never copied whole. Holds a reference to whatever backs each view.
class TextChunks {
 public:
  TextChunks(pybind11::handle sequence, std::size_t chunk_bytes);

  // Loads the next chunk; false when the batch is exhausted.
  bool Next();
  std::size_t first() const { return first_; }  // batch index of the chunk's first text
  const TextBatch& batch() const { return batch_; }

 private:
  pybind11::object sequence_;
  std::size_t size_;
  std::size_t chunk_bytes_;
  std::size_t first_ = 0;
  std::size_t next_ = 0;
  TextBatch batch_;
  std::vector<pybind11::object> keep_;
};

}  // namespace orvel::typing::text::pybind
