#include "pybind/bind_bm25/bind_bm25_impl.h"

#include <pybind11/stl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pybind/constructed_self.h"
#include "search/bm25/bm25.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;

void BindBM25Impl(py::module_& m) {
  using Strings = std::vector<std::string>;
  using Integers = std::vector<long long>;

  // Overloads are tried in registration order, string form first: an empty list therefore
  // always reaches the string form.
  py::class_<BM25, std::shared_ptr<BM25>>(m, "BM25")
      .def(py::init<double, double>(), py::arg("b") = 0.75, py::arg("k1") = 1.2)
      .def("train", OnConstructed(py::overload_cast<const Strings&>(&BM25::train)))
      .def("train", OnConstructed(py::overload_cast<const Integers&>(&BM25::train)))
      .def("load", OnConstructed(&BM25::load))
      .def("dump", OnConstructed(&BM25::dump))
      .def("encode_document",
           OnConstructed(py::overload_cast<const Strings&>(&BM25::encode_document)))
      .def("encode_document",
           OnConstructed(py::overload_cast<const Integers&>(&BM25::encode_document)))
      .def("encode_query", OnConstructed(py::overload_cast<const Strings&>(&BM25::encode_query)))
      .def("encode_query", OnConstructed(py::overload_cast<const Integers&>(&BM25::encode_query)));
}

}  // namespace orvel::typing::text::pybind
