// Forced into every source of the extension module by the build (-include), ahead of
// pybind11, so that each reference the module makes to the interpreter's unchecked
// thread-state getter is weak.
//
// Why: CPython 3.13 renamed that function (pybind11 calls _PyThreadState_UncheckedGet before
// 3.13 and PyThreadState_GetUnchecked from 3.13 on), and it is the one name that a module
// built for 3.10, 3.11, 3.12 or 3.13 misses in another of these interpreters. With a strong
// reference the dynamic loader refuses the module before its init function runs, and the user
// sees "undefined symbol" instead of the version gate's mismatch message. A weak reference
// lets the module load; the gate then refuses the interpreter before anything can call the
// function. Under the interpreter the module was built for, the name resolves as usual.
#pragma once

#include <patchlevel.h>

#if PY_VERSION_HEX >= 0x030D0000
#pragma weak PyThreadState_GetUnchecked
#else
#pragma weak _PyThreadState_UncheckedGet
#endif
