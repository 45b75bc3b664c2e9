#include "pybind/bind_tokenizer.h"

#include "pybind/bind_tokenizer/bind_jieba.h"
#include "pybind/bind_tokenizer/bind_jieba_batch.h"
#include "pybind/bind_tokenizer/bind_jieba_sharing.h"

namespace orvel::typing::text::pybind {

void BindTokenizder(pybind11::module_& m) {
  BindJieba(m);
  BindJiebaBatch(m);
  BindJiebaSharing(m);
}

}  // namespace orvel::typing::text::pybind
