#!/usr/bin/env bash
# Checks the distributions a user gets: builds a wheel with `pip wheel .`, installs it into a
# fresh virtual environment and runs the search demo and mypy --strict against it there; then
# builds the source distribution, builds a wheel from that alone and runs the demo again.
# Everything happens in a temporary directory, outside the checkout's import path.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
tools/setup.sh
.venv/bin/python tools/fetch_jieba_data.py --out data/jieba

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}  # a shared two-core machine
export PIP_DISABLE_PIP_VERSION_CHECK=1

# Runs the demo and a type check with the module installed in $work/venv, from $work.
check_installed() {
  local python=$work/venv/bin/python
  (
    cd "$work"
    "$python" - "$work/venv" <<'EOF'
import importlib.metadata, pathlib, sys
import pyorveltext
where = pathlib.Path(pyorveltext.__file__)
assert pathlib.Path(sys.argv[1]) in where.parents, f"imported from {where}, not the venv"
assert (where.parent / "pyorveltext.pyi").is_file(), "stub missing beside the module"
print(f"pyorveltext {importlib.metadata.version('pyorveltext')} from {where}")
EOF
    "$python" "$repo/examples/search_demo.py" --data "$repo/data/jieba" >demo.out
    tail -n 4 demo.out
    grep -q "^  [0-9.]*  红烧肉要先" demo.out || { cat demo.out; echo "demo ranking is off" >&2; exit 1; }
    "$work/venv/bin/mypy" --strict --no-incremental "$repo/examples/search_demo.py"
  )
}

echo "== wheel from the checkout"
.venv/bin/python -m pip wheel -q --no-deps -w "$work/wheel" .
unzip -l "$work"/wheel/*.whl | awk 'NR > 3 && $4 { print "   ", $4 }'
.venv/bin/python -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q "$work"/wheel/*.whl mypy
check_installed

echo "== wheel from the source distribution"
.venv/bin/python -m build -q --sdist --outdir "$work/sdist" . >/dev/null
echo "    $(basename "$work"/sdist/*.tar.gz): $(tar tzf "$work"/sdist/*.tar.gz | wc -l) files"
"$work/venv/bin/python" -m pip wheel -q --no-deps -w "$work/from-sdist" "$work"/sdist/*.tar.gz
"$work/venv/bin/python" -m pip install -q --force-reinstall --no-deps "$work"/from-sdist/*.whl
check_installed

echo "wheel and sdist OK"
