#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Adds to the registered class BM25 what sharing a model across processes needs: read-only
// statistics, merge / += and pickling (copy and deepcopy go through it).
void BindBM25Sharing(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
