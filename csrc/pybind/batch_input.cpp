#include "pybind/batch_input.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "pybind/utf8_str.h"
#include "tokenizer/jieba/parallel_batch.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;

namespace {

std::string TypeName(py::handle object) {
  return Py_TYPE(object.ptr())->tp_name;
}

// A code point c is a lone surrogate when c ^ 0xD800 < 0x800, so the code units are scanned for
// the least c ^ 0xD800, a reduction compilers turn into wide min instructions; a scan that or-ed
// each compare into a flag stayed one code point per step, and took 3 ms of every 9 MB batch
// under the interpreter lock.
template <typename Unit>
bool HoldsSurrogate(const Unit* data, std::size_t length) {
  Unit least = static_cast<Unit>(-1);
  for (std::size_t i = 0; i < length; ++i) least = std::min<Unit>(least, data[i] ^ 0xD800u);
  return least < 0x800;
}

// Lone surrogates are the only str content that has no UTF-8 form; only 2- and 4-byte kinds
// can hold them.
bool HasSurrogate(PyObject* str) {
  const int kind = PyUnicode_KIND(str);
  const auto length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
  if (kind == PyUnicode_2BYTE_KIND) return HoldsSurrogate(PyUnicode_2BYTE_DATA(str), length);
  return kind == PyUnicode_4BYTE_KIND && HoldsSurrogate(PyUnicode_4BYTE_DATA(str), length);
}

// At most the UTF-8 size of a str, from its length and storage kind.
std::size_t StrUtf8BytesAtMost(PyObject* str) {
  const std::size_t length = static_cast<std::size_t>(PyUnicode_GET_LENGTH(str));
  if (PyUnicode_IS_ASCII(str)) return length;
  return Utf8BytesAtMost(static_cast<int>(PyUnicode_KIND(str)), length);
}

// Whether a str's characters are in place (a str made by the deprecated wide-character API of
// older CPythons may not have them yet).
bool HasCharacters(PyObject* str) {
#if PY_VERSION_HEX < 0x030C0000
  return PyUnicode_IS_READY(str);
#else
  (void)str;
  return true;
#endif
}

// The UTF-8 bytes a str with its characters in place already has: an ASCII str's characters,
// or the UTF-8 form CPython keeps with a str once asked for it (by a per-item call, say). Null
// when it has none, or when this CPython's str layout is one we have not checked.
const char* Utf8BytesOf(PyObject* str, Py_ssize_t& length) {
  if (PyUnicode_IS_ASCII(str)) {
    length = PyUnicode_GET_LENGTH(str);
    return static_cast<const char*>(PyUnicode_DATA(str));
  }
#if PY_VERSION_HEX < 0x030E0000
  const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(str);
  if (compact->utf8 != nullptr) {
    length = compact->utf8_length;
    return compact->utf8;
  }
#endif
  return nullptr;
}

}  // namespace

int ThreadsArgument(py::handle threads) {
  if (threads.is_none()) return 0;
  if (!PyLong_Check(threads.ptr())) {
    throw py::type_error("threads must be an int or None, not " + TypeName(threads));
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(threads.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && value < 0)) {
    throw py::value_error("threads must be >= 0 (0 or None: every usable core)");
  }
  return overflow > 0 || value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

py::object BatchSequence(py::handle batch, const char* name) {
  if (PyUnicode_Check(batch.ptr()) || PyBytes_Check(batch.ptr()) ||
      PyByteArray_Check(batch.ptr())) {
    throw py::type_error(std::string(name) + " must be a list of items, not a single " +
                         TypeName(batch));
  }
  // A tuple of the items: the batch is worked on while the lock is released, when another
  // thread could change a list. Only the item pointers are copied; a tuple is taken as it is.
  PyObject* fast = PySequence_Tuple(batch.ptr());
  if (!fast) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + " must be a sequence, not " + TypeName(batch));
  }
  return py::reinterpret_steal<py::object>(fast);
}

std::size_t CheckTexts(py::handle sequence, const char* name) {
  const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence.ptr());
  PyObject** items = PySequence_Fast_ITEMS(sequence.ptr());
  std::size_t bytes = 0;
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = items[i];
    if (PyUnicode_Check(item)) {
      if (!HasSurrogate(item)) {
        bytes += StrUtf8BytesAtMost(item);
        continue;
      }
      throw py::type_error(std::string(name) + "[" + std::to_string(i) +
                           "]: str holds a lone surrogate, which has no UTF-8 form");
    }
    if (PyBytes_Check(item)) {
      bytes += static_cast<std::size_t>(PyBytes_GET_SIZE(item));
      continue;
    }
    if (PyByteArray_Check(item)) {
      bytes += static_cast<std::size_t>(PyByteArray_GET_SIZE(item));
      continue;
    }
    throw py::type_error(std::string(name) + "[" + std::to_string(i) +
                         "]: expected str or bytes, not " + TypeName(item));
  }
  return bytes;
}

