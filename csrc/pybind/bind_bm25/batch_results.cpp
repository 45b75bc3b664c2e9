#include "pybind/bind_bm25/batch_results.h"

#include <pybind11/numpy.h>

#include <cstring>
#include <memory>

#include "pybind/deferred_tracking.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;

namespace {

// How many ids ahead of its lookup an id's slot in the int table is asked for.
constexpr std::size_t kIdsAhead = 8;

// Hands a filled vector to numpy without copying it: the array owns the vector.
template <typename T>
py::array_t<T> ToArray(std::vector<T>& values) {
  auto* owned = new std::vector<T>(std::move(values));
  py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
  const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(owned->size())};
  const std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(sizeof(T))};
  return py::array_t<T>(shape, strides, owned->data(), owner);
}

py::object Steal(PyObject* object) {
  if (!object) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(object);
}

// The key encode_document / encode_query return for a term: str decoded strictly (a token
// that is not UTF-8 raises UnicodeDecodeError as there), or int.
py::object TermKey(const ItemTerms& item, const TermCount& term, WordStrCache& strs) {
  if (item.integer) return Steal(PyLong_FromLongLong(term.integer));
  // An exact str the caller passed is the key encode_document would build: same text.
  if (term.origin)
    return py::reinterpret_borrow<py::object>(
        static_cast<PyObject*>(const_cast<void*>(term.origin)));
  return Steal(strs.Get(term.token, WordHash(term.token)));
}

// One float per distinct weight of an item: a document's terms that occur equally often
// weigh the same, and most occur once. Compared bit for bit, so the value is never changed.
class ItemFloats {
 public:
  py::object Get(double value) {
    for (const auto& [bits, object] : floats_) {
      if (std::memcmp(&bits, &value, sizeof value) == 0) return object;
    }
    py::object object = Steal(PyFloat_FromDouble(value));
    if (floats_.size() < kKept) floats_.emplace_back(value, object);
    return object;
  }

 private:
  static constexpr std::size_t kKept = 8;  // a linear scan stays cheaper than allocating
  std::vector<std::pair<double, py::object>> floats_;
};

}  // namespace

BatchOutput ParseBatchOutput(const std::string& output) {
  if (output == "dict") return BatchOutput::kDict;
  if (output == "sparse") return BatchOutput::kSparse;
  if (output == "csr") {
    try {
      py::module_::import("scipy.sparse");
      py::module_::import("numpy");
    } catch (py::error_already_set& e) {
      if (!e.matches(PyExc_ImportError)) throw;
      throw py::import_error(
          "output='csr' needs scipy (and numpy), which cannot be imported: pip install scipy");
    }
    return BatchOutput::kCsr;
  }
  throw py::value_error("output must be 'dict', 'sparse' or 'csr', not '" + output + "'");
}

BatchResults::BatchResults(BatchOutput output, std::size_t items)
    : output_(output),
      items_(items),
      list_(output == BatchOutput::kCsr ? 0 : items),
      indices_key_(Steal(PyUnicode_InternFromString("indices"))),
      values_key_(Steal(PyUnicode_InternFromString("values"))) {}

void BatchResults::Add(const ItemTerms& item, const std::vector<double>& weights) {
  ItemFloats floats;
  if (output_ == BatchOutput::kDict) {
    py::dict result;
    for (std::size_t i = 0; i < item.terms.size(); ++i) {
      if (PyDict_SetItem(result.ptr(), TermKey(item, item.terms[i], keys_).ptr(),
                         floats.Get(weights[i]).ptr()) != 0) {
        throw py::error_already_set();
      }
    }
    PyList_SET_ITEM(list_.ptr(), static_cast<Py_ssize_t>(next_++), result.release().ptr());
    return;
  }
  SparseEntries(item, weights, entries_);
  if (output_ == BatchOutput::kCsr) {
    for (const auto& [id, weight] : entries_) {
      columns_.push_back(id);
      data_.push_back(weight);
    }
    row_starts_.push_back(static_cast<std::int64_t>(data_.size()));
    return;
  }
  py::list indices(entries_.size());
  py::list values(entries_.size());
  // The ids are known in advance: the int table is asked for a slot a few ids ahead.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i + kIdsAhead < entries_.size()) ids_.Prefetch(entries_[i + kIdsAhead].first);
    PyList_SET_ITEM(indices.ptr(), static_cast<Py_ssize_t>(i),
                    Steal(ids_.Get(entries_[i].first)).release().ptr());
    PyList_SET_ITEM(values.ptr(), static_cast<Py_ssize_t>(i),
                    floats.Get(entries_[i].second).release().ptr());
  }
  py::dict result;
  result[indices_key_] = std::move(indices);
  result[values_key_] = std::move(values);
  PyList_SET_ITEM(list_.ptr(), static_cast<Py_ssize_t>(next_++), result.release().ptr());
}

