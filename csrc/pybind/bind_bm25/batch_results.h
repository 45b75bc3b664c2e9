#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pybind/object_cache.h"
#include "search/bm25/batch_terms.h"

namespace orvel::typing::text::pybind {

// The `output=` forms of the batch encoders.
enum class BatchOutput { kDict, kSparse, kCsr };

// "dict", "sparse" or "csr"; ValueError otherwise. For "csr", ImportError naming scipy when it
// cannot be imported, before any work.
BatchOutput ParseBatchOutput(const std::string& output);

// Gathers one result per item, in item order, in the chosen output form.
class BatchResults {
 public:
  BatchResults(BatchOutput output, std::size_t items);

  // The next item: its counted terms and their weights (in term order).
  void Add(const ItemTerms& item, const std::vector<double>& weights);

  // The next rows [0, end) of document vectors by id ("sparse" or "csr" only).
  void AddRows(const SparseRows& rows, std::size_t end);

  // A list of dicts (token -> weight, in key order), a list of {"indices", "values"} dicts,
  // or one scipy.sparse.csr_array of shape (items, 2**32).
  pybind11::object Finish();

 private:
  BatchOutput output_;
  std::size_t items_;
  pybind11::list list_;
  std::size_t next_ = 0;
  // Interned, as the literals a caller looks them up with are: a lookup then matches by
  // identity.
  pybind11::object indices_key_;
  pybind11::object values_key_;
  std::vector<std::pair<std::uint32_t, double>> entries_;
  // Result objects shared across items, as equal words share one str in cut_many.
  WordStrCache keys_;
  IdIntCache ids_;
  // The "sparse" results' containers, left out of the cycle collector until Finish (see
  // AddRows): whether the outer list is, and the others (borrowed: the results hold them).
  bool untracked_ = false;
  std::vector<PyObject*> untracked_items_;
  // "csr": the arrays scipy takes, filled as items come.
  std::vector<double> data_;
  std::vector<std::int64_t> columns_;
  std::vector<std::int64_t> row_starts_{0};
};

}  // namespace orvel::typing::text::pybind
