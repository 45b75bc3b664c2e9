#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <exception>
#include <thread>
#include <utility>
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
  // Makes the next chunk start at batch index `index` (for two loaders taking turns).
  void StartAt(std::size_t index) { next_ = index; }
  std::size_t first() const { return first_; }  // batch index of the chunk's first text
  std::size_t end() const { return next_; }     // batch index after the chunk's last text
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

// Runs a batch chunk by chunk: `work(texts, payload)` without the interpreter lock (it must not
// touch Python), then `build(texts, first, payload)` with it, chunk after chunk in order.
// With `overlap`, the next chunk's work runs on a thread of its own while the current chunk is
// built, so building the result objects, which needs the lock, does not leave the cores idle;
// without it (threads=1) everything runs in the calling thread. Called with the lock held.
template <typename Payload, typename Work, typename Build>
void ForEachChunk(pybind11::handle sequence, std::size_t chunk_bytes, bool overlap, Work work,
                  Build build) {
  TextChunks loaders[2] = {TextChunks(sequence, chunk_bytes), TextChunks(sequence, chunk_bytes)};
  Payload payloads[2];
  if (!loaders[0].Next()) return;
  {
    pybind11::gil_scoped_release unlocked;
    work(loaders[0].batch(), payloads[0]);
  }
  for (int current = 0;; current ^= 1) {
    TextChunks& ahead = loaders[current ^ 1];
    ahead.StartAt(loaders[current].end());
    const bool more = ahead.Next();
    std::thread helper;
    std::exception_ptr helper_error;
    Payload& ahead_payload = payloads[current ^ 1];
    ahead_payload = Payload{};
    const auto work_ahead = [&] {
      try {
        work(ahead.batch(), ahead_payload);
      } catch (...) {
        helper_error = std::current_exception();
      }
    };
    if (more && overlap) helper = std::thread(work_ahead);
    // The helper never takes the lock, so waiting for it with the lock held cannot deadlock;
    // it is joined however `build` ends.
    struct Joiner {
      std::thread& thread;
      ~Joiner() {
        if (thread.joinable()) thread.join();
      }
    } joiner{helper};
    build(loaders[current].batch(), loaders[current].first(), payloads[current]);
    payloads[current] = Payload{};  // free as we go
    if (!more) return;
    if (overlap) {
      pybind11::gil_scoped_release unlocked;
      helper.join();
    } else {
      pybind11::gil_scoped_release unlocked;
      work_ahead();
    }
    if (helper_error) std::rethrow_exception(helper_error);
  }
}

}  // namespace orvel::typing::text::pybind
