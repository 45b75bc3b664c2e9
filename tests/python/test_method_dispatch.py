"""The fast entry of the per-call Jieba methods against the pybind11 function it declines to.

Calls with exact str/bytes/bool/int arguments are served by the fast entry; a str subclass, a
Jieba subclass or any odd argument goes to pybind11's own function. Both must agree, and the
fast entry must never accept a call that pybind11 refuses.
"""
import sys

import pytest

from pyorveltext import Jieba

SENTENCE = "我来到北京清华大学，研究生命科学与Python 3.10的区块链应用。" * 3


class Text(str):
    """A str subclass: always converted by pybind11, never by the fast entry."""


# (method, positional arguments after the sentence, the same by keyword in another order)
CALLS = [
    ("cut", (), {}),
    ("cut_for_search", (), {}),
    ("cut_all", (), {}),
    ("tokenize", ("search", False), {"hmm": False, "mode": "search"}),
    ("tag", (False,), {"hmm": False}),
    ("extract_keywords", (3, True), {"with_weights": True, "top_k": 3}),
]


class TestSameResultsEitherWay:
    @pytest.mark.parametrize("name, args, kwargs", CALLS, ids=[c[0] for c in CALLS])
    def test_positional_keyword_and_converted_calls_agree(self, segmenter, name, args, kwargs):
        # Catches a keyword placed into the wrong parameter, or a default the fast entry
        # fills in differently from the binding's.
        method = getattr(segmenter, name)
        converted = method(Text(SENTENCE), *args)
        assert method(SENTENCE, *args) == converted
        assert method(sentence=SENTENCE, **kwargs) == converted
        assert getattr(Jieba, name)(segmenter, SENTENCE, **kwargs) == converted

    def test_defaults_match_the_binding(self, segmenter):
        # The fast entry's own defaults (mode, hmm, top_k, with_weights) against pybind11's.
        for name in ("tokenize", "tag", "extract_keywords"):
            method = getattr(segmenter, name)
            assert method(SENTENCE) == method(Text(SENTENCE))

    def test_bytes_are_read_as_they_are(self, segmenter):
        data = SENTENCE.encode()
        assert segmenter.tokenize(data) == segmenter.tokenize(bytearray(data))

    def test_subclass_instances_are_served(self, jieba_paths, segmenter):
        # Catches the fast entry reading a subclass instance as if it were a plain Jieba.
        class Sub(Jieba):
            pass

        assert Sub(**jieba_paths).cut(SENTENCE) == segmenter.cut(SENTENCE)


class TestRefusedLikeTheBinding:
    @pytest.mark.parametrize("call", [
        lambda j: j.cut(SENTENCE, sentence=SENTENCE),  # given twice
        lambda j: j.cut(text=SENTENCE),  # unknown keyword
        lambda j: j.cut(SENTENCE, SENTENCE),  # one too many
        lambda j: j.tokenize(SENTENCE, "default", True, 1),
        lambda j: j.cut("中\ud800文"),  # a str without UTF-8 form
    ])
    def test_odd_calls_raise_pybind11_type_error(self, segmenter, call):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call(segmenter)

    def test_top_k_beyond_64_bits_is_declined_not_misread(self, segmenter):
        # Catches an overflowing int read as -1 (or left as a pending error) by the fast entry.
        assert segmenter.extract_keywords(SENTENCE, 2 ** 64) == segmenter.extract_keywords(
            SENTENCE, 10 ** 6)
        with pytest.raises(ValueError, match="top_k"):
            segmenter.extract_keywords(SENTENCE, -(2 ** 64))


def test_arguments_keep_their_reference_counts(segmenter):
    # Catches an argument read in place being released or retained by the fast entry.
    sentence = "".join(["研究生命科学", str(len(SENTENCE))])
    mode = "".join(["sea", "rch"])
    before = sys.getrefcount(sentence), sys.getrefcount(mode)
    for _ in range(100):
        segmenter.cut(sentence)
        segmenter.tokenize(sentence, mode)
    assert (sys.getrefcount(sentence), sys.getrefcount(mode)) == before
