#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Registers the tokenizer classes. (The name is part of the module's exported surface.)
PYBIND11_EXPORT void BindTokenizder(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
