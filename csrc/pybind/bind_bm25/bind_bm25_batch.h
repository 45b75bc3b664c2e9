#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Adds the batch methods train_many, encode_documents and encode_queries to the registered
// class BM25.
void BindBM25Batch(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