std::size_t ChunkBytes(std::size_t batch_bytes, std::size_t largest, int threads) {
  // Four chunks per thread let the threads finish close together; a chunk below 16 KB costs
  // more in hand-offs between threads than sharing it gains.
  constexpr std::size_t kChunksPerThread = 4;
  constexpr std::size_t kSmallest = 16 << 10;
  if (threads <= 1) return largest;
  const std::size_t even = batch_bytes / (kChunksPerThread * static_cast<std::size_t>(threads));
  return std::max(kSmallest, std::min(largest, even));
}

TextChunks::TextChunks(py::handle sequence, std::size_t chunk_bytes)
    : sequence_(py::reinterpret_borrow<py::object>(sequence)),
      size_(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(sequence.ptr()))),
      chunk_bytes_(chunk_bytes) {}

bool TextChunks::Next() {
  batch_.texts.clear();
  batch_.unchecked.clear();
  copies_.clear();
  pending_.clear();
  utf8_.reset();
  first_ = next_;
  if (next_ >= size_) return false;
  // The sequence is a tuple (BatchSequence), so its items stay as CheckTexts saw them, and it
  // keeps them alive: only the copies made here need a reference of their own.
  PyObject** items = PySequence_Fast_ITEMS(sequence_.ptr());
  std::size_t bytes = 0;
  while (next_ < size_ && (bytes < chunk_bytes_ || batch_.texts.empty())) {
    PyObject* item = items[next_++];
    const char* data = nullptr;
    Py_ssize_t length = 0;
    bool unchecked = false;
    if (PyUnicode_Check(item)) {
      if (!HasCharacters(item)) {
        data = PyUnicode_AsUTF8AndSize(item, &length);
        if (!data) throw py::error_already_set();
      } else if ((data = Utf8BytesOf(item, length)) == nullptr) {
        // Encoded by Encode(), its view filled in then; its size counts at its upper bound,
        // which it is for Chinese.
        pending_.push_back({batch_.texts.size(), static_cast<int>(PyUnicode_KIND(item)),
                            PyUnicode_DATA(item),
                            static_cast<std::size_t>(PyUnicode_GET_LENGTH(item)), 0});
        length = static_cast<Py_ssize_t>(StrUtf8BytesAtMost(item));
      }
    } else if (PyBytes_Check(item)) {
      data = PyBytes_AS_STRING(item);
      length = PyBytes_GET_SIZE(item);
      unchecked = true;
    } else {
      // A bytearray may change size while the lock is released: work on an immutable copy.
      auto copy = py::reinterpret_steal<py::object>(
          PyBytes_FromStringAndSize(PyByteArray_AS_STRING(item), PyByteArray_GET_SIZE(item)));
      if (!copy) throw py::error_already_set();
      data = PyBytes_AS_STRING(copy.ptr());
      length = PyBytes_GET_SIZE(copy.ptr());
      unchecked = true;
      copies_.push_back(std::move(copy));
    }
    batch_.texts.emplace_back(data, data ? static_cast<std::size_t>(length) : 0);
    batch_.unchecked.push_back(unchecked);
    bytes += static_cast<std::size_t>(length);
  }
  return true;
}

void TextChunks::Encode(int threads) {
  if (pending_.empty()) return;
  std::size_t total = 0;
  for (Pending& text : pending_) {
    text.offset = total;
    // One byte more than the text can take: EncodeUtf8 may write a byte past its result, which
    // must not land in the next text's place, perhaps written already by another thread.
    total += Utf8BytesAtMost(text.width, text.length) + 1;
  }
  // Not cleared: every byte read is written first. A batch's megabytes of fresh memory would
  // fault in page by page as the threads write them, which took most of encoding's time; in
  // huge pages they take a few faults.
  utf8_ = {tokenizer::jieba::HugePageAllocator<char>().allocate(total), FreeUtf8{total}};
  // Encoding runs at about a gigabyte a second: below a megabyte, starting a thread would cost
  // about as much as it saves.
  constexpr std::size_t kParallelBytes = std::size_t{1} << 20;
  if (total < kParallelBytes) threads = 1;
  tokenizer::jieba::ForEachIndexInParallel(pending_.size(), threads, [&](std::size_t i, int) {
    const Pending& text = pending_[i];
    char* out = utf8_.get() + text.offset;
    batch_.texts[text.index] = {out, EncodeUtf8(text.width, text.data, text.length, out)};
  });
  pending_.clear();
}

}  // namespace orvel::typing::text::pybind
