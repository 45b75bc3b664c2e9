#!/usr/bin/env bash
# Sets up this machine, installs the module and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
.venv/bin/python -m pip install -q .
.venv/bin/python examples/bm25_demo.py
