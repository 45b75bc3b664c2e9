"""Compares pyorveltext.Jieba with the plain-Python model in tools/segmenter_model.py on many
generated sentences, and prints every disagreement shrunk to a short input.

    PYTHONPATH=build/dev .venv/bin/python tools/differential_check.py --count 20000 --seed 7

Each sentence is cut in both modes, as bytes and (when it is valid UTF-8) as str, under four
setups: the standard user dictionary; it plus the extra test dictionary; it plus a small file of
unusual entries written here; and a tiny main dictionary, HMM and user dictionary, also written
here, full of ties. Exit status 1 on any disagreement. The engine logs one line to stderr for
every sentence that fails to decode; redirect stderr to keep the report readable.
"""

import argparse
import json
import os
import random
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from segmenter_model import SegmenterModel  # noqa: E402

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.environ.get("ORVEL_SHARED_DIR", os.path.join(os.path.dirname(REPO), "shared"))
DEFAULT_DATA = os.path.join(SHARED, "jieba", "data")
MAIN_FILES = ("jieba.dict.utf8", "hmm_model.utf8")
OTHER_FILES = ("idf.utf8", "stop_words.utf8")

# User entries whose handling is easy to misread: -inf and NaN weights on single runes and on a
# word the main dictionary already has, single ASCII runes, a CR inside a word, columns made by
# a doubled space, a leading space, a fractional and an out-of-range integer frequency, bytes
# that only decode leniently, an undecodable word, an ignored 4-column line, separators inside
# words.
UNUSUAL_USER_ENTRIES = (
    b"\xe7\x9a\x84 0 u\n"            # 的, frequency 0
    b"\xe4\xba\x86 -5 u\n"           # 了, negative frequency
    b"I\n"
    b".\n"
    b"5 n\n"
    b"\xe6\x9d\xad\n"                # 杭
    b"\xe5\x8c\x97\xe4\xba\xac 0 ns\n"  # 北京, frequency 0
    b"\xe5\x8e\xbb\xe6\x9d\xad\xe7\xa0\x94 100 nz\n"  # 去杭研
    b"\xe5\x8e\xbb\xe6\x9d\xad 100 nz x\n"            # 去杭, four columns
    b"w\r\n"
    b" lead\n"
    b"Q  b\n"
    b"\xe4\xb8\xad\xe5\x9b\xbd 2.9 ns\n"              # 中国
    b"\xe4\xb8\xad\xe5\x8d\x8e\xe4\xba\xba 99999999999 n\n"  # 中华人
    b"\xe4\xba\xba\xe6\xb0\x91\xe5\xb8\x81 4294967297 n\n"   # 人民币
    b"\xe4AB 5 x\n"
    b"\xf8bad\n"
    b"a\tb\n"
    b"\xe5\x8c\x97\xe4\xba\xac\xef\xbc\x8c\xe4\xb8\x8a\xe6\xb5\xb7\n"  # 北京，上海
    b"\r\n"
    b"\n"
)