void BatchResults::AddRows(const SparseRows& rows, std::size_t end) {
  if (output_ == BatchOutput::kCsr) {
    const std::size_t entries = rows.starts[end];
    columns_.insert(columns_.end(), rows.ids.begin(), rows.ids.begin() + entries);
    data_.insert(data_.end(), rows.values.begin(), rows.values.begin() + entries);
    for (std::size_t row = 1; row <= end; ++row) {
      row_starts_.push_back(row_starts_.back() +
                            static_cast<std::int64_t>(rows.starts[row] - rows.starts[row - 1]));
    }
    return;
  }
  // Each document is three new containers: they and the outer list stay untracked until Finish
  // (deferred_tracking.h).
  if (!untracked_) {
    PyObject_GC_UnTrack(list_.ptr());
    untracked_ = true;
  }
  const std::size_t entries = rows.starts[end];
  for (std::size_t row = 0; row < end; ++row) {
    const std::size_t begin = rows.starts[row];
    const std::size_t size = rows.starts[row + 1] - begin;
    py::object indices = Steal(NewUntrackedList(size));
    py::object values = Steal(NewUntrackedList(size));
    for (std::size_t k = 0; k < size; ++k) {
      const std::size_t i = begin + k;
      // Rows are short, so the int table is asked a few ids ahead across rows.
      if (i + kIdsAhead < entries) ids_.Prefetch(rows.ids[i + kIdsAhead]);
      const auto at = static_cast<Py_ssize_t>(k);
      PyList_SET_ITEM(indices.ptr(), at, Steal(ids_.Get(rows.ids[i])).release().ptr());
      PyObject* value = nullptr;
      if (rows.same_value[i] != k) {  // an equal weight earlier in the row
        value = PyList_GET_ITEM(values.ptr(), static_cast<Py_ssize_t>(rows.same_value[i]));
        Py_INCREF(value);
      } else {
        value = Steal(PyFloat_FromDouble(rows.values[i])).release().ptr();
      }
      PyList_SET_ITEM(values.ptr(), at, value);
    }
    py::object result = Steal(PyDict_New());
    if (PyDict_SetItem(result.ptr(), indices_key_.ptr(), indices.ptr()) != 0 ||
        PyDict_SetItem(result.ptr(), values_key_.ptr(), values.ptr()) != 0) {
      throw py::error_already_set();
    }
    PyObject_GC_UnTrack(result.ptr());  // holding lists made the dict tracked
    untracked_items_.insert(untracked_items_.end(), {indices.ptr(), values.ptr(), result.ptr()});
    PyList_SET_ITEM(list_.ptr(), static_cast<Py_ssize_t>(next_++), result.release().ptr());
  }
}

py::object BatchResults::Finish() {
  if (untracked_) {
    for (PyObject* container : untracked_items_) TrackAgain(container);
    TrackAgain(list_.ptr());
  }
  if (output_ != BatchOutput::kCsr) return std::move(list_);
  py::object csr_array = py::module_::import("scipy.sparse").attr("csr_array");
  // Ids go up to 2**32 - 1, so the index arrays are 64-bit.
  const py::tuple parts = py::make_tuple(ToArray(data_), ToArray(columns_), ToArray(row_starts_));
  const py::tuple shape = py::make_tuple(items_, std::uint64_t{1} << 32);
  return csr_array(parts, py::arg("shape") = shape);
}

}  // namespace orvel::typing::text::pybind
