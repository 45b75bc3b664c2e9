#include "pybind/bind_bm25/bind_bm25_sharing.h"

#include <memory>
#include <string_view>

#include "pybind/constructed_self.h"
#include "search/bm25/bm25.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;

void BindBM25Sharing(py::module_& m) {
  using Self = ConstructedSelf<BM25>;
  auto cls = py::reinterpret_borrow<py::class_<BM25, std::shared_ptr<BM25>>>(m.attr("BM25"));

  cls.def_property_readonly(
         "b", [](Self self) { return (*self).b(); }, "The length-normalisation parameter b.")
      .def_property_readonly(
          "k1", [](Self self) { return (*self).k1(); }, "The term-frequency saturation k1.")
      .def_property_readonly(
          "doc_count", [](Self self) { return (*self).doc_count(); },
          "Number of documents trained, merged or loaded.")
      .def_property_readonly(
          "doc_length_average", [](Self self) { return (*self).doc_length_average(); },
          "Average document length in tokens, as encode_document uses it.")
      .def_property_readonly(
          "vocabulary_size", [](Self self) { return (*self).doc_token_frequency().size(); },
          "Number of distinct tokens the model counts.");

  cls.def(
      "merge", [](Self self, Self other) { (*self).merge(*other); }, py::arg("other"),
      "Adds the counts of another BM25 model into this one: documents, the document-length\n"
      "total and every token's occurrences (64-bit, saturating as training does). Models\n"
      "trained on the shards of a corpus merge, in any order or grouping, into exactly the\n"
      "model trained on the whole corpus. Raises ValueError, changing nothing, when b or k1\n"
      "differ. `model += other` does the same.");
  // is_operator makes a right-hand side that is not a BM25 give NotImplemented, so Python
  // raises its usual "unsupported operand" TypeError.
  cls.def(
      "__iadd__",
      [](Self self, Self other) -> BM25& {
        (*self).merge(*other);
        return *self;
      },
      py::is_operator(), py::return_value_policy::reference);

  // The state is the model's own compact byte form: exact counts, the exact running
  // document-length total and the average bit for bit, which the JSON model file rounds.
  cls.def(py::pickle([](Self self) { return py::bytes((*self).state()); },
                     [](const py::bytes& state) {
                       return std::make_shared<BM25>(
                           BM25::from_state(static_cast<std::string_view>(state)));
                     }));
  // A model holds no references to other objects, so a shallow and a deep copy are the same
  // independent model; copying its tables directly costs a tenth of going through the state.
  const auto copy = [](Self self) { return std::make_shared<BM25>(*self); };
  cls.def("__copy__", copy, "An equal, independent model (its tables copied).");
  cls.def(
      "__deepcopy__", [copy](Self self, py::handle) { return copy(self); }, py::arg("memo"),
      "The same as __copy__: a model refers to no other object.");
}

}  // namespace orvel::typing::text::pybind
