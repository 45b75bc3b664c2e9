#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace orvel::typing::text::pybind {

// The native object behind a Python instance whose __init__ has run. Used as the `self`
// parameter of bound methods: a plain `T*` self would accept None as a null object, and
// pybind11 would hand an instance made by `T.__new__(T)` alone a block of raw memory.
template <typename T>
class ConstructedSelf {
 public:
  ConstructedSelf() = default;
  explicit ConstructedSelf(T* object) : object_(object) {}
  T& operator*() const { return *object_; }

 private:
  T* object_ = nullptr;
};

// Binds a member function as a method whose `self` must be a constructed instance.
template <typename T, typename R, typename... Args>
auto OnConstructed(R (T::*method)(Args...)) {
  return [method](ConstructedSelf<T> self, Args... args) -> R {
    return ((*self).*method)(std::forward<Args>(args)...);
  };
}

template <typename T, typename R, typename... Args>
auto OnConstructed(R (T::*method)(Args...) const) {
  return [method](ConstructedSelf<T> self, Args... args) -> R {
    return ((*self).*method)(std::forward<Args>(args)...);
  };
}

}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

template <typename T>
struct type_caster<orvel::typing::text::pybind::ConstructedSelf<T>> {
  // Rendered as the bound class itself, e.g. "self: pyorveltext.BM25".
  PYBIND11_TYPE_CASTER(orvel::typing::text::pybind::ConstructedSelf<T>, const_name<T>());

  bool load(handle src, bool /*convert*/) {
    // None and instances of other types do not match; the call then fails with TypeError.
    if (!isinstance<T>(src)) return false;
    auto* self = reinterpret_cast<instance*>(src.ptr());
    value_and_holder v_h = self->get_value_and_holder(get_type_info(typeid(T)));
    if (!v_h.holder_constructed()) {
      throw type_error(std::string(Py_TYPE(src.ptr())->tp_name) +
                       " object is not initialized: its __init__ was never called");
    }
    value = orvel::typing::text::pybind::ConstructedSelf<T>(v_h.value_ptr<T>());
    return true;
  }

  static handle cast(const orvel::typing::text::pybind::ConstructedSelf<T>&, return_value_policy,
                     handle) {
    pybind11_fail("ConstructedSelf is an argument type only");
  }
};

}  // namespace pybind11::detail
