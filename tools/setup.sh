#!/usr/bin/env bash
# Prepares a fresh machine: system packages (as root), the virtual environment .venv with
# Python 3.10 and the build and test tools. Safe to run again; it only adds what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v g++ >/dev/null || missing+=(g++)
# PySpark (the Spark example and its test) runs on a Java runtime; Debian's takes a minute.
command -v java >/dev/null || missing+=(default-jre-headless)
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# A pyenv shim answers `command -v` even when it cannot run, so each candidate is tried.
find_python310() {
  local root candidate
  root=$(pyenv root 2>/dev/null || echo "$HOME/.pyenv")
  for candidate in $(ls -d "$root"/versions/3.10.*/bin/python3.10 2>/dev/null | sort -rV) \
    $(command -v python3.10 2>/dev/null); do
    if "$candidate" -c 'import sys; assert sys.version_info[:2] == (3, 10)' 2>/dev/null; then
      echo "$candidate"
      return
    fi
  done
}

if [ ! -x .venv/bin/python ]; then
  python=$(find_python310)
  [ -n "$python" ] || { echo "Python 3.10 not found (pyenv install 3.10)" >&2; exit 1; }
  "$python" -m venv .venv
  .venv/bin/python -m pip install -q --upgrade pip
fi
.venv/bin/python -m pip install -q -r requirements-dev.txt "$@"