# A small world where ties are everywhere: words of equal frequency, a duplicate, an entry with
# an empty word (it still counts in the sums), frequencies that parse only as a prefix, in hex
# or after a tab, and a CR tag.
TINY_MAIN_DICTIONARY = "\n".join([
    "甲 10 n", "乙 10 n", "丙 10 n", "戊 10abc n", "甲乙 100 n", "乙丙 100 n",
    "甲乙丙 1000 n", "丙丁 0x10 n", "丁戊 1.6e1 n", "己己 5 n", "己己己 25 n", "甲 20 n",
    " 7 x", "ab 10 n", "a1 \t4 n", "a.b 2 n", "庚 1 n\r", "甲甲 400 n", "",
]).encode()
# Small whole numbers, so sums are exact and Viterbi meets ties at every step: all starts are
# equal, every state goes to B or M at the same cost, and E and S are reached best from
# different states (B and S), so the final E/S tie decides how the last runes join. Emissions
# cover different runes in different states. Also comments, blank and CRLF lines, a trailing
# comma, a repeated key, an overlong key (for "A") and an ignored tenth data line.
TINY_HMM = (
    b"# start\n-1 -1 -1 -1\r\n  # transitions\n"
    b"-2 -1 -2 -2\n-2 -2 -2 -2\n\t\n-2 -2 -2 -2\n-2 -2 -2 -1\n"
    + "甲:-1,乙:-1,丁:-2,己:-1,a:-1,\n".encode()
    + "甲:-1,乙:-1,丁:-2,己:-1,戊:-1,甲:-3\r\n".encode()
    + "甲:-1,乙:-2,己:-1".encode() + b",\xc1\x81:-0.5\n"
    + "甲:-1,乙:-1,丁:-2,戊:-1,庚:-1\n".encode()
    + b"ignored line\n"
)
TINY_USER_DICTIONARY = "乙 nz\n丙丁戊 0 n\n己己己己 3 n\n".encode()
TINY_ALPHABET = list("甲乙丙丁戊己庚辛") + ["a", "b", "1", ".", "A", " ", "，", "\r"]

ASCII_TOKEN_CHARS = "abcxyzABCXYZ0123456789" + "0123456789" + "...%%_+#&-"
SEPARATORS = [" ", "\t", "\n", "\uff0c", "\u3002"]
PUNCTUATION = ["\uff01", "\u3001", ",", ".", "\r", "\x00", "\x0b", "\x0c", "\x85", "\u2028",
               "\uff1f", "\u201c", "\u201d", "\uff08", "\uff09", "\u00b7", "-", "/"]
FULL_WIDTH = [chr(c) for c in list(range(0xFF10, 0xFF1A)) + list(range(0xFF21, 0xFF3B))]
ASTRAL = ["\U0001F64B", "\U0001F600", "\U00020000", "\U0002A6D6", "\U0001D400", "\U00010348"]
INVALID = [b"\x80", b"\xbf", b"\xc3", b"\xe5\xa5", b"\xf0\x9f\x99", b"\xf8", b"\xff",
           b"\xc0\xa0", b"\xc1\x81", b"\xe4AB", b"\xf7\xbf\xbf\xbf", b"\xed\xa0\x80",
           b"\x80\x80", b"\xc3\x28", b"\xe0\x80\x80", b"\xf4\x90\x80\x80"]
# A valid UTF-8 character, or else a single byte: the units that mutation and shrinking use.
UNIT = re.compile(
    rb"[\xc2-\xdf][\x80-\xbf]|[\xe0-\xef][\x80-\xbf]{2}|[\xf0-\xf4][\x80-\xbf]{3}|.", re.S)


# ----------------------------------------------------------------------------- setups


def write_file(directory, name, content):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(content)
    return path


def setups(data_dir, scratch_dir):
    """(name, the five constructor arguments) for each setup the check runs."""
    main, hmm = (os.path.join(data_dir, name) for name in MAIN_FILES)
    idf, stop = (os.path.join(data_dir, name) for name in OTHER_FILES)
    standard = os.path.join(data_dir, "user.dict.utf8")
    extra = os.path.join(data_dir, "extra_user.dict.utf8")
    unusual = write_file(scratch_dir, "unusual_user.dict.utf8", UNUSUAL_USER_ENTRIES)
    tiny_main = write_file(scratch_dir, "tiny.dict.utf8", TINY_MAIN_DICTIONARY)
    tiny_hmm = write_file(scratch_dir, "tiny_hmm.utf8", TINY_HMM)
    tiny_user = write_file(scratch_dir, "tiny_user.dict.utf8", TINY_USER_DICTIONARY)
    return [
        ("standard", (main, hmm, standard, idf, stop)),
        ("extra", (main, hmm, f"{standard}|{extra}", idf, stop)),
        ("unusual", (main, hmm, f"{standard};{unusual}", idf, stop)),
        ("tiny", (tiny_main, tiny_hmm, tiny_user, idf, stop)),
    ]


