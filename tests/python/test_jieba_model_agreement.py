"""The engine against an independent plain-Python model of the segmenter (tools/segmenter_model.py)
on generated sentences. The model is first held to the golden files and to the invalid-byte
cases the golden files cannot carry, so an agreement means something."""

import json
import pathlib
import random
import sys

import pytest

TOOLS = pathlib.Path(__file__).resolve().parents[2] / "tools"
sys.path.insert(0, str(TOOLS))

import differential_check  # noqa: E402


@pytest.fixture(scope="module")
def setups(shared_dir, tmp_path_factory):
    data = shared_dir / "jieba" / "data"
    scratch = str(tmp_path_factory.mktemp("user_dicts"))
    return dict(differential_check.setups(str(data), scratch))


@pytest.fixture(scope="module")
def extra_pair(shared_dir, setups):
    return differential_check.build_pair(setups["extra"])


def agree(pair, generator, count):
    engine, model = pair
    lines = []
    differential_check.check([("setup", engine, model)], generator, count, report=lines.append)
    return [line for line in lines if not line.startswith("...")]


def generator_for(shared_dir, model, seed):
    golden = differential_check.read_golden_sentences(str(shared_dir / "jieba" / "golden"))
    data = str(shared_dir / "jieba" / "data")
    return differential_check.SentenceGenerator(random.Random(seed), model, data, golden)


def test_model_reproduces_golden_file(shared_dir, extra_pair):
    _, model = extra_pair
    path = shared_dir / "jieba" / "golden" / "public-extra-userdict.jsonl"
    wrong = []
    # Inputs hold U+2028 and friends, so split at LF only.
    for line in path.read_bytes().split(b"\n")[:-1]:
        record = json.loads(line)
        sentence = record["s"].encode("utf-8", "surrogatepass")
        for mode, key in (("cut", "cut"), ("cut_for_search", "search")):
            got = [w.decode("utf-8", "surrogatepass") for w in getattr(model, mode)(sentence)]
            if got != record[key]:
                wrong.append((record["s"], mode, got, record[key]))
    assert wrong == []


@pytest.mark.parametrize(
    "sentence, words",
    [
        (b"123\x80", []),  # a sequence cut short fails the whole sentence
        (b"\xf8abc", []),
        (b"\xe4AB\xe5\xa5\xbd", [b"\xe4AB", b"\xe5\xa5\xbd"]),  # continuation bytes unchecked
        (b"\xc0\xa0abc", [b"\xc0\xa0", b"abc"]),  # overlong space still separates
        (b"\xc1\x81\xc1\x82c", [b"\xc1\x81\xc1\x82c"]),  # overlong letters join ASCII tokens
        (b"\x80\x80", [b"\x80\x80"]),
        (b"a\x00b", [b"a", b"\x00", b"b"]),
    ],
)
def test_model_decodes_leniently(extra_pair, sentence, words):
    _, model = extra_pair
    assert model.cut(sentence) == words
    assert model.cut_for_search(sentence) == words


@pytest.mark.parametrize(
    "name, count",
    [
        ("extra", 300),  # the golden setup, both user dictionaries
        ("unusual", 150),  # -inf/NaN weights, single ASCII user runes, CR and lenient bytes
        ("tiny", 400),  # a small dictionary and HMM where DP and Viterbi ties are everywhere
    ],
)
def test_engine_agrees_with_model(shared_dir, setups, extra_pair, name, count):
    pair = extra_pair if name == "extra" else differential_check.build_pair(setups[name])
    generator = generator_for(shared_dir, extra_pair[1], seed=20261208)
    assert agree(pair, generator, count) == []


def test_minimise_keeps_only_what_the_failure_needs():
    sentence = "甲乙A丙".encode() + b"\xff" + "丁".encode()
    assert differential_check.minimise(sentence, lambda s: b"A" in s and b"\xff" in s) == b"A\xff"


def test_model_text_helpers_follow_the_c_rules():
    from segmenter_model import atof, atoi, split

    # A trailing separator adds no field, but empty fields elsewhere are kept.
    fields = {b"": [], b"a b c ": [b"a", b"b", b"c"], b"a b c  ": [b"a", b"b", b"c", b""],
              b" a  b": [b"", b"a", b"", b"b"], b" ": [b""], b"a\tb": [b"a\tb"]}
    assert {s: split(s, b" ") for s in fields} == fields
    assert split(b"a|b;c|", b"|;") == [b"a", b"b", b"c"]
    # strtod prefixes, hex and white space; atoi truncates and wraps like the C library here.
    floats = {b"3\r": 3.0, b"abc": 0.0, b"\t4": 4.0, b"0x10": 16.0, b"1.6e1x": 16.0,
              b"-.5": -0.5, b"1e": 1.0, b"0x1p3": 8.0, b"-inf": float("-inf")}
    assert {f: atof(f) for f in floats} == floats
    ints = {b"2.9": 2, b"abc": 0, b"-5": -5, b" +7": 7, b"4294967297": 1,
            b"99999999999": 1215752191, b"99999999999999999999": -1}
    assert {f: atoi(f) for f in ints} == ints


def test_lenient_encodings_decode_to_the_same_rune():
    from segmenter_model import decode

    rng = random.Random(3)
    for value in (0x00, 0x0A, 0x41, 0x7F, 0x80, 0x7FF, 0x800, 0x4E2D, 0xFFFF, 0x10000, 0x1FFFFF):
        for _ in range(20):
            encoded = differential_check.lenient_encoding(value, rng)
            assert [rune[0] for rune in decode(encoded)] == [value], encoded


@pytest.mark.parametrize(
    "sentence, words",
    [
        ("丙丁戊", ["丙", "丁戊"]),  # 丙+丁戊 and 丙丁+戊 sum equal weights: the shorter wins
        ("甲甲甲", ["甲", "甲甲"]),  # the later duplicate 甲 20 is the one looked up
        ("丁丁", ["丁丁"]),  # E (from B) and S (from S) tie at the end: E wins
        ("丁丁丁丁", ["丁", "丁", "丁", "丁"]),  # earlier ties keep the first best state
        ("Aa1.5ab", ["A", "a1", ".", "5", "ab"]),  # "a1" has a tab before its frequency
    ],
)
def test_engine_breaks_ties_like_the_model(setups, sentence, words):
    engine, model = differential_check.build_pair(setups["tiny"])
    assert engine.cut(sentence) == words
    assert [w.decode() for w in model.cut(sentence.encode())] == words
