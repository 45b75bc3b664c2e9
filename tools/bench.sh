#!/usr/bin/env bash
# Runs every benchmark against the installed module and writes benchmarks/results.md and
# benchmarks/results.png. Takes several minutes; progress is printed as it goes.
set -euo pipefail
cd "$(dirname "$0")/.."
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}  # cores are shared
tools/setup.sh -r requirements-bench.txt
# The benchmarks cut and train on distinct real text; build it once (a quick no-op after).
.venv/bin/python tools/fetch_bench_corpus.py
.venv/bin/python -m pip install -q .
.venv/bin/python benchmarks/run_all.py "$@"
