"""A slow, plain-Python model of the Chinese segmenter, written from the segmentation behaviour
document alone and kept independent of the native engine so the two can be compared.

Everything works on bytes: the input sentence is UTF-8 (decoded leniently, as the engine
does) and every word returned is a byte slice of it. Readability matters more than speed here.

    model = SegmenterModel(dict_path, hmm_path, user_dict_path, idf_path, stop_word_path)
    model.cut(b"...")             # mixed mode with HMM
    model.cut_for_search(b"...")  # search mode with HMM
"""

import math
import re
import sys

MIN = -3.14e100
MAX_WORD_RUNES = 512
SEPARATORS = frozenset([0x20, 0x09, 0x0A, 0xFF0C, 0x3002])
WHITESPACE = b" \t\n\v\f\r"
STATES = (B, E, M, S) = (0, 1, 2, 3)


# ----------------------------------------------------------------------------- text helpers


class DecodeError(ValueError):
    pass


def decode(data):
    """Lenient UTF-8: returns a list of (value, offset, length); continuation bytes are never
    checked, so anything but a lead byte >= 0xF8 or a sequence cut short decodes."""
    runes = []
    pos = 0
    end = len(data)
    while pos < end:
        b0 = data[pos]
        rem = end - pos
        if b0 < 0x80:
            value, size = b0, 1
        elif b0 <= 0xDF and rem >= 2:
            value, size = (b0 & 0x1F) << 6 | (data[pos + 1] & 0x3F), 2
        elif b0 <= 0xEF and rem >= 3:
            value = (b0 & 0x0F) << 12 | (data[pos + 1] & 0x3F) << 6 | (data[pos + 2] & 0x3F)
            size = 3
        elif b0 <= 0xF7 and rem >= 4:
            value = ((b0 & 0x07) << 18 | (data[pos + 1] & 0x3F) << 12
                     | (data[pos + 2] & 0x3F) << 6 | (data[pos + 3] & 0x3F))
            size = 4
        else:
            raise DecodeError(f"cannot decode byte 0x{b0:02X} at offset {pos}")
        runes.append((value, pos, size))
        pos += size
    return runes


def rune_values(data):
    try:  # strict UTF-8 decodes to the same values, and much faster
        return tuple(map(ord, data.decode("utf-8")))
    except UnicodeDecodeError:
        return tuple(value for value, _, _ in decode(data))


def split(s, separators):
    """Fields between separator bytes; a single trailing separator adds no empty field, and
    an empty string has no fields at all."""
    if not s:
        return []
    first = separators[:1]
    unified = s.translate(bytes.maketrans(separators, first * len(separators)))
    fields = unified.split(first)
    if unified.endswith(first):
        fields.pop()
    return fields  # fields hold no separators, so they equal the slices of `s`


def read_lines(path):
    """Lines cut at LF only; a final LF makes no extra line and CR is kept."""
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return lines


