#!/usr/bin/env bash
# Prepares a fresh machine: system packages (as root), a virtual environment with the build and
# test tools. Safe to run again; it only adds what is missing.
#
#   tools/setup.sh [pip install arguments ...]
#
# ORVEL_PYTHON picks the CPython release (3.10, 3.11, 3.12 or 3.13; default 3.10). The 3.10
# environment is .venv, the one every other script uses; the others are .venv-3.11 and so on,
# used by tools/test_python.sh and tools/build_wheels.sh. `tools/setup.sh --venv-dir` prints the
# directory for ORVEL_PYTHON and does nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."

version=${ORVEL_PYTHON:-3.10}
case $version in
  3.10) venv=.venv ;;
  3.11 | 3.12 | 3.13) venv=.venv-$version ;;
  *) echo "ORVEL_PYTHON=$version: supported are 3.10, 3.11, 3.12 and 3.13" >&2; exit 2 ;;
esac
if [ "${1:-}" = --venv-dir ]; then
  echo "$venv"
  exit 0
fi

missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v g++ >/dev/null || missing+=(g++)
# Caches compiled objects across the per-version builds: the engine does not depend on the
# interpreter, so only the binding is compiled once per version.
command -v ccache >/dev/null || missing+=(ccache)
# PySpark (the Spark example and its test) runs on a Java runtime; Debian's takes a minute.
command -v java >/dev/null || missing+=(default-jre-headless)
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A pyenv shim answers `command -v` even when it cannot run, so each candidate is tried.
find_python() {
  local root candidate
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  for candidate in $(ls -d "$root"/versions/"$version".*/bin/python"$version" 2>/dev/null | sort -rV) \
    $(command -v python"$version" 2>/dev/null); do
    if "$candidate" -c "import sys; assert '%d.%d' % sys.version_info[:2] == '$version'" 2>/dev/null; then
      echo "$candidate"
      return
    fi
  done
}

if [ ! -x "$venv/bin/python" ]; then
  python=$(find_python)
  [ -n "$python" ] || { echo "Python $version not found (pyenv install $version)" >&2; exit 1; }
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --upgrade pip
fi
"$venv/bin/python" -m pip install -q -r requirements-dev.txt "$@"
