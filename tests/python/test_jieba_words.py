"""Returned words: each is exactly the str that strict UTF-8 decoding of the engine's bytes
gives, for every width of str and at every encoding boundary, and a word that is not strict
UTF-8 raises UnicodeDecodeError as bytes.decode would."""
import pytest

from pyorveltext import Jieba
from tiny_jieba_data import write_files

# User words spanning the encoding boundaries (1/2/3/4-byte forms, the surrogate gap) and all
# three internal str widths, alone and mixed.
WORDS = [
    "ab",
    "a\x7f",
    "\x80\xff",  # two-byte forms that still fit a one-byte str
    "\u0100\u07ff",
    "\u0800\ud7ff",
    "\ue000\uffff",
    "中文",
    "a中",
    "é中",
    "😀中",
    "\U00010000\U0010ffff",
    "a\xe9\u4e2d\U0001f600",
    "中" * 300,  # longer than any buffer a converter might keep on the stack
]
IDS = [w.encode("unicode_escape").decode()[:24] for w in WORDS]


@pytest.fixture(scope="module")
def words_jieba(tmp_path_factory):
    directory = tmp_path_factory.mktemp("words")
    return Jieba(**write_files(directory, user_dict_path="\n".join(WORDS) + "\n"))


@pytest.mark.parametrize("word", WORDS, ids=IDS)
@pytest.mark.parametrize("mode", ["cut", "cut_for_search"])
def test_word_of_every_width_round_trips(words_jieba, mode, word):
    got = getattr(words_jieba, mode)("甲" + word + "甲")
    assert got[0] == got[-1] == "甲"
    assert word in got
    assert all(type(w) is str for w in got)


def test_single_characters_of_every_width(words_jieba):
    # Spaces are separators, so every character comes back as a word of its own.
    sentence = " ".join("a\x7f\x80\xff\u0100\u07ff\u0800\uffff\U00010000\U0010ffff")
    assert words_jieba.cut(sentence) == list(sentence)


@pytest.mark.parametrize(
    "raw",
    [
        b"\xc1\x81",  # overlong 'A'
        b"\xc0\xa0",  # overlong space
        b"\xe0\x80\x80",  # overlong NUL in three bytes
        b"\xf0\x80\x80\x80",  # overlong NUL in four bytes
        b"\xed\xa0\x80",  # a surrogate
        b"\xf4\x90\x80\x80",  # above U+10FFFF
        b"\xf7\xbf\xbf\xbf",
        b"\x80\x80",  # a stray continuation byte read as a lead
        b"\xe4AB",  # continuation bytes that are not continuation bytes
        "中".encode() + b"\xe4AB",
    ],
)
def test_words_the_lenient_decoder_accepts_but_python_rejects(words_jieba, raw):
    with pytest.raises(UnicodeDecodeError):
        words_jieba.cut(raw)
    with pytest.raises(UnicodeDecodeError):
        words_jieba.cut_for_search(raw)
