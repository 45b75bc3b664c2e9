"""Golden files: every line of the public corpus, both modes, both user-dictionary setups,
must give exactly the reference segmenter's words through the Python module."""
import json

import pytest

from pyorveltext import Jieba

# golden file -> user dictionaries it was produced with, joined as the constructor takes them
CONFIGS = {
    "public-userdict.jsonl": ["user.dict.utf8"],
    "public-extra-userdict.jsonl": ["user.dict.utf8", "extra_user.dict.utf8"],
}
MODES = {"cut": "cut", "search": "cut_for_search"}


@pytest.fixture(scope="module", params=list(CONFIGS))
def golden(request, shared_dir):
    data = shared_dir / "jieba" / "data"
    jieba = Jieba(
        str(data / "jieba.dict.utf8"),
        str(data / "hmm_model.utf8"),
        "|".join(str(data / name) for name in CONFIGS[request.param]),
        str(data / "idf.utf8"),
        str(data / "stop_words.utf8"),
    )
    path = shared_dir / "jieba" / "golden" / request.param
    with open(path, encoding="utf-8") as f:
        # Split on "\n" only: inputs hold other characters that splitlines() would cut at.
        cases = [json.loads(line) for line in f.read().split("\n") if line]
    return jieba, cases


@pytest.mark.parametrize("mode", list(MODES))
def test_every_line_matches(golden, mode):
    jieba, cases = golden
    method = getattr(jieba, MODES[mode])
    results = [(c["s"], c[mode], method(c["s"])) for c in cases]
    mismatches = [(s, want, got) for s, want, got in results if want != got]
    assert len(cases) == 639
    assert not mismatches, "\n".join(
        f"{s!r}\n  expected {want}\n  got      {got}" for s, want, got in mismatches[:5]
    )
