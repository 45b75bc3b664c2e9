#include "pybind/bind_bm25.h"

#include "pybind/bind_bm25/bind_bm25_batch.h"
#include "pybind/bind_bm25/bind_bm25_impl.h"
#include "pybind/bind_bm25/bind_bm25_sharing.h"

namespace orvel::typing::text::pybind {

void BindBM25(pybind11::module_& m) {
  BindBM25Impl(m);
  BindBM25Batch(m);
  BindBM25Sharing(m);
}

}  // namespace orvel::typing::text::pybind
