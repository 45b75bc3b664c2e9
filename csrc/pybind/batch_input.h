#pragma once

#include <pybind11/pybind11.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "pybind/typed_object.h"
#include "search/bm25/batch_text.h"
#include "tokenizer/jieba/huge_page_allocator.h"

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
// item changes nothing. Returns an upper estimate of the batch's UTF-8 bytes, from the items'
// lengths alone (no str is encoded for it).
std::size_t CheckTexts(pybind11::handle sequence, const char* name);

// Bytes per chunk for ForEachChunk: `largest` for a big batch; a batch of fewer than a few such
// chunks per thread gets smaller ones (down to a floor that still outweighs a chunk's hand-off),
// so that a small batch is shared by the threads instead of going to one of them whole.
std::size_t ChunkBytes(std::size_t batch_bytes, std::size_t largest, int threads);

// Consecutive texts of a checked batch as UTF-8 views, a few MiB at a time so that the batch
// is never copied whole. Holds a reference to whatever backs each view.
//
// A str has UTF-8 bytes to view only when it is ASCII or CPython has already made its UTF-8
// form; the others are encoded by Encode(), without the interpreter lock and on the batch's
// threads, into a buffer of the chunk. CPython's own encoding would run under the lock, on one
// thread while the others wait, and would keep a UTF-8 copy with every str for as long as it
// lives: 3 bytes a Chinese character, beside the 2 the str itself takes.
class TextChunks {
 public:
  TextChunks(pybind11::handle sequence, std::size_t chunk_bytes);

  // Loads the next chunk, with the lock held; false when the batch is exhausted. Encode()
  // must follow before batch() is read.
  bool Next();
  // Encodes the chunk's texts that have no UTF-8 bytes yet, on `threads` threads as
  // BatchThreads resolves it. Needs no lock: it reads only the characters of str objects the
  // chunk keeps alive, which never change.
  void Encode(int threads);
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
  std::vector<pybind11::object> copies_;  // bytes copies of the chunk's bytearray items
  // A str whose UTF-8 form Encode() makes: its storage, and where its bytes go in utf8_.
  struct Pending {
    std::size_t index;  // in batch_.texts
    int width;          // bytes per code point
    const void* data;
    std::size_t length;  // code points
    std::size_t offset;  // in utf8_
  };
  std::vector<Pending> pending_;
  struct FreeUtf8 {
    std::size_t bytes;
    void operator()(char* block) const {
      tokenizer::jieba::HugePageAllocator<char>().deallocate(block, bytes);
    }
  };
  std::unique_ptr<char[], FreeUtf8> utf8_{nullptr, FreeUtf8{0}};
};

// Runs a batch chunk by chunk: `work(texts, payload)` without the interpreter lock (it must not
// touch Python, and works in the calling thread only), then `build(texts, first, payload)` with
// it, in chunk order. With `threads` > 1, threads - 1 helpers work on the chunks ahead while
// the calling thread builds, and the calling thread works on chunks too whenever the next one
// to build is not ready: building the result objects needs the lock and so runs on one thread
// only, and this way no core waits while there is work of either kind, whichever of the two
// costs more. A few chunks at most are held at once. Called with the lock held; an exception
// from `work` is raised when its chunk's turn to be built comes, one from `build` at once,
// after the helpers have stopped.
template <typename Payload, typename Work, typename Build>
void ForEachChunk(pybind11::handle sequence, std::size_t chunk_bytes, int threads, Work work,
                  Build build) {
  enum class State { kWaiting, kWorking, kDone };
  struct Chunk {
    Chunk(pybind11::handle sequence, std::size_t bytes) : texts(sequence, bytes) {}
    TextChunks texts;
    Payload payload;
    State state = State::kWaiting;
    std::exception_ptr error;
  };
  const auto run = [&work](Chunk& chunk) {
    try {
      chunk.texts.Encode(1);  // a chunk is one thread's work
      work(chunk.texts.batch(), chunk.payload);
    } catch (...) {
      chunk.error = std::current_exception();
    }
  };
  if (threads <= 1) {
    Chunk chunk(sequence, chunk_bytes);
    while (chunk.texts.Next()) {
      {
        pybind11::gil_scoped_release unlocked;
        run(chunk);
      }
      if (chunk.error) std::rethrow_exception(chunk.error);
      build(chunk.texts.batch(), chunk.texts.first(), chunk.payload);
      chunk.payload = Payload{};  // free as we go
    }
    return;
  }

  // Chunks are loaded (which reads Python objects) only by the calling thread, under the lock.
  const std::size_t window = 2 * static_cast<std::size_t>(threads);
  std::deque<std::unique_ptr<Chunk>> chunks;  // in batch order; guarded by `mutex`
  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  std::size_t next_text = 0;
  bool exhausted = false;
  const auto load = [&] {
    while (!exhausted && chunks.size() < window) {
      auto chunk = std::make_unique<Chunk>(sequence, chunk_bytes);
      chunk->texts.StartAt(next_text);
      if (!chunk->texts.Next()) {
        exhausted = true;
        break;
      }
      next_text = chunk->texts.end();
      {
        const std::lock_guard<std::mutex> lock(mutex);
        chunks.push_back(std::move(chunk));
      }
      changed.notify_all();
    }
  };
  // The first chunk still waiting, or null; called with `mutex` held.
  const auto waiting = [&]() -> Chunk* {
    for (const auto& chunk : chunks) {
      if (chunk->state == State::kWaiting) return chunk.get();
    }
    return nullptr;
  };
  // Works on `chunk` (taken while waiting, `lock` held), releasing `lock` meanwhile.
  const auto take = [&](Chunk& chunk, std::unique_lock<std::mutex>& lock) {
    chunk.state = State::kWorking;
    lock.unlock();
    run(chunk);
    lock.lock();
    chunk.state = State::kDone;
    changed.notify_all();
  };
  std::vector<std::thread> helpers;
  // Stops and joins the helpers however the loop below ends; they never take the interpreter
  // lock, so joining them with it held cannot deadlock.
  struct Stopper {
    std::mutex& mutex;
    std::condition_variable& changed;
    bool& finished;
    std::vector<std::thread>& helpers;
    ~Stopper() {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        finished = true;
      }
      changed.notify_all();
      for (std::thread& helper : helpers) helper.join();
    }
  } stopper{mutex, changed, finished, helpers};

  load();
  for (int i = 1; i < threads; ++i) {
    helpers.emplace_back([&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        changed.wait(lock, [&] { return finished || waiting() != nullptr; });
        if (finished) return;
        take(*waiting(), lock);
      }
    });
  }
  while (!chunks.empty()) {
    Chunk* front = nullptr;
    {
      pybind11::gil_scoped_release unlocked;
      std::unique_lock<std::mutex> lock(mutex);
      front = chunks.front().get();
      while (front->state != State::kDone) {
        if (Chunk* chunk = waiting()) {
          take(*chunk, lock);
        } else {
          changed.wait(lock, [&] { return front->state == State::kDone || waiting() != nullptr; });
        }
      }
    }
    if (front->error) std::rethrow_exception(front->error);
    build(front->texts.batch(), front->texts.first(), front->payload);
    std::unique_ptr<Chunk> built;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      built = std::move(chunks.front());
      chunks.pop_front();
    }
    built.reset();  // its texts' references are dropped under the interpreter lock
    load();
  }
}

}  // namespace orvel::typing::text::pybind
