// Entry point of the extension module: the interpreter looks up PyInit_pyorveltext.
#include <pybind11/pybind11.h>

#include "pybind/bind_bm25.h"
#include "pybind/bind_tokenizer.h"

namespace orvel::typing::pybind {

// The module definition record; pybind11 fills it when it creates the module.
static ::pybind11::module_::module_def pyorveltext_module_def;

}  // namespace orvel::typing::pybind

extern "C" PYBIND11_EXPORT PyObject* PyInit_pyorveltext() {
  // Refuses any interpreter but the release this file was compiled for: the version string must
  // start with that release ("3.12") and go on with no further digit ("3.120" is refused). The
  // message is pybind11's version mismatch, naming the compiled release.
  PYBIND11_CHECK_PYTHON_VERSION
  PYBIND11_ENSURE_INTERNALS_READY
  auto m = ::pybind11::module_::create_extension_module(
      "pyorveltext", nullptr, &orvel::typing::pybind::pyorveltext_module_def);
  try {
    orvel::typing::text::pybind::BindBM25(m);
    orvel::typing::text::pybind::BindTokenizder(m);
    return m.ptr();
  }
  PYBIND11_CATCH_INIT_EXCEPTIONS
}
