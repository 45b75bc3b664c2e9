#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Registers the BM25 family of classes.
PYBIND11_EXPORT void BindBM25(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
