#!/usr/bin/env bash
# Runs the Python suite under each CPython release named (default: 3.10 3.11 3.12 3.13), each in
# its own virtual environment (tools/setup.sh) against the module as `pip install .` builds it
# for that release. Each release keeps its build tree in build/py<release>, so a second run
# rebuilds only what changed.
#
#   tools/test_python.sh [3.10 3.11 ...]     extra pytest arguments: ORVEL_PYTEST_ARGS
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.10 3.11 3.12 3.13)

for version in "${versions[@]}"; do
  echo "== Python tests, CPython $version"
  export ORVEL_PYTHON=$version
  tools/setup.sh
  python=$(tools/setup.sh --venv-dir)/bin/python
  # The environment already holds the build requirements (requirements-dev.txt), so pip skips
  # making a fresh one; that keeps the CMake tree in build/py<release> valid from run to run.
  "$python" -m pip install -q --no-build-isolation -C build-dir="build/py$version" .
  # shellcheck disable=SC2086  # word splitting of the extra arguments is wanted
  "$python" -m pytest -q ${ORVEL_PYTEST_ARGS:-}
done
