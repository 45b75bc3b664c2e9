#!/usr/bin/env bash
# Runs every test on this machine, setting it up first, fastest stages first: the C++ suite
# (GoogleTest), the Python suite under CPython 3.10, then under 3.11, 3.12 and 3.13 (each against
# the module as `pip install .` builds it for that release), then both suites once more under
# sanitizers. Fails on the first failed test or sanitizer report, and prints each stage's time.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
timings=()
stage() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  timings+=("$(printf '%5ds  %s' $((SECONDS - start)) "$name")")
}

stage "set-up" tools/setup.sh
echo "== C++ tests"
stage "C++ tests" tools/test_cpp.sh
stage "Python tests, CPython 3.10" tools/test_python.sh 3.10
stage "Python tests, CPython 3.11 to 3.13" tools/test_python.sh 3.11 3.12 3.13
# Both suites again under sanitizers (the longest stage, mostly building).
stage "sanitizers" tools/test_sanitized.sh

echo "== stage times"
printf '%s\n' "${timings[@]}"
echo "total ${SECONDS}s"