def build_pair(args):
    """The engine and the model on the same five constructor arguments."""
    import pyorveltext

    return pyorveltext.Jieba(*args), SegmenterModel(*args)


# ----------------------------------------------------------------------------- comparing


def model_outcome(words):
    """What the Python layer should give for these byte words: str words, or an error naming
    the first word that is not valid UTF-8."""
    decoded = []
    for word in words:
        try:
            decoded.append(word.decode("utf-8"))
        except UnicodeDecodeError:
            return f"UnicodeDecodeError on {word!r}"
    return decoded


def engine_outcome(method, sentence):
    try:
        return method(sentence)
    except UnicodeDecodeError as error:
        return f"UnicodeDecodeError on {error.object!r}"
    except Exception as error:  # only the type is compared
        return type(error).__name__


def disagreement(engine, model, sentence):
    """The first (mode, argument type, engine outcome, model outcome) that differ, or None."""
    for mode in ("cut", "cut_for_search"):
        expected = model_outcome(getattr(model, mode)(sentence))
        arguments = [("bytes", sentence)]
        try:
            arguments.append(("str", sentence.decode("utf-8")))
        except UnicodeDecodeError:
            pass
        for kind, argument in arguments:
            got = engine_outcome(getattr(engine, mode), argument)
            if got != expected:
                return mode, kind, got, expected
    return None


def units(sentence):
    return UNIT.findall(sentence)