_DECIMAL = re.compile(rb"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
_HEX = re.compile(rb"([+-]?)0[xX]([0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)([pP][+-]?\d+)?")
_SPECIAL = re.compile(rb"([+-]?)(infinity|inf|nan(\([0-9A-Za-z_]*\))?)", re.IGNORECASE)


def atof(field):
    """C strtod in the "C" locale: the longest valid prefix after white space, else 0."""
    s = field.lstrip(WHITESPACE)
    match = _HEX.match(s)
    if match:
        sign, mantissa, exponent = match.groups()
        value = float.fromhex("0x" + mantissa.decode() + (exponent or b"p0").decode())
        return -value if sign == b"-" else value
    match = _SPECIAL.match(s)
    if match:
        sign, word = match.group(1), match.group(2).lower()
        value = math.nan if word.startswith(b"nan") else math.inf
        return -value if sign == b"-" else value
    match = _DECIMAL.match(s)
    return float(match.group(0)) if match else 0.0


def atoi(field):
    """C atoi as this platform does it: strtol clamped to 64 bits, then truncated to int32."""
    match = re.match(rb"[+-]?\d+", field.lstrip(WHITESPACE))
    if not match:
        return 0
    value = max(-(2 ** 63), min(2 ** 63 - 1, int(match.group(0))))
    value &= 0xFFFFFFFF
    return value - 2 ** 32 if value >= 2 ** 31 else value


def ln(x):
    """std::log: 0 gives -inf and a negative number NaN instead of raising."""
    if x == 0:
        return -math.inf
    if x < 0 or math.isnan(x):
        return math.nan
    return math.log(x)


# ----------------------------------------------------------------------------- loading


def load_main_dictionary(path):
    """Returns (words, freq_sum, min_weight, median_weight); words maps rune tuples to weights."""
    entries = []
    for number, line in enumerate(read_lines(path), 1):
        fields = split(line, b" ")
        if len(fields) != 3:
            raise ValueError(f"{path}:{number}: expected 3 fields, found {len(fields)}")
        try:
            word = rune_values(fields[0])
        except DecodeError as error:
            raise ValueError(f"{path}:{number}: {error}") from None
        freq = atof(fields[1])
        if not freq > 0:
            raise ValueError(f"{path}:{number}: frequency must be a number greater than 0")
        entries.append((word, freq))
    if not entries:
        raise ValueError(f"{path}: no entries")
    freq_sum = 0.0
    for _, freq in entries:
        freq_sum += freq
    if not freq_sum > 0:
        raise ValueError(f"{path}: frequency sum must be greater than 0")
    words = {}
    weights = []
    for word, freq in entries:
        weight = ln(freq / freq_sum)
        weights.append(weight)
        if word:
            words[word] = weight  # the last duplicate wins
    weights.sort()
    return words, freq_sum, weights[0], weights[len(weights) // 2]


def user_dictionary_paths(user_path):
    """An empty string means none; empty fields between '|' or ';' are skipped."""
    return [p for p in split(user_path, b"|;") if p]


def load_user_dictionary(path, words, singles, freq_sum, median_weight):
    """Adds the file's words to `words` (replacing main entries) and its one-rune words to
    `singles`. Undecodable words, empty words and lines of 4+ columns are skipped."""
    for line in read_lines(path):
        if not line:
            continue
        fields = split(line, b" ")
        if len(fields) > 3:
            continue
        if len(fields) == 3:
            weight = ln(atoi(fields[1]) / freq_sum)
        else:
            weight = median_weight
        try:
            word = rune_values(fields[0])
        except DecodeError:
            continue
        if not word:
            continue
        words[word] = weight
        if len(word) == 1:
            singles.add(word[0])


def load_hmm(path):
    """Returns (start, trans, emit): start[s], trans[from][to], emit[s] = {rune: log-prob}."""
    data = []
    for line in read_lines(path):
        line = line.strip(WHITESPACE)
        if line and not line.startswith(b"#"):
            data.append(line)
    if len(data) < 9:
        raise ValueError(f"{path}: expected at least 9 data lines, found {len(data)}")

    def four_numbers(line):
        fields = split(line, b" ")
        if len(fields) != 4:
            raise ValueError(f"{path}: expected 4 numbers in {line!r}")
        return [atof(f) for f in fields]

    def emissions(line):
        table = {}
        for item in split(line, b","):
            kv = split(item, b":")
            if len(kv) != 2:
                raise ValueError(f"{path}: bad emission item {item!r}")
            try:
                key = rune_values(kv[0])
            except DecodeError:
                key = ()
            if len(key) != 1:
                raise ValueError(f"{path}: emission key {kv[0]!r} is not one rune")
            table[key[0]] = atof(kv[1])
        return table

    start = four_numbers(data[0])
    trans = [four_numbers(line) for line in data[1:5]]
    emit = [emissions(line) for line in data[5:9]]
    return start, trans, emit


def check_readable(path):
    """The IDF table and stop words never affect cutting, but must open like any data file."""
    with open(path, "rb"):
        pass


def as_bytes(value):
    return value.encode("utf-8") if isinstance(value, str) else bytes(value)


# ----------------------------------------------------------------------------- the model


class SegmenterModel:
    def __init__(self, dict_path, hmm_path, user_dict_path, idf_path, stop_word_path):
        dict_path, hmm_path, user_dict_path = map(as_bytes, (dict_path, hmm_path, user_dict_path))
        self.words, freq_sum, self.min_weight, median = load_main_dictionary(dict_path)
        self.user_singles = set()
        for path in user_dictionary_paths(user_dict_path):
            load_user_dictionary(path, self.words, self.user_singles, freq_sum, median)
        self.start, self.trans, self.emit = load_hmm(hmm_path)
        check_readable(as_bytes(idf_path))
        check_readable(as_bytes(stop_word_path))
        # Every prefix of every word, so candidate search can stop as soon as none can match.
        self.prefixes = set()
        for word in self.words:
            for length in range(1, min(len(word), MAX_WORD_RUNES) + 1):
                self.prefixes.add(word[:length])

    # --- public interface: bytes in, list of byte words out

    def cut(self, sentence):
        return self._cut(sentence, self._mixed_words)

    def cut_for_search(self, sentence):
        return self._cut(sentence, self._search_words)

    def _cut(self, sentence, cut_range):
        sentence = as_bytes(sentence)
        try:
            runes = decode(sentence)
        except DecodeError:
            return []
        words = []
        for first, last in self._ranges(runes):
            for a, b in cut_range([value for value, _, _ in runes[first:last]]):
                start = runes[first + a][1]
                end_rune = runes[first + b - 1]
                words.append(sentence[start:end_rune[1] + end_rune[2]])
        return words

    @staticmethod
    def _ranges(runes):
        """Yields (first, last) rune index pairs: each separator alone, other runes in stretches."""
        first = 0
        for i, (value, _, _) in enumerate(runes):
            if value in SEPARATORS:
                if first < i:
                    yield first, i
                yield i, i + 1
                first = i + 1
        if first < len(runes):
            yield first, len(runes)

    # --- per range; every cutter returns (start, end) spans of rune positions within the range

    def _search_words(self, r):
        spans = []
        for a, b in self._mixed_words(r):
            length = b - a
            for window in (2, 3):
                if length > window:
                    for k in range(a, b - window + 1):
                        if tuple(r[k:k + window]) in self.words:
                            spans.append((k, k + window))
            spans.append((a, b))
        return spans

    def _mixed_words(self, r):
        spans = []
        pending = []  # one-rune MP words that the HMM may join
        for a, b in self._max_prob_words(r):
            if b - a == 1 and r[a] not in self.user_singles:
                pending.append(a)
                continue
            if pending:
                spans.extend(self._hmm_run(r, pending[0], pending[-1] + 1))
                pending = []
            spans.append((a, b))
        if pending:
            spans.extend(self._hmm_run(r, pending[0], pending[-1] + 1))
        return spans

    def _candidates(self, r, i):
        """(end, weight or None) for the single rune, then every longer dictionary word."""
        single = self.words.get((r[i],))
        found = [(i, single)]
        length = 2
        while i + length <= len(r) and length <= MAX_WORD_RUNES:
            key = tuple(r[i:i + length])
            if key not in self.prefixes:
                break
            if key in self.words:
                found.append((i + length - 1, self.words[key]))
            length += 1
        return found

    def _max_prob_words(self, r):
        n = len(r)
        best = [MIN] * n
        choice = [None] * n
        for i in range(n - 1, -1, -1):
            for end, weight in self._candidates(r, i):
                following = best[end + 1] if end + 1 < n else 0.0
                v = following + (weight if weight is not None else self.min_weight)
                if v > best[i]:
                    best[i] = v
                    choice[i] = (end, weight)
        spans = []
        i = 0
        while i < n:
            if choice[i] is not None and choice[i][1] is not None:
                end = choice[i][0]
            else:
                end = i
            spans.append((i, end + 1))
            i = end + 1
        return spans

    def _hmm_run(self, r, first, last):
        """Cuts runes first..last-1: ASCII tokens by rule, other stretches by Viterbi."""
        spans = []
        pending = first
        i = first
        while i < last:
            if r[i] >= 0x80:
                i += 1
                continue
            if pending < i:
                spans.extend(self._viterbi(r, pending, i))
            j = ascii_token_end(r, i, last)
            spans.append((i, j))
            i = pending = j
        if pending < last:
            spans.extend(self._viterbi(r, pending, last))
        return spans

    def _emission(self, state, rune):
        return self.emit[state].get(rune, MIN)

    def _viterbi(self, r, first, last):
        c = r[first:last]
        V = [[self.start[s] + self._emission(s, c[0]) for s in STATES]]
        P = [[E] * 4]
        for t in range(1, len(c)):
            row = []
            back = []
            for s in STATES:
                best, prev = MIN, E
                em = self._emission(s, c[t])
                for q in STATES:
                    v = (V[t - 1][q] + self.trans[q][s]) + em
                    if v > best:
                        best, prev = v, q
                row.append(best)
                back.append(prev)
            V.append(row)
            P.append(back)
        x = len(c)
        status = [0] * x
        status[x - 1] = E if V[x - 1][E] >= V[x - 1][S] else S
        for t in range(x - 1, 0, -1):
            status[t - 1] = P[t][status[t]]
        spans = []
        word_start = 0
        for t in range(x):
            if status[t] in (E, S) or t == x - 1:
                spans.append((first + word_start, first + t + 1))
                word_start = t + 1
        return spans


def is_alnum(rune):
    return 0x30 <= rune <= 0x39 or 0x41 <= rune <= 0x5A or 0x61 <= rune <= 0x7A


def is_digit(rune):
    return 0x30 <= rune <= 0x39


def ascii_token_end(r, i, last):
    """End of the ASCII token at i: letters and digits with an optional '.digits' suffix, or
    else the one rune alone. Never looks past `last`, the end of the HMM run."""
    j = i + 1
    if not is_alnum(r[i]):
        return j
    while j < last and is_alnum(r[j]):
        j += 1
    if j + 1 < last and r[j] == 0x2E and is_digit(r[j + 1]):
        j += 1
        while j < last and is_digit(r[j]):
            j += 1
    return j


def main(argv):
    """Usage: segmenter_model.py DATA_DIR [USER_DICT_PATHS] < lines; prints both cuts per line."""
    import json
    import os

    data = argv[1] if len(argv) > 1 else "/work/shared/jieba/data"
    user = argv[2] if len(argv) > 2 else os.path.join(data, "user.dict.utf8")
    model = SegmenterModel(*(os.path.join(data, name) for name in
                             ("jieba.dict.utf8", "hmm_model.utf8")), user,
                           os.path.join(data, "idf.utf8"), os.path.join(data, "stop_words.utf8"))
    for line in sys.stdin.buffer:
        line = line.rstrip(b"\n")
        show = [w.decode("utf-8", "backslashreplace") for w in model.cut(line)]
        search = [w.decode("utf-8", "backslashreplace") for w in model.cut_for_search(line)]
        print(json.dumps({"cut": show, "search": search}, ensure_ascii=False))


if __name__ == "__main__":
    main(sys.argv)
