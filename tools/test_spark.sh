#!/usr/bin/env bash
# Runs only the Spark example's tests (local[2]) against the module as `pip install .` builds
# it. tools/setup.sh installs the Java runtime and pyspark they need.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
.venv/bin/python -m pip install -q .
.venv/bin/python -m pytest -q tests/python/test_distributed_spark.py "$@"
