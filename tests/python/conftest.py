import os
import pathlib
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
# The shared golden data sits beside the checkout; tests that need it skip without it.
SHARED = pathlib.Path(os.environ.get("ORVEL_SHARED_DIR", REPO.parent / "shared"))


@pytest.fixture(scope="session")
def shared_dir():
    if not SHARED.is_dir():
        pytest.skip(f"shared data not found at {SHARED}")
    return SHARED


# Dictionary data for tests that do not need the golden files: written by the project's
# fetch script, so these tests run on machines without the shared directory.
JIEBA_DATA = pathlib.Path(os.environ.get("ORVEL_JIEBA_DATA", REPO / "data" / "jieba"))


@pytest.fixture(scope="session")
def jieba_paths():
    """The five constructor arguments of pyorveltext.Jieba, by keyword."""
    script = REPO / "tools" / "fetch_jieba_data.py"
    subprocess.run([sys.executable, str(script), "--out", str(JIEBA_DATA)], check=True)
    return {
        "dict_path": str(JIEBA_DATA / "jieba.dict.utf8"),
        "hmm_path": str(JIEBA_DATA / "hmm_model.utf8"),
        "user_dict_path": str(JIEBA_DATA / "user.dict.utf8"),
        "idf_path": str(JIEBA_DATA / "idf.utf8"),
        "stop_word_path": str(JIEBA_DATA / "stop_words.utf8"),
    }


@pytest.fixture(scope="session")
def segmenter(jieba_paths):
    """One Jieba on the fetched data, shared by every test that only cuts."""
    import pyorveltext

    return pyorveltext.Jieba(**jieba_paths)
