#!/usr/bin/env bash
# Incremental developer build of the extension into $ORVEL_BUILD_DIR (default build/dev;
# import it with PYTHONPATH=build/dev). Needs the virtual environment made by tools/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
venv=.venv/bin
build_dir=${ORVEL_BUILD_DIR:-build/dev}
"$venv/cmake" -S . -B "$build_dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$PWD/$venv/ninja" \
  -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$PWD/$venv/python" \
  -Dpybind11_DIR="$("$venv/python" -m pybind11 --cmakedir)" "$@" >/dev/null
"$venv/cmake" --build "$build_dir" -j2 --target pyorveltext
