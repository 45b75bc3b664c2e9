#!/usr/bin/env bash
# Runs every test on this machine, setting it up first: the C++ suite (GoogleTest) and the
# Python suite against the module as `pip install .` builds it, then both under sanitizers.
# Fails on any failed test or sanitizer report.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
venv=$PWD/.venv/bin

echo "== C++ tests"
"$venv/cmake" -S . -B build/test -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/ninja" \
  -DCMAKE_BUILD_TYPE=Release -DPYORVELTEXT_BUILD_MODULE=OFF -DPYORVELTEXT_BUILD_TESTS=ON >/dev/null
"$venv/cmake" --build build/test -j2
build/test/orvel_tests

echo "== Python tests"
"$venv/python" -m pip install -q .
"$venv/python" -m pytest -q tests/python

# Both suites again under sanitizers (a few minutes, mostly building).
tools/test_sanitized.sh
