#!/usr/bin/env bash
# Sets up this machine, installs the module, fetches the segmentation data and runs the demo:
# Chinese keyword search with Jieba and BM25 over examples/data/corpus.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/build_env.sh
tools/setup.sh
.venv/bin/python -m pip install -q .
.venv/bin/pyorveltext-data data/jieba
.venv/bin/python examples/search_demo.py --data data/jieba
