#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Adds the batch methods cut_many and cut_for_search_many to the registered class Jieba.
void BindJiebaBatch(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
