#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace orvel::typing::text::pybind {

// The most arguments after self that a fast method takes.
inline constexpr std::size_t kFastMethodMaxArguments = 4;

// The body of a fast method. `self` is the native object of a constructed instance of exactly
// the bound class; `args` holds one entry per parameter after self, in declaration order, null
// for a parameter the call left to its default. Returns a new reference; or null with a Python
// error set; or null with no error set to decline the call, which then goes to pybind11's own
// function exactly as if there were no fast method. A body may throw C++ exceptions: they are
// translated as pybind11 would translate them.
using FastMethodBody = PyObject* (*)(void* self, PyObject* const* args);

// Gives the already bound method `name` of `cls` a fast path for the calls it is mostly made
// with: arguments of the exact types a body accepts, by position or by parameter name.
//
// A per-call method such as cut(sentence), called once per short line, spent about a fifth of
// the call in pybind11's dispatcher: it packs the arguments into a tuple, looks the class up by
// its C++ type name, loads each argument through its generic converter (copying the sentence),
// and tries the overloads. The fast path reads the arguments in place. Every call it declines
// (other types, a subclass instance, an uninitialised instance, a wrong argument count, an
// unknown keyword) reaches the function pybind11 generated, unchanged, so the signature,
// docstring, defaults and every error message stay exactly pybind11's. The method object keeps
// pybind11's shape as well: a function wrapped as an instance method, with the same __doc__,
// __name__, __qualname__ and __module__.
//
// `parameters` names the parameters after self, as the binding declared them.
void AddFastPath(pybind11::handle cls, const char* name,
                 std::initializer_list<const char*> parameters, FastMethodBody body);

// Typed bodies: `Body(T&, args)` as a FastMethodBody.
template <typename T, PyObject* (*Body)(T&, PyObject* const*)>
PyObject* OnSelf(void* self, PyObject* const* args) {
  return Body(*static_cast<T*>(self), args);
}

// A text argument read in place: the UTF-8 of an exact str (as pybind11 converts it to
// std::string), or the bytes of an exact bytes object. False, with no error set, for anything
// else, a str that has no UTF-8 form (lone surrogates) included: the call is then declined.
// The view lives as long as the argument.
bool TextArgument(PyObject* argument, std::string_view& bytes, bool& is_str);

// An exact bool argument, or `fallback` when the call left it out. False for anything else.
bool BoolArgument(PyObject* argument, bool fallback, bool& value);

}  // namespace orvel::typing::text::pybind
