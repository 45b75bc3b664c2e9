#include "pybind/bind_tokenizer/bind_jieba_sharing.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pybind/constructed_self.h"
#include "tokenizer/jieba/jieba.h"

namespace orvel::typing::text::pybind {

namespace py = pybind11;
using tokenizer::jieba::Jieba;

namespace {

using tokenizer::jieba::DictionaryChange;

// Version of the pickled state. Version 1 is (1, dict, hmm, user_dict, idf, stop_words) with
// each path as bytes; version 2 appends the run-time word changes in the order they were made,
// each (op, word, freq, tag) with op 0 for an insertion and 1 for a deletion, so that a worker
// replays them onto the engine it builds from the files. Both are read.
constexpr int kStateVersion = 2;

py::list ChangesToList(const std::vector<DictionaryChange>& changes) {
  py::list list;
  for (const DictionaryChange& change : changes) {
    const int op = change.op == DictionaryChange::Op::kAdd ? 0 : 1;
    py::object freq = change.frequency ? py::object(py::int_(*change.frequency)) : py::none();
    list.append(py::make_tuple(op, py::bytes(change.word), freq, py::bytes(change.tag)));
  }
  return list;
}

std::vector<DictionaryChange> ChangesFromList(const py::list& list) {
  std::vector<DictionaryChange> changes;
  for (py::handle item : list) {
    const auto fields = item.cast<py::tuple>();
    if (fields.size() != 4) throw py::value_error("unsupported Jieba pickle state");
    DictionaryChange change;
    change.op =
        fields[0].cast<int>() == 0 ? DictionaryChange::Op::kAdd : DictionaryChange::Op::kDelete;
    change.word = fields[1].cast<std::string>();
    if (!fields[2].is_none()) change.frequency = fields[2].cast<std::int32_t>();
    change.tag = fields[3].cast<std::string>();
    changes.push_back(std::move(change));
  }
  return changes;
}

}  // namespace

void BindJiebaSharing(py::module_& m) {
  using Self = ConstructedSelf<Jieba>;
  auto cls = py::reinterpret_borrow<py::class_<Jieba, std::shared_ptr<Jieba>>>(m.attr("Jieba"));

  // The state is the five paths and the run-time changes, not the loaded data: a few hundred
  // bytes against about 20 MB, and building from the files on the worker costs what building
  // from shipped data would. Paths travel as bytes so any path round-trips; a worker missing a
  // file raises the constructor's own FileNotFoundError naming it.
  cls.def(py::pickle(
      [](Self self) {
        const Jieba::DataPaths& paths = (*self).data_paths();
        return py::make_tuple(kStateVersion, py::bytes(paths.dict), py::bytes(paths.hmm),
                              py::bytes(paths.user_dict), py::bytes(paths.idf),
                              py::bytes(paths.stop_words), ChangesToList((*self).Changes()));
      },
      [](const py::tuple& state) {
        const bool v1 =
            state.size() == 6 && py::isinstance<py::int_>(state[0]) && state[0].cast<int>() == 1;
        const bool v2 = state.size() == 7 && py::isinstance<py::int_>(state[0]) &&
                        state[0].cast<int>() == 2 && py::isinstance<py::list>(state[6]);
        if (!v1 && !v2) throw py::value_error("unsupported Jieba pickle state");
        std::vector<DictionaryChange> changes;
        if (v2) changes = ChangesFromList(state[6].cast<py::list>());
        auto jieba =
            std::make_shared<Jieba>(state[1].cast<std::string>(), state[2].cast<std::string>(),
                                    state[3].cast<std::string>(), state[4].cast<std::string>(),
                                    state[5].cast<std::string>());
        if (!changes.empty()) jieba->ApplyChanges(changes);
        return jieba;
      }));
  // Run-time words make a Jieba changeable, so a copy is a separate object; it shares the
  // immutable loaded data with the original (no files read), and a deep copy may as well.
  const auto copy = [](Self self) { return std::make_shared<Jieba>(*self); };
  cls.def("__copy__", copy);
  cls.def(
      "__deepcopy__", [copy](Self self, py::handle) { return copy(self); }, py::arg("memo"));
}

}  // namespace orvel::typing::text::pybind
