#!/usr/bin/env bash
# Builds and runs the C++ suite (GoogleTest) in build/test; arguments go to the test binary,
# e.g. --gtest_filter='JsonParser.*'. Needs the virtual environment from tools/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
venv=$PWD/.venv/bin
"$venv/cmake" -S . -B build/test -G Ninja -DCMAKE_MAKE_PROGRAM="$venv/ninja" \
  -DCMAKE_BUILD_TYPE=Release -DPYORVELTEXT_BUILD_MODULE=OFF -DPYORVELTEXT_BUILD_TESTS=ON >/dev/null
"$venv/cmake" --build build/test -j2
build/test/orvel_tests "$@"
