#include "pybind/bind_tokenizer/bind_jieba.h"

namespace orvel::typing::text::pybind {

// The segmentation engine is registered here once it lands.
void BindJieba(pybind11::module_&) {}

}  // namespace orvel::typing::text::pybind
