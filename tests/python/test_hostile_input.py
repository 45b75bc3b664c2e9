"""Input that tries to break the process: deep nesting on a small thread stack, a dump killed
part-way, text that cannot cross into C++, and bytes that are not UTF-8."""
import errno
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import threading
import time

import pytest
import tiny_jieba_data

from pyorveltext import BM25, Jieba

# The parser's nesting bound keeps its recursion to about 200 KiB of stack; builds with
# AddressSanitizer use ten times that per level.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
SMALL_STACK = (8 if UNDER_ASAN else 0.5) * 1024 * 1024


def model_file_text(model):
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "model.json")
        model.dump(path)
        with open(path, "rb") as source:
            return source.read()


def in_thread_with_small_stack(work):
    result = []
    previous = threading.stack_size(int(SMALL_STACK))
    try:
        thread = threading.Thread(target=lambda: result.append(work()))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    return result


@pytest.mark.parametrize("text", ["[" * 100_000, '{"a" : ' * 100_000, "[{" * 600 + "]}" * 600])
def test_deep_nesting_fits_a_small_thread_stack(text, capfd):
    def load():
        with pytest.raises(RuntimeError, match="^load doc_count failed$"):
            BM25().load(text)
        return True

    assert in_thread_with_small_stack(load) == [True]
    capfd.readouterr()


DUMP_LOOP = """
import sys
from pyorveltext import BM25
model = BM25()
model.train([f"token{i}" for i in range(300_000)])
print("ready", flush=True)
while True:
    model.dump(sys.argv[1])
"""


def test_killed_dump_leaves_the_old_or_the_new_file_whole(tmp_path):
    new = BM25()
    new.train([f"token{i}" for i in range(300_000)])
    new.dump(str(tmp_path / "new.json"))
    new_text = (tmp_path / "new.json").read_bytes()
    path = tmp_path / "model.json"
    old = BM25()
    old.train(["old"])
    old.dump(str(path))
    old_text = path.read_bytes()
    for delay in (0.0, 0.01, 0.03, 0.07, 0.15):
        child = subprocess.Popen(
            [sys.executable, "-c", DUMP_LOOP, str(path)], stdout=subprocess.PIPE, text=True
        )
        assert child.stdout.readline() == "ready\n"
        time.sleep(delay)
        child.send_signal(signal.SIGKILL)
        child.wait()
        child.stdout.close()
        assert path.read_bytes() in (old_text, new_text), "a killed dump left a partial file"
    # Only hidden temporary files may remain beside it.
    visible = sorted(name for name in os.listdir(tmp_path) if not name.startswith("."))
    assert visible == ["model.json", "new.json"]


class TestTextThatCannotCrossIntoCpp:
    LONE_SURROGATE = "中\ud800文"

    def test_cut(self, segmenter):
        for mode in ("cut", "cut_for_search"):
            with pytest.raises(TypeError):
                getattr(segmenter, mode)(self.LONE_SURROGATE)

    def test_bm25(self):
        model = BM25()
        with pytest.raises(TypeError):
            model.train([self.LONE_SURROGATE])
        with pytest.raises(TypeError):
            model.load(self.LONE_SURROGATE)


class TestBytesThatAreNotUtf8:
    def test_nul_bytes_are_ordinary_runes(self, segmenter):
        assert segmenter.cut("中\0文 a\0b") == ["中", "\0", "文", " ", "a", "\0", "b"]

    def test_tokens_round_trip_through_a_model_file_as_bytes(self, tmp_path):
        tokens = [b"\xff", b"a\x00b", b"\xe4\xb8", "\x01\x1f\x7f".encode()]
        model = BM25()
        model.train(tokens)
        path = tmp_path / "model.json"
        model.dump(str(path))
        restored = BM25()
        restored.load(path.read_bytes())
        assert restored.encode_query([b"a\x00b", "\x01\x1f\x7f"]) == model.encode_query(
            [b"a\x00b", "\x01\x1f\x7f"]
        )
        # A token that is not UTF-8 cannot become a str key of the result.
        with pytest.raises(UnicodeDecodeError):
            restored.encode_document([b"\xff"])


class TestTruncatedFiles:
    def test_model_text_cut_anywhere_fails_cleanly(self, capfd):
        model = BM25()
        model.train(["中国", "a\tb", "x"])
        model.train(["x", "y"])
        text = model_file_text(model)
        for length in range(len(text)):
            restored = BM25()
            try:
                restored.load(text[:length])
            except RuntimeError:
                continue
            # The parser is lenient about a missing closing brace, and nothing else.
            assert text[length:].strip() == b"}", length
            assert restored.encode_query(["x", "a\tb"]) == model.encode_query(["x", "a\tb"])
        capfd.readouterr()

    @pytest.mark.parametrize("arg", ["dict_path", "hmm_path", "user_dict_path"])
    def test_data_file_cut_anywhere_loads_or_names_itself(self, jieba_paths, tmp_path, arg):
        # The real file, cut, among tiny other files so that each construction is quick.
        content = pathlib.Path(jieba_paths[arg]).read_bytes()
        paths = tiny_jieba_data.write_files(tmp_path)
        # Cut points inside multi-byte characters and lines, near the start and the end.
        cuts = sorted({1, 2, 7, 64, 1000, len(content) // 3, len(content) - 2} - {0})
        for cut in (c for c in cuts if c < len(content)):
            path = tmp_path / f"cut-{cut}"
            path.write_bytes(content[:cut])
            try:
                segmenter = Jieba(**{**paths, arg: str(path)})
            except ValueError as error:
                assert str(error).startswith(f"{path}:"), error
                continue
            assert "".join(segmenter.cut("我来到北京清华大学")) == "我来到北京清华大学"
            assert "".join(segmenter.cut("甲乙丙丁")) == "甲乙丙丁"


class TestPathsWithNulBytes:
    """The C library would stop reading a path at its first NUL: another file than the one
    named would be read or replaced."""

    def test_dump_refuses(self, tmp_path):
        model = BM25()
        model.train(["a"])
        with pytest.raises(RuntimeError, match="^Failed to dump: Unable to open file$"):
            model.dump(str(tmp_path / "model.json") + "\0.txt")
        assert os.listdir(tmp_path) == []

    @pytest.mark.parametrize("arg", sorted(tiny_jieba_data.FILES))
    def test_jieba_refuses(self, tmp_path, arg):
        paths = tiny_jieba_data.write_files(tmp_path)
        named = paths[arg] + "\0ignored"
        with pytest.raises(OSError) as info:
            Jieba(**{**paths, arg: named})
        assert (info.value.errno, info.value.filename) == (errno.EINVAL, named)
