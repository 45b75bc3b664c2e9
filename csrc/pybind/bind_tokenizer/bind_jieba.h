#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Registers the class Jieba.
PYBIND11_EXPORT void BindJieba(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
