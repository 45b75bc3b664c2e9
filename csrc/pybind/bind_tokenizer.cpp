#include "pybind/bind_tokenizer.h"

#include "pybind/bind_tokenizer/bind_jieba.h"

namespace orvel::typing::text::pybind {

void BindTokenizder(pybind11::module_& m) {
  BindJieba(m);
}

}  // namespace orvel::typing::text::pybind
