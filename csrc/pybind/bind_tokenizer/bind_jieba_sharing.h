#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// Adds pickling and copying to the registered class Jieba, so that it can be sent to worker
// processes (multiprocessing, Dask, Spark, Ray).
void BindJiebaSharing(pybind11::module_& m);

}  // namespace orvel::typing::text::pybind
