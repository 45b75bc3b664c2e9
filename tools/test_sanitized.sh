#!/usr/bin/env bash
# The test suite again under sanitizers: the engine's concurrent cutting tests with
# ThreadSanitizer (build/tsan), then the C++ tests and the Python tests with AddressSanitizer
# and UndefinedBehaviorSanitizer (build/asan). Fails on any report. tools/test.sh runs it
# last; it needs the virtual environment that tools/setup.sh makes.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=$PWD/.venv/bin
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

configure() {
  local dir=$1
  shift
  "$venv/cmake" -S . -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/ninja" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPYORVELTEXT_BUILD_TESTS=ON "$@" >/dev/null
}

echo "== concurrent cutting, ThreadSanitizer"
configure build/tsan -DPYORVELTEXT_SANITIZE=thread -DPYORVELTEXT_BUILD_MODULE=OFF
"$venv/cmake" --build build/tsan -j2 --target orvel_tests
TSAN_OPTIONS=halt_on_error=1 build/tsan/orvel_tests \
  --gtest_filter='JiebaConcurrency.*:*TwoThreads*:ParallelBatchTest.*'

echo "== C++ tests, AddressSanitizer + UndefinedBehaviorSanitizer"
configure build/asan -DPYORVELTEXT_SANITIZE=address,undefined -DPYORVELTEXT_BUILD_MODULE=ON \
  -DPython_EXECUTABLE="$venv/python" -Dpybind11_DIR="$("$venv/python" -m pybind11 --cmakedir)"
"$venv/cmake" --build build/asan -j2
ASAN_OPTIONS=detect_leaks=1 build/asan/orvel_tests

echo "== Python tests, AddressSanitizer + UndefinedBehaviorSanitizer"
# The interpreter is not instrumented, so the runtime must be loaded first; libstdc++ too, or
# the runtime finds no __cxa_throw to wrap and aborts on the first C++ exception. CPython frees
# little at exit by design, so leak checking stays with the C++ tests.
LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)" \
  ASAN_OPTIONS=detect_leaks=0 PYTHONPATH="$PWD/build/asan" \
  "$venv/python" -m pytest -q -p no:cacheprovider tests/python
