#pragma once

#include <Python.h>

#include <cstddef>

namespace orvel::typing::text::pybind {

// The containers of a batch's results (a list per sentence, a dict and two lists per vector)
// join the cycle collector only once the batch is whole. Tracked as they are made, every
// collection that the batch's own allocations set off (one per 700 new containers) walks those
// made since the last one, item by item, and walks them again as they age, though none can be
// in a cycle before the caller has them. Tracked together at the end, they are walked only if
// they outlive the next collections, and a result dropped first never is.

// A new list of `size` free places that the collector does not see until TrackAgain; null
// with the error set when allocation fails.
inline PyObject* NewUntrackedList(std::size_t size) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(size));
  if (list) PyObject_GC_UnTrack(list);
  return list;
}

// Hands an untracked container (back) to the collector; one already tracked is left as it is.
inline void TrackAgain(PyObject* container) {
  if (!PyObject_GC_IsTracked(container)) PyObject_GC_Track(container);
}

}  // namespace orvel::typing::text::pybind
