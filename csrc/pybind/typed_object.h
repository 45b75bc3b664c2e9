#pragma once

#include <pybind11/pybind11.h>

namespace orvel::typing::text::pybind {

// A Python object passed through as it is, rendered in signatures under the typing name
// `Name::kName` (e.g. "List[List[str]]"), so that batch methods that check their arguments
// themselves still document what they take and return, and the stub can be compared.
template <typename Name>
struct TypedObject {
  pybind11::object object;
};

}  // namespace orvel::typing::text::pybind

namespace pybind11::detail {

template <typename Name>
struct type_caster<orvel::typing::text::pybind::TypedObject<Name>> {
  PYBIND11_TYPE_CASTER(orvel::typing::text::pybind::TypedObject<Name>, Name::kName);

  bool load(handle src, bool) {
    value.object = reinterpret_borrow<object>(src);
    return true;
  }

  static handle cast(const orvel::typing::text::pybind::TypedObject<Name>& src, return_value_policy,
                     handle) {
    return src.object.inc_ref();
  }
};

}  // namespace pybind11::detail
