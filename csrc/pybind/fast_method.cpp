#include "pybind/fast_method.h"

#include <memory>
#include <string>
#include <vector>

namespace orvel::typing::text::pybind {

namespace py = pybind11;

namespace {

// Everything one fast method needs, owned by the capsule that is the function's `self`, so the
// method carries its own state and the module keeps none.
struct FastMethod {
  PyMethodDef definition{};
  std::string name;
  std::string doc;
  std::vector<std::string> parameters;
  PyTypeObject* type = nullptr;  // the bound class; instances of subclasses are declined
  PyObject* fallback = nullptr;  // pybind11's function, a strong reference
  FastMethodBody body = nullptr;
};

void DestroyFastMethod(PyObject* capsule) {
  auto* method = static_cast<FastMethod*>(PyCapsule_GetPointer(capsule, nullptr));
  Py_XDECREF(method->fallback);
  delete method;
}

// The native object of `self` when it is a constructed instance of exactly `type`, else null.
void* ConstructedObject(PyObject* self, PyTypeObject* type) {
  if (Py_TYPE(self) != type) return nullptr;
  auto* instance = reinterpret_cast<py::detail::instance*>(self);
  if (!instance->simple_layout || !instance->simple_holder_constructed) return nullptr;
  return instance->simple_value_holder[0];
}

// Places keyword arguments into `slots` by parameter name; false for an unknown name or one
// already given by position, which pybind11 reports.
bool PlaceKeywords(const FastMethod& method, PyObject* const* values, PyObject* names,
                   std::size_t positional, PyObject** slots) {
  const Py_ssize_t count = PyTuple_GET_SIZE(names);
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* name = PyTuple_GET_ITEM(names, k);
    std::size_t index = 0;
    while (index < method.parameters.size() &&
           PyUnicode_CompareWithASCIIString(name, method.parameters[index].c_str()) != 0) {
      ++index;
    }
    if (index == method.parameters.size() || index < positional || slots[index] != nullptr) {
      return false;
    }
    slots[index] = values[k];
  }
  return true;
}

// Runs the body, translating C++ exceptions the way pybind11's dispatcher does.
PyObject* RunBody(const FastMethod& method, void* self, PyObject* const* slots) {
  try {
    return method.body(self, slots);
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (...) {
    if (!py::detail::apply_exception_translators(
            py::detail::get_local_internals().registered_exception_translators) &&
        !py::detail::apply_exception_translators(
            py::detail::get_internals().registered_exception_translators)) {
      PyErr_SetString(PyExc_SystemError, "Exception escaped from default exception translator!");
    }
  }
  return nullptr;
}

// Calls pybind11's function with the call's arguments. Through a tuple and a dict, as pybind11
// takes them anyway: PyObject_Vectorcall is an exported function only from Python 3.11 on, and
// a module built for 3.11 that referred to it would fail to load into an older interpreter with
// an undefined symbol, before the version check that names the mismatch.
PyObject* CallFallback(PyObject* fallback, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  PyObject* positional = PyTuple_New(nargs);
  if (positional == nullptr) return nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    Py_INCREF(args[i]);
    PyTuple_SET_ITEM(positional, i, args[i]);
  }
  PyObject* keywords = nullptr;
  const Py_ssize_t keyword_count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (keyword_count > 0) {
    keywords = PyDict_New();
    for (Py_ssize_t k = 0; keywords != nullptr && k < keyword_count; ++k) {
      if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) != 0) {
        Py_CLEAR(keywords);
      }
    }
    if (keywords == nullptr) {
      Py_DECREF(positional);
      return nullptr;
    }
  }
  PyObject* result = PyObject_Call(fallback, positional, keywords);
  Py_DECREF(positional);
  Py_XDECREF(keywords);
  return result;
}

PyObject* CallFastMethod(PyObject* capsule, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  const auto& method = *static_cast<const FastMethod*>(PyCapsule_GetPointer(capsule, nullptr));
  const std::size_t keywords = kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0;
  if (nargs >= 1 && static_cast<std::size_t>(nargs) - 1 + keywords <= method.parameters.size()) {
    void* self = ConstructedObject(args[0], method.type);
    PyObject* slots[kFastMethodMaxArguments] = {};
    const auto positional = static_cast<std::size_t>(nargs) - 1;
    for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i + 1];
    if (self != nullptr &&
        (keywords == 0 || PlaceKeywords(method, args + nargs, kwnames, positional, slots))) {
      PyObject* result = RunBody(method, self, slots);
      if (result != nullptr || PyErr_Occurred()) return result;
    }
  }
  return CallFallback(method.fallback, args, nargs, kwnames);
}

}  // namespace

void AddFastPath(py::handle cls, const char* name, std::initializer_list<const char*> parameters,
                 FastMethodBody body) {
  if (parameters.size() > kFastMethodMaxArguments) {
    py::pybind11_fail("AddFastPath: too many parameters");
  }
  // pybind11 stores a method as its function wrapped in an instance method.
  py::object bound = cls.attr("__dict__")[name];
  if (!PyInstanceMethod_Check(bound.ptr())) py::pybind11_fail("AddFastPath: not a bound method");
  py::object fallback =
      py::reinterpret_borrow<py::object>(PyInstanceMethod_GET_FUNCTION(bound.ptr()));

  auto method = std::make_unique<FastMethod>();
  method->name = name;
  method->doc = py::str(fallback.attr("__doc__"));
  for (const char* parameter : parameters) method->parameters.emplace_back(parameter);
  method->type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  method->body = body;
  method->definition.ml_name = method->name.c_str();
  method->definition.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
      static_cast<PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>(
          CallFastMethod)));
  method->definition.ml_flags = METH_FASTCALL | METH_KEYWORDS;
  method->definition.ml_doc = method->doc.c_str();

  // The capsule owns the FastMethod from here; the PyMethodDef inside it must outlive the
  // function, which the function's reference to the capsule guarantees.
  FastMethod* raw = method.get();
  py::object owner =
      py::reinterpret_steal<py::object>(PyCapsule_New(raw, nullptr, DestroyFastMethod));
  if (!owner) throw py::error_already_set();
  method.release();
  const py::object module = fallback.attr("__module__");
  raw->fallback = fallback.release().ptr();
  py::object function = py::reinterpret_steal<py::object>(
      PyCFunction_NewEx(&raw->definition, owner.ptr(), module.ptr()));
  if (!function) throw py::error_already_set();
  py::object wrapped = py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
  if (!wrapped) throw py::error_already_set();
  if (PyObject_SetAttrString(cls.ptr(), name, wrapped.ptr()) != 0) throw py::error_already_set();
}

bool TextArgument(PyObject* argument, std::string_view& bytes, bool& is_str) {
  if (argument == nullptr) return false;
  if (PyUnicode_CheckExact(argument)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(argument, &size);
    if (data == nullptr) {
      PyErr_Clear();
      return false;
    }
    bytes = std::string_view(data, static_cast<std::size_t>(size));
    is_str = true;
    return true;
  }
  if (PyBytes_CheckExact(argument)) {
    bytes = std::string_view(PyBytes_AS_STRING(argument),
                             static_cast<std::size_t>(PyBytes_GET_SIZE(argument)));
    is_str = false;
    return true;
  }
  return false;
}

bool BoolArgument(PyObject* argument, bool fallback, bool& value) {
  if (argument == nullptr) {
    value = fallback;
  } else if (argument == Py_True || argument == Py_False) {
    value = argument == Py_True;
  } else {
    return false;
  }
  return true;
}

}  // namespace orvel::typing::text::pybind