def minimise(sentence, still_fails):
    """Greedily deletes chunks of units, halving the chunk size down to one unit, while the
    input keeps failing."""
    parts = units(sentence)
    size = max(1, len(parts) // 2)
    while True:
        i = 0
        while i < len(parts):
            trial = parts[:i] + parts[i + size:]
            if trial != parts and still_fails(b"".join(trial)):
                parts = trial
            else:
                i += size
        if size == 1:
            return b"".join(parts)
        size //= 2


# ----------------------------------------------------------------------------- generating


def read_golden_sentences(golden_dir):
    path = os.path.join(golden_dir, "public-userdict.jsonl")
    if not os.path.isfile(path):
        return ["他来到了网易杭研大厦", "我来自北京邮电大学。。。学号123456，用AK47"]
    with open(path, encoding="utf-8") as f:
        return [json.loads(line)["s"] for line in f]


def read_words(path, limit=None):
    words = []
    with open(path, "rb") as f:
        for line in f:
            word = line.rstrip(b"\r\n").split(b" ")[0]
            if word:
                words.append(word)
    return words if limit is None else words[:limit]


class SentenceGenerator:
    """Random sentences in several shapes, all reproducible from the seed."""

    def __init__(self, rng, model, data_dir, golden):
        self.rng = rng
        self.golden = [s.encode("utf-8", "surrogatepass") for s in golden]
        self.dict_words = read_words(os.path.join(data_dir, "jieba.dict.utf8"))
        self.user_words = (read_words(os.path.join(data_dir, "user.dict.utf8"))
                           + read_words(os.path.join(data_dir, "extra_user.dict.utf8"))
                           + [w for w in UNUSUAL_USER_ENTRIES.split(b"\n") if w])
        self.user_words = [w.split(b" ")[0] for w in self.user_words if w.split(b" ")[0]]
        emitting = set().union(*(table.keys() for table in model.emit))
        cjk = range(0x4E00, 0xA000)
        # Characters the HMM knows but the dictionary does not: long unknown runs.
        self.hmm_only = [chr(c) for c in cjk if c in emitting and (c,) not in model.words]
        # Characters neither knows: Viterbi has no emission for them at all.
        self.unknown = [chr(c) for c in cjk if c not in emitting and (c,) not in model.words]
        self.common = [chr(c) for c in cjk if c in emitting and (c,) in model.words]
        self.pieces = [
            (8, self.dict_word), (3, self.user_word), (4, self.common_char),
            (3, self.hmm_only_run), (1, self.unknown_char), (4, self.ascii_token),
            (3, self.separator), (2, self.punctuation), (1, self.full_width),
            (1, self.astral), (1, self.invalid), (2, self.disguised),
        ]
        self.shapes = [
            (2, self.golden_line), (10, self.mutated_golden), (10, self.mixture),
            (2, self.unknown_stretch), (1, self.long_sentence), (1, self.tiny),
            (3, self.tiny_alphabet),
        ]

    def pick(self, weighted):
        return self.rng.choices([f for _, f in weighted], [w for w, _ in weighted])[0]

    def sentence(self):
        return self.pick(self.shapes)()

    # --- pieces (bytes)

    def dict_word(self):
        return self.rng.choice(self.dict_words)

    def user_word(self):
        return self.rng.choice(self.user_words)

    def common_char(self):
        return self.rng.choice(self.common).encode()

    def hmm_only_run(self):
        return "".join(self.rng.choices(self.hmm_only, k=self.rng.randint(1, 6))).encode()

    def unknown_char(self):
        return self.rng.choice(self.unknown).encode()

    def ascii_token(self):
        return "".join(self.rng.choices(ASCII_TOKEN_CHARS, k=self.rng.randint(1, 8))).encode()

    def separator(self):
        return self.rng.choice(SEPARATORS).encode()

    def punctuation(self):
        return self.rng.choice(PUNCTUATION).encode()

    def full_width(self):
        return "".join(self.rng.choices(FULL_WIDTH, k=self.rng.randint(1, 4))).encode()

    def astral(self):
        return self.rng.choice(ASTRAL).encode()

    def invalid(self):
        return self.rng.choice(INVALID)

    def disguised(self):
        """A word or ASCII token with some characters in forms only the lenient decoder
        accepts, so they still match the dictionary and the ASCII rules by value."""
        source = self.dict_word() if self.rng.random() < 0.7 else self.ascii_token()
        out = b""
        for char in source.decode("utf-8"):
            if self.rng.random() < 0.5:
                out += lenient_encoding(ord(char), self.rng)
            else:
                out += char.encode("utf-8")
        return out

    def piece(self):
        return self.pick(self.pieces)()

    # --- sentence shapes

    def golden_line(self):
        return self.rng.choice(self.golden)

    def mutated_golden(self):
        parts = units(self.golden_line())
        for _ in range(self.rng.randint(1, 4)):
            parts = self.mutate(parts)
        return b"".join(parts)

    def mutate(self, parts):
        rng = self.rng
        at = rng.randint(0, len(parts))
        kind = rng.randrange(5)
        if kind == 0:  # insert a piece
            return parts[:at] + units(self.piece()) + parts[at:]
        if kind == 1:  # delete a few units
            return parts[:at] + parts[at + rng.randint(1, 3):]
        if kind == 2:  # replace one unit
            return parts[:at] + units(self.piece()) + parts[at + 1:]
        if kind == 3:  # splice with another line
            other = units(self.golden_line())
            return parts[:at] + other[rng.randint(0, len(other)):]
        return parts[:at] + [self.rng.choice(INVALID)] + parts[at:]

    def mixture(self):
        return b"".join(self.piece() for _ in range(self.rng.randint(1, 30)))

    def unknown_stretch(self):
        """A long run of characters outside the dictionary, now and then broken by ASCII,
        a separator or a common character."""
        out = []
        for _ in range(self.rng.randint(5, 80)):
            roll = self.rng.random()
            if roll < 0.85:
                out.append(self.rng.choice(self.hmm_only).encode())
            elif roll < 0.9:
                out.append(self.ascii_token())
            elif roll < 0.95:
                out.append(self.unknown_char())
            else:
                out.append(self.common_char())
        return b"".join(out)

    def long_sentence(self):
        roll = self.rng.random()
        if roll < 0.15:  # around the longest word a candidate may be
            char = self.rng.choice(["一", "龘", "测试", "a", "1"])
            return (char * self.rng.randint(250, 600)).encode()
        if roll < 0.5:
            return b"".join(self.golden_line() for _ in range(self.rng.randint(5, 40)))
        return b"".join(self.piece() for _ in range(self.rng.randint(200, 1500)))

    def tiny_alphabet(self):
        """Runes of the tiny setup's dictionary and HMM, some in lenient-only forms."""
        out = b""
        for char in self.rng.choices(TINY_ALPHABET, k=self.rng.randint(1, 20)):
            roll = self.rng.random()
            out += lenient_encoding(ord(char), self.rng) if roll < 0.05 else char.encode()
        return out

    def tiny(self):
        if self.rng.random() < 0.2:
            return b""
        return units(self.piece())[0] if self.rng.random() < 0.7 else self.piece()


def lenient_encoding(value, rng):
    """`value` in a byte form that is not valid UTF-8 but decodes to it: possibly overlong,
    possibly with continuation bytes whose top two bits are not 10."""
    shortest = 2 if value < 0x800 else 3 if value < 0x10000 else 4
    length = rng.randint(shortest, 4)
    lead_marks = {2: rng.choice([0x80, 0xA0, 0xC0]), 3: 0xE0, 4: 0xF0}
    lead = lead_marks[length] | value >> (6 * (length - 1))
    tail = [(value >> (6 * k)) & 0x3F | rng.choice([0x80, 0x80, 0x00, 0x40, 0xC0])
            for k in range(length - 2, -1, -1)]
    return bytes([lead] + tail)


# ----------------------------------------------------------------------------- running


def show(outcome):
    return outcome if isinstance(outcome, str) else json.dumps(outcome, ensure_ascii=False)


def check(pairs, generator, count, report=print):
    """Runs `count` sentences through every (name, engine, model); returns the disagreements
    found, each shrunk, one per distinct shrunk input."""
    found = {}
    for number in range(count):
        sentence = generator.sentence()
        for name, engine, model in pairs:
            first = disagreement(engine, model, sentence)
            if first is None:
                continue
            mode, kind = first[:2]

            def still_fails(candidate):
                other = disagreement(engine, model, candidate)
                return other is not None and other[:2] == (mode, kind)

            small = minimise(sentence, still_fails)
            key = (name, mode, kind, small)
            if key in found:
                continue
            _, _, got, expected = disagreement(engine, model, small)
            found[key] = (got, expected)
            report(f"[{name}] {mode}({kind}) input {small!r}\n"
                   f"    engine: {show(got)}\n    model:  {show(expected)}")
        if (number + 1) % 1000 == 0:
            report(f"... {number + 1} sentences, {len(found)} disagreements")
    return found


def parse_args(argv):
    parser = argparse.ArgumentParser(description=" ".join(__doc__.split("\n\n")[0].split()))
    parser.add_argument("--count", type=int, default=2000, help="sentences to generate")
    parser.add_argument("--seed", type=int, default=1, help="random seed")
    parser.add_argument("--data", default=DEFAULT_DATA, help="directory of the data files")
    parser.add_argument("--golden", default=None,
                        help="directory of the golden files (default: DATA/../golden)")
    parser.add_argument("--setups", default="standard,extra,unusual,tiny",
                        help="comma-separated user-dictionary setups to run")
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(argv)
    golden_dir = args.golden or os.path.join(os.path.dirname(os.path.abspath(args.data)), "golden")
    wanted = args.setups.split(",")
    with tempfile.TemporaryDirectory() as scratch:
        pairs = [(name, *build_pair(setup))
                 for name, setup in setups(args.data, scratch) if name in wanted]
        generator = SentenceGenerator(random.Random(args.seed), pairs[0][2], args.data,
                                      read_golden_sentences(golden_dir))
        found = check(pairs, generator, args.count)
    print(f"{args.count} sentences x {len(pairs)} setups, seed {args.seed}: "
          f"{len(found)} disagreements")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
