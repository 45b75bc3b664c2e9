"""The analyzer's golden files: every public line in both user-dictionary setups gives the
reference's cuts without HMM, full mode, tags, positions and keywords, and the run-time word
scenarios replay with the engine's results."""
import json

import pytest

from pyorveltext import Jieba

CONFIGS = {
    "public-userdict-analyzer.jsonl": ["user.dict.utf8"],
    "public-extra-userdict-analyzer.jsonl": ["user.dict.utf8", "extra_user.dict.utf8"],
}


def make_jieba(shared_dir, user_dicts):
    data = shared_dir / "jieba" / "data"
    return Jieba(
        str(data / "jieba.dict.utf8"),
        str(data / "hmm_model.utf8"),
        "|".join(str(data / name) for name in user_dicts),
        str(data / "idf.utf8"),
        str(data / "stop_words.utf8"),
    )


def read_jsonl(path):
    with open(path, encoding="utf-8") as f:
        # Split on "\n" only: inputs hold other characters that splitlines() would cut at.
        return [json.loads(line) for line in f.read().split("\n") if line]


@pytest.fixture(scope="module", params=list(CONFIGS))
def golden(request, shared_dir):
    cases = read_jsonl(shared_dir / "jieba" / "golden" / request.param)
    assert len(cases) == 639
    return make_jieba(shared_dir, CONFIGS[request.param]), cases


def words(tokens):
    return [word for word, _, _ in tokens]


# key -> what the engine gives for one input, in the golden file's shape
KEYS = {
    "cut_nohmm": lambda j, s: words(j.tokenize(s, hmm=False)),
    "search_nohmm": lambda j, s: words(j.tokenize(s, mode="search", hmm=False)),
    "cut_all": lambda j, s: j.cut_all(s),
    "tag": lambda j, s: [list(pair) for pair in j.tag(s)],
    # [byte offset, rune offset, rune count]: bytes give the first, str the other two
    "cut_pos": lambda j, s: [
        [byte_start, start, end - start]
        for (_, start, end), (_, byte_start, _) in zip(j.tokenize(s), j.tokenize(s.encode()))
    ],
}


@pytest.mark.parametrize("key", list(KEYS))
def test_every_line_matches(golden, key):
    jieba, cases = golden
    mismatches = [(c["s"], c[key], got) for c in cases if (got := KEYS[key](jieba, c["s"])) != c[key]]
    assert not mismatches, "\n".join(
        f"{s!r}\n  expected {want}\n  got      {got}" for s, want, got in mismatches[:5]
    )


def keywords_agree(jieba, sentence, want, top_n):
    """Equal weights within 1e-9; the same set of words in each group of equal weight, except
    that the last group of a full list need only be candidates of that weight."""
    got = jieba.extract_keywords(sentence, top_n, with_weights=True)
    if len(got) != len(want):
        return False
    if any(abs(g - w) > 1e-9 * abs(w) for (_, g), (_, w) in zip(got, want)):
        return False
    start = 0
    while start < len(want):
        end = start
        while end < len(want) and want[end][1] == want[start][1]:
            end += 1
        group = {word for word, _ in want[start:end]}
        if end < len(want) or len(want) < top_n:
            if group != {word for word, _ in got[start:end]}:
                return False
        else:
            everything = jieba.extract_keywords(sentence, 1 << 30, with_weights=True)
            if not group <= {word for word, weight in everything if weight == want[start][1]}:
                return False
        start = end
    return True


def test_every_line_has_the_reference_keywords(golden):
    jieba, cases = golden
    mismatches = [c["s"] for c in cases if not keywords_agree(jieba, c["s"], c["keywords"], 5)]
    assert not mismatches, mismatches[:5]


def run_op(jieba, op):
    word = bytes.fromhex(op["word_hex"]) if "word_hex" in op else op.get("word")
    kind = op["op"]
    if kind == "insert":
        return jieba.add_word(word, op.get("freq"), op.get("tag"))
    if kind == "delete":
        return jieba.del_word(word)
    if kind == "find":
        return jieba.find_word(word)
    if kind == "lookup_tag":
        return jieba.word_tag(word)
    if kind == "cut":
        return jieba.cut(op["s"]) if op["hmm"] else words(jieba.tokenize(op["s"], hmm=False))
    if kind == "cut_for_search":
        if op["hmm"]:
            return jieba.cut_for_search(op["s"])
        return words(jieba.tokenize(op["s"], mode="search", hmm=False))
    if kind == "cut_all":
        return jieba.cut_all(op["s"])
    if kind == "tag":
        return [list(pair) for pair in jieba.tag(op["s"])]
    raise AssertionError(f"unknown op {kind}")


def test_runtime_word_scenarios(shared_dir):
    scenarios = read_jsonl(shared_dir / "jieba" / "golden" / "runtime-words.jsonl")
    assert len(scenarios) == 70
    failures = []
    for scenario in scenarios:
        jieba = make_jieba(shared_dir, ["user.dict.utf8"])
        for index, op in enumerate(scenario["ops"]):
            want = op.get("engine_result", op["result"])
            if op["op"] == "extract":
                ok = keywords_agree(jieba, op["s"], want, op["topn"])
            else:
                got = run_op(jieba, op)
                ok = got == want
            if not ok:
                failures.append(f"{scenario['name']} op {index}: {op}")
    assert not failures, "\n".join(failures[:5])
