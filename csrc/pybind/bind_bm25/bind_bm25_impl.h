#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Registers the class BM25.
PYBIND11_EXPORT void BindBM25Impl(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
