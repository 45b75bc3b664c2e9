"""What the Dask and Spark example tests share: the corpus with bad rows in it, and the
single-process model and vectors the engines must reproduce exactly."""
import importlib
import os
import pathlib
import sys

import pytest

from pyorveltext import BM25, Jieba

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples" / "distributed"
CORPUS = (EXAMPLES.parent / "data" / "corpus.txt").read_text(encoding="utf-8").splitlines()
# Non-text and undecodable rows are counted as bad, the empty text as empty; none is trained.
BAD_ROWS = [None, 42, b"\xff\xfe not UTF-8", "\ud800 lone surrogate"]
EMPTY_ROWS = [""]


def rows_with_faults():
    """The corpus with the faulty rows spread through it (and a UTF-8 bytes row, usable)."""
    rows = list(CORPUS) + [CORPUS[0].encode("utf-8")]
    for i, row in enumerate(BAD_ROWS + EMPTY_ROWS):
        rows.insert(3 + 7 * i, row)
    return rows


def good_texts(rows):
    return [r.decode("utf-8") if isinstance(r, bytes) else r for r in rows
            if isinstance(r, (str, bytes)) and r and r not in BAD_ROWS]


def single_process_model(jieba, texts):
    """The reference: per-text search-mode cut and train, in one process."""
    model = BM25()
    for text in texts:
        model.train(jieba.cut_for_search(text))
    return model


def dump_bytes(model, path):
    model.dump(str(path))
    return path.read_bytes()


def import_example(name):
    sys.path.insert(0, str(EXAMPLES))
    try:
        return importlib.import_module(name)
    finally:
        sys.path.remove(str(EXAMPLES))


# Fixtures both engines' tests import by name.
@pytest.fixture(scope="module")
def worker_jieba(jieba_paths):
    # Absolute paths: workers need not share the test's working directory.
    return Jieba(**{k: os.path.abspath(v) for k, v in jieba_paths.items()})


@pytest.fixture(scope="module")
def reference(worker_jieba, tmp_path_factory):
    model = single_process_model(worker_jieba, good_texts(rows_with_faults()))
    return model, dump_bytes(model, tmp_path_factory.mktemp("ref") / "model.json")
