#include "pybind/bind_tokenizer/bind_jieba_sharing.h"

#include <memory>
#include <string>

#include "pybind/constructed_self.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::Jieba;

namespace {

// Version of the pickled state. Version 1 is (1, dict, hmm, user_dict, idf, stop_words) with
// each path as bytes; later versions append fields and keep reading the earlier ones.
constexpr int kStateVersion = 1;
constexpr std::size_t kStateFields = 6;

}  // namespace

void BindJiebaSharing(py::module_& m) {
  using Self = ConstructedSelf<Jieba>;
  auto cls = py::reinterpret_borrow<py::class_<Jieba, std::shared_ptr<Jieba>>>(m.attr("Jieba"));

  // The state is the five paths, not the loaded data: a few hundred bytes against about
  // 20 MB, and building from the files on the worker costs what building from shipped data
  // would. Paths travel as bytes so any path round-trips; a worker missing a file raises the
  // constructor's own FileNotFoundError naming it.
  cls.def(py::pickle(
      [](Self self) {
        const Jieba::DataPaths& paths = (*self).data_paths();
        return py::make_tuple(kStateVersion, py::bytes(paths.dict), py::bytes(paths.hmm),
                              py::bytes(paths.user_dict), py::bytes(paths.idf),
                              py::bytes(paths.stop_words));
      },
      [](const py::tuple& state) {
        if (state.size() != kStateFields || !py::isinstance<py::int_>(state[0]) ||
            state[0].cast<int>() != kStateVersion) {
          throw py::value_error("unsupported Jieba pickle state");
        }
        return std::make_shared<Jieba>(state[1].cast<std::string>(), state[2].cast<std::string>(),
                                       state[3].cast<std::string>(), state[4].cast<std::string>(),
                                       state[5].cast<std::string>());
      }));
  // The engine never changes after construction, so a shallow copy is the object itself, as
  // for a tuple. A deep copy goes through the pickled state and builds a separate engine.
  cls.def("__copy__", [](py::object self) { return self; });
}

}  // namespace orvel::typing::text::pybind
