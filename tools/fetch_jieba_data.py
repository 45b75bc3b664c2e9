#!/usr/bin/env python3
"""Writes the five segmentation data files that pyorveltext.Jieba reads, from the checkout.

    python tools/fetch_jieba_data.py --out DIR

The converter is the pyorveltext_data package (python/pyorveltext_data), which the wheel ships
as the `pyorveltext-data` command; this runs it from the source tree, so the repository's
scripts and tests work without installing anything but the jieba package
(requirements-dev.txt has it).
"""

import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "python"))

import pyorveltext_data  # noqa: E402  (found through the path set just above)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", required=True, help="directory to write the five files into")
    args = parser.parse_args()
    return pyorveltext_data.main([args.out])


if __name__ == "__main__":
    sys.exit(main())
