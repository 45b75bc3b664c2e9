#!/usr/bin/env bash
# Runs every test on this machine, setting it up first, fastest stages first: the C++ suite
# (GoogleTest), the Python suite under CPython 3.10, then under 3.11, 3.12 and 3.13 (each against
# the module as `pip install .` builds it for that release), then both suites once more under
# sanitizers. Fails on the first failed test or sanitizer report, and prints each stage's time.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
venv=$PWD/.venv/bin
timings=()
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  timings+=("$(printf '%5ds  %s' $((SECONDS - start)) "$name")")
}

cpp_tests() {
  echo "== C++ tests"
  "$venv/cmake" -S . -B build/test -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/ninja" \
    -DCMAKE_BUILD_TYPE=Release -DPYORVELTEXT_BUILD_MODULE=OFF -DPYORVELTEXT_BUILD_TESTS=ON >/dev/null
  "$venv/cmake" --build build/test -j2
  build/test/orvel_tests
}

stage "set-up" tools/setup.sh
stage "C++ tests" cpp_tests
stage "Python tests, CPython 3.10" tools/test_python.sh 3.10
stage "Python tests, CPython 3.11 to 3.13" tools/test_python.sh 3.11 3.12 3.13
# Both suites again under sanitizers (the longest stage, mostly building).
stage "sanitizers" tools/test_sanitized.sh

echo "== stage times"
printf '%s\n' "${timings[@]}"
echo "total ${SECONDS}s"
