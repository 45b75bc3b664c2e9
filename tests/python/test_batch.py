"""Batch methods: Jieba.cut_many / cut_for_search_many and BM25.train_many /
encode_documents / encode_queries. Each equals its per-item loop; these tests own the
conversion, dispatch, errors, lock and outputs (the C++ suite owns hashing and weighting)."""
import json
import math
import sys
import threading

import pytest

import pyorveltext
from conftest import SHARED

LOCAL_TEXTS = [
    "我来到北京清华大学，研究生命科学。",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "Python 3.10 和 C++17 一起写扩展模块，速度提高了 3.5 倍！",
    "今天天气不错，我们去颐和园划船吧。\u3000 全角空格和\t制表符",
    "ＡＢＣ全角字母、emoji😀和한국어混在一起",
    "他说的确实在理，结婚的和尚未结婚的都来了",
    "南京市长江大桥于1968年12月29日建成通车",
    "",
]
MODES = {"search": "cut_for_search", "cut": "cut"}


@pytest.fixture(scope="module")
def texts():
    """Golden sentences when the shared data is there (a few thousand), else a local set."""
    golden = SHARED / "jieba" / "golden" / "public-userdict.jsonl"
    if not golden.is_file():
        return LOCAL_TEXTS
    lines = golden.read_text(encoding="utf-8").split("\n")
    return [json.loads(line)["s"] for line in lines[:3000] if line] + LOCAL_TEXTS


@pytest.fixture(scope="module")
def stop_set(jieba_paths):
    with open(jieba_paths["stop_word_path"], "rb") as f:
        return {line.decode() for line in f.read().split(b"\n") if line}


def python_tokens(segmenter, text, mode, stop_set=None):
    words = getattr(segmenter, MODES[mode])(text)
    if stop_set is None:
        return words
    return [w for w in words if w not in stop_set and not w.isspace()]


def dump_text(model, tmp_path):
    path = tmp_path / "model.json"
    model.dump(str(path))
    return path.read_text(encoding="utf-8")


def exact(results):
    """Keys in order and weights bit for bit."""
    return [[(k, float.hex(v)) for k, v in r.items()] for r in results]


class TestCutMany:
    @pytest.mark.parametrize("threads", [1, 2])
    @pytest.mark.parametrize("mode", MODES.values())
    def test_equals_per_item_calls(self, segmenter, texts, mode, threads):
        # Fault: words from a neighbour's sentence, or lists out of order, under threads.
        expected = [getattr(segmenter, mode)(t) for t in texts]
        assert getattr(segmenter, mode + "_many")(texts, threads=threads) == expected

    @pytest.mark.parametrize("mode", ["default", "search"])
    def test_hmm_switch_reaches_the_engine(self, segmenter, texts, mode):
        # Fault: hmm=False dropped on the way, giving the HMM cut (unknown words joined).
        method = "cut_many" if mode == "default" else "cut_for_search_many"
        expected = [[w for w, _, _ in segmenter.tokenize(t, mode=mode, hmm=False)] for t in texts]
        assert getattr(segmenter, method)(texts, threads=2, hmm=False) == expected

    def test_short_words_differing_in_one_byte_get_their_own_str(self, segmenter):
        # Fault: two short words filed under one hash (the cache compares words of up to seven
        # bytes by hash and length alone), so one would be handed the other's str. Every
        # string of 1 to 8 letters a/b is a word of its own.
        import itertools
        words = ["".join(p) for n in range(1, 9) for p in itertools.product("ab", repeat=n)]
        assert segmenter.cut_many(words, threads=1) == [[w] for w in words]

    def test_returned_lists_are_left_to_the_cycle_collector(self, segmenter, texts):
        # Fault: lists built untracked and never tracked, so that a cycle a caller makes
        # through one (appending the list to itself) would never be collected.
        import gc
        lists = segmenter.cut_many(texts, threads=2)
        assert all(gc.is_tracked(words) for words in lists)

    def test_equal_words_share_one_str(self, segmenter):
        # Fault: the batch's str cache unused (one str per occurrence: results twice as large),
        # or a word too long for the cache built wrongly.
        # The astral runes are words the cache decodes itself, at the widest str kind.
        items = ["北京大学", b"\xe5\x8c\x97\xe4\xba\xac\xe5\xa4\xa7\xe5\xad\xa6", "x" * 60, "𠀀é𠀁"]
        lists = segmenter.cut_many(items, threads=1)
        assert lists == [segmenter.cut(s) for s in items]
        assert lists[0][0] is lists[1][0]

    def test_bytes_and_tuples_are_accepted(self, segmenter):
        items = ("北京".encode(), bytearray("清华大学".encode()), "大学")
        assert segmenter.cut_many(items) == [segmenter.cut(s) for s in items]

    def test_invalid_word_raises_like_cut(self, segmenter):
        # Fault: the batch handing back a mangled str where cut raises UnicodeDecodeError.
        with pytest.raises(UnicodeDecodeError) as per_item:
            segmenter.cut(b"\xe4AB")
        with pytest.raises(UnicodeDecodeError) as batch:
            segmenter.cut_many(["好", b"\xe4AB"], threads=2)
        assert str(batch.value) == str(per_item.value)

    def test_undecodable_sentence_gives_no_words_and_its_line(self, segmenter, capfd):
        capfd.readouterr()
        assert segmenter.cut_many([b"\xff", "好", b"\xff"], threads=2) == [[], ["好"], []]
        err = capfd.readouterr().err
        assert err.splitlines() == [
            "[pyorveltext.jieba] ERROR UTF-8 decode failed for input sentence"
        ] * 2

    @pytest.mark.parametrize(
        "call, error, message",
        [
            (lambda j: j.cut_many(["a", 3]), TypeError, r"sentences\[1\]"),
            (lambda j: j.cut_many(["\ud800"]), TypeError, r"sentences\[0\]"),
            # Fault: the scan of a two-byte str catching high surrogates only.
            (lambda j: j.cut_many(["北京\udfff"]), TypeError, r"sentences\[0\]"),
            # Fault: the scan of a str stored four bytes per character (it holds one beyond
            # the BMP) missing its lone surrogate.
            (lambda j: j.cut_many(["北", "😀文\udfff"]), TypeError, r"sentences\[1\]"),
            (lambda j: j.cut_many("北京"), TypeError, "not a single str"),
            (lambda j: j.cut_many(["a"], threads=-1), ValueError, "threads"),
            (lambda j: j.cut_many(["a"], threads=1.0), TypeError, "threads"),
        ],
    )
    def test_bad_arguments(self, segmenter, call, error, message):
        with pytest.raises(error, match=message):
            call(segmenter)

    def test_other_threads_run_while_a_batch_is_cut(self, segmenter):
        # Fault: holding the lock for the whole batch would freeze every other thread.
        batch = [LOCAL_TEXTS[0] * 50] * 4000  # about 10 MB
        ticks = []
        done = threading.Event()

        def ticker():
            while not done.is_set():
                ticks.append(1)
                done.wait(0.001)

        t = threading.Thread(target=ticker)
        t.start()
        try:
            segmenter.cut_many(batch, threads=1)
        finally:
            done.set()
            t.join()
        assert len(ticks) > 5


def trained(documents):
    model = pyorveltext.BM25()
    for d in documents:
        model.train(d)
    return model


class TestTrainMany:
    def test_token_lists_equal_the_train_loop(self, tmp_path):
        documents = [["a", "b", "a"], [b"b", bytearray(b"c")], [7, 42, 7], ("7", "x")]
        model = pyorveltext.BM25(0.5, 1.5)
        model.train_many(documents)
        loop = pyorveltext.BM25(0.5, 1.5)
        for d in documents:
            loop.train(d)
        assert dump_text(model, tmp_path) == dump_text(loop, tmp_path)

    @pytest.mark.parametrize("threads", [1, 2])
    @pytest.mark.parametrize("stop_words", [False, True])
    @pytest.mark.parametrize("mode", MODES)
    def test_texts_equal_training_on_python_tokens(
        self, segmenter, texts, stop_set, tmp_path, mode, stop_words, threads
    ):
        # Fault: native counting that differs from Python segmentation (dropped or extra words,
        # lost counts between threads).
        usable = [t for t in texts if python_tokens(segmenter, t, mode, stop_set if stop_words else None)]
        model = pyorveltext.BM25()
        model.train_many(usable, tokenizer=segmenter, mode=mode, stop_words=stop_words,
                         threads=threads)
        loop = trained(
            python_tokens(segmenter, t, mode, stop_set if stop_words else None) for t in usable
        )
        assert dump_text(model, tmp_path) == dump_text(loop, tmp_path)

    def test_documents_that_make_their_tokens_on_the_fly(self, tmp_path):
        # Fault: keeping views into token objects that a custom sequence frees again.
        class Words:
            def __init__(self, n):
                self.n = n

            def __len__(self):
                return self.n

            def __getitem__(self, i):
                if i >= self.n:
                    raise IndexError(i)
                return f"词{i % 3}" * 20  # a new, long str each time

        model = pyorveltext.BM25()
        model.train_many([Words(5), Words(3)])
        assert dump_text(model, tmp_path) == dump_text(trained([Words(5), Words(3)]), tmp_path)
        assert model.encode_documents([Words(4)]) == [model.encode_document(Words(4))]

    def test_empty_document_raises_like_train_and_keeps_those_before(self, tmp_path):
        model = pyorveltext.BM25()
        with pytest.raises(RuntimeError) as error:
            model.train_many([["a"], ["b"], [], ["c"]])
        with pytest.raises(RuntimeError) as per_item:
            pyorveltext.BM25().train([])
        assert str(error.value) == str(per_item.value)
        assert dump_text(model, tmp_path) == dump_text(trained([["a"], ["b"]]), tmp_path)

    @pytest.mark.parametrize("threads", [1, 2])
    def test_text_with_no_word_left_raises_and_keeps_those_before(
        self, segmenter, tmp_path, threads
    ):
        # Fault: a thread that ran ahead leaving texts after the failure in the model.
        texts = ["北京大学"] * 50 + ["的 了"] + ["清华大学"] * 50
        model = pyorveltext.BM25()
        with pytest.raises(RuntimeError):
            model.train_many(texts, tokenizer=segmenter, stop_words=True, threads=threads)
        expected = trained(segmenter.cut_for_search(t) for t in texts[:50])
        assert dump_text(model, tmp_path) == dump_text(expected, tmp_path)

    @pytest.mark.parametrize(
        "kwargs, documents, error, message",
        [
            ({}, [["a"], ["b", 1.5]], TypeError, r"documents\[1\]"),
            ({}, [["a"], "ab"], TypeError, r"documents\[1\]"),
            ({"tokenizer": "jieba"}, ["a"], TypeError, "Jieba"),
            ({"tokenizer": True}, ["a", 5], TypeError, r"documents\[1\]"),
            ({"tokenizer": True}, ["a"], ValueError, "mode"),
            ({"stop_words": True}, [["a"]], ValueError, "tokenizer"),
            ({"threads": -2}, [["a"]], ValueError, "threads"),
            ({"threads": "2"}, [["a"]], TypeError, "threads"),
        ],
    )
    def test_bad_input_changes_nothing(self, segmenter, tmp_path, kwargs, documents, error,
                                       message):
        kwargs = dict(kwargs)
        if kwargs.get("tokenizer") is True:
            kwargs["tokenizer"] = segmenter
            if message == "mode":
                kwargs["mode"] = "tokens"
        model = trained([["z"]])
        before = dump_text(model, tmp_path)
        with pytest.raises(error, match=message):
            model.train_many(documents, **kwargs)
        assert dump_text(model, tmp_path) == before


@pytest.fixture(scope="module")
def model(segmenter, texts):
    m = pyorveltext.BM25()
    m.train_many([t for t in texts if t.strip()], tokenizer=segmenter)
    m.train_many([[1, 2, 3], [3, 4]])
    return m


class TestEncodeMany:
    @pytest.mark.parametrize("method", ["encode_documents", "encode_queries"])
    def test_token_lists_equal_the_per_item_encoder(self, model, method):
        documents = [["北京", "a", "北京"], [b"x", "y"], [3, 1, 3, -5], [], ["never-seen"]]
        single = getattr(model, {"encode_documents": "encode_document",
                                 "encode_queries": "encode_query"}[method])
        expected = [single(d) for d in documents]
        assert exact(getattr(model, method)(documents)) == exact(expected)

    @pytest.mark.parametrize("threads", [1, 2])
    @pytest.mark.parametrize("stop_words", [False, True])
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("method", ["encode_document", "encode_query"])
    def test_texts_equal_encoding_python_tokens(
        self, model, segmenter, texts, stop_set, method, mode, stop_words, threads
    ):
        expected = [
            getattr(model, method)(python_tokens(segmenter, t, mode, stop_set if stop_words else None))
            for t in texts
        ]
        got = getattr(model, {"encode_document": "encode_documents",
                              "encode_query": "encode_queries"}[method])(
            texts, tokenizer=segmenter, mode=mode, stop_words=stop_words, threads=threads
        )
        assert exact(got) == exact(expected)

    def test_hmm_switch_reaches_the_counting(self, model, segmenter, texts):
        # Fault: the encoders' hmm=False ignored, so vectors hold the HMM's words.
        tokens = [[w for w, _, _ in segmenter.tokenize(t, mode="search", hmm=False)] for t in texts]
        expected = [model.encode_document(t) for t in tokens]
        got = model.encode_documents(texts, tokenizer=segmenter, hmm=False, threads=2)
        assert exact(got) == exact(expected)

    def test_untrained_model_raises_like_the_per_item_encoder(self, segmenter):
        with pytest.raises(RuntimeError, match="not been initialized"):
            pyorveltext.BM25().encode_queries(["北京"], tokenizer=segmenter)
        # Empty items need no model, as encode_query([]) does not.
        assert pyorveltext.BM25().encode_queries([[]]) == [{}]


@pytest.fixture(scope="module")
def many_chunks():
    """About 2.5 MB of distinct texts: several chunks for every batch method."""
    return [f"第{i}号：" + LOCAL_TEXTS[i % 7] for i in range(40000)]


class TestChunks:
    # Fault: a chunk's results written at the wrong offset, skipped or built twice when several
    # threads take chunks (more threads than cores too), or a later chunk's work racing with the
    # building of the one before.
    @pytest.mark.parametrize("threads", [2, 5])
    def test_many_chunks_equal_per_item_results(self, segmenter, model, many_chunks, threads):
        cut = segmenter.cut_many(many_chunks, threads=threads)
        assert cut == [segmenter.cut(t) for t in many_chunks]
        got = model.encode_documents(many_chunks, tokenizer=segmenter, threads=threads)
        assert exact(got) == exact(
            [model.encode_document(segmenter.cut_for_search(t)) for t in many_chunks]
        )

    def test_many_chunks_of_sparse_vectors(self, segmenter, model, many_chunks):
        # Fault: the batch's shared ids or weights handing one document another's object once
        # the tables have grown past their first size (some 40,000 distinct tokens here).
        dicts = model.encode_documents(many_chunks, tokenizer=segmenter, threads=2)
        sparse = model.encode_documents(
            many_chunks, output="sparse", tokenizer=segmenter, threads=2
        )
        for d, s in zip(dicts, sparse):
            assert sorted(s["indices"]) == s["indices"]
            assert sparse_of(s) == {mmh3_id(k): v for k, v in d.items()}

    @pytest.mark.parametrize("threads", [1, 2])
    def test_error_in_a_later_chunk_is_raised(self, segmenter, model, many_chunks, threads):
        batch = many_chunks[:-10] + [b"\xe4AB"] + many_chunks[-10:]
        with pytest.raises(UnicodeDecodeError):
            segmenter.cut_many(batch, threads=threads)
        with pytest.raises(UnicodeDecodeError):
            model.encode_queries(batch, tokenizer=segmenter, threads=threads)


def fresh(text):
    """An equal str that CPython has never been asked the UTF-8 form of."""
    return text.encode("utf-8").decode("utf-8")


class TestStrConversion:
    # A batch reads the characters of a str without the lock and writes their UTF-8 itself.
    @pytest.mark.parametrize(
        "text",
        ["café crème brûlée", "我来到北京 ASCII 清华大学", "emoji😀和𠀋字", "研究生命科学。",
         "南京市长江大桥"],
        ids=["one-byte", "two-byte", "four-byte", "utf8-copy-made", "str-subclass"],
    )
    def test_each_kind_of_str_reads_like_cpython(self, request, segmenter, text):
        # Fault: a code point of one storage width encoded with the wrong length or bits, a
        # UTF-8 copy CPython already keeps (a per-item call makes it) read with a wrong length,
        # or a subclass's characters, which live outside the object, read as if inside.
        item, kind = fresh(text), request.node.callspec.id
        if kind == "utf8-copy-made":
            segmenter.cut(item)
        elif kind == "str-subclass":
            item = type("Text", (str,), {})(item)
        expected = [segmenter.cut(fresh(text)), ["我", "来到"]]
        assert segmenter.cut_many([item, fresh("我来到")]) == expected

    def test_batch_leaves_no_utf8_copy_on_its_strs(self, segmenter):
        # Fault: batches asking CPython for each str's UTF-8, which it keeps with the str for
        # the str's life: 3 bytes a Chinese character, beside the 2 the str takes.
        text = fresh("我来到北京清华大学")
        size = sys.getsizeof(text)
        segmenter.cut_many([text])
        pyorveltext.BM25().train_many([text], tokenizer=segmenter)
        assert sys.getsizeof(text) == size
        segmenter.cut(text)  # the per-item call does keep one, which the check above would see
        assert sys.getsizeof(text) > size

    def test_texts_encoded_on_two_threads_stay_apart(self, segmenter, tmp_path):
        # Fault: one text's encoding spilling a byte into the next one's place in the shared
        # buffer, which shows only when another thread has already written that next text.
        # All Chinese, so each text fills the room set aside for it to the last byte.
        texts = [fresh("".join(chr(0x4E00 + (i * 7 + k) % 3000) for k in range(24)))
                 for i in range(6000)]
        one, two = pyorveltext.BM25(), pyorveltext.BM25()
        two.train_many(texts, tokenizer=segmenter, threads=2)
        one.train_many(texts, tokenizer=segmenter, threads=1)
        assert dump_text(two, tmp_path) == dump_text(one, tmp_path)


def sparse_of(result):
    return dict(zip(result["indices"], result["values"]))


def mmh3_id(token):
    return pytest.importorskip("mmh3").hash(token, 0, signed=False)


mmh3 = pytest.importorskip("mmh3")


class TestOutputs:
    def test_sparse_ids_match_mmh3_on_generated_tokens(self, model):
        # Fault: ids another client (pinecone-text, Qdrant users) cannot reproduce. Every
        # UTF-8 length, every tail length, non-BMP characters, the empty token, int tokens.
        alphabet = ["a", "é", "中", "😀", " ", "\x00", "𠀀"]
        tokens = [""] + [
            "".join(alphabet[(i * 7 + k * 3) % len(alphabet)] for k in range(i % 9 + 1))
            for i in range(400)
        ]
        results = model.encode_queries([[t] for t in tokens], output="sparse")
        assert [r["indices"] for r in results] == [
            [mmh3.hash(t.encode(), 0, signed=False)] for t in tokens
        ]
        ints = [0, -1, 2**63 - 1, -(2**63), 12345]
        results = model.encode_queries([[n] for n in ints], output="sparse")
        assert [r["indices"] for r in results] == [[mmh3.hash(str(n), 0, signed=False)] for n in ints]

    def test_sparse_is_the_dict_by_id_sorted(self, model, segmenter, texts):
        dicts = model.encode_documents(texts[:200], tokenizer=segmenter)
        sparse = model.encode_documents(texts[:200], tokenizer=segmenter, output="sparse")
        for d, s in zip(dicts, sparse):
            assert s["indices"] == sorted(s["indices"])
            assert sparse_of(s) == {mmh3.hash(k, 0, signed=False): v for k, v in d.items()}

    def test_colliding_tokens_are_summed(self, model):
        # Fault: a repeated index, which vector stores reject, or a lost weight.
        seen = {}
        for i in range(300000):
            token = f"t{i}"
            h = mmh3.hash(token, 0, signed=False)
            if h in seen:
                pair = [seen[h], token]
                break
            seen[h] = token
        query = model.encode_query(pair + ["北京"])
        (result,) = model.encode_queries([pair + ["北京"]], output="sparse")
        assert len(result["indices"]) == 2
        assert sparse_of(result)[h] == query[pair[0]] + query[pair[1]]

    # Fault (documents): the row starts of a chunk's rows shifted when appended to the CSR
    # arrays.
    @pytest.mark.parametrize("method", ["encode_documents", "encode_queries"])
    def test_csr_equals_sparse(self, model, segmenter, texts, method):
        scipy_sparse = pytest.importorskip("scipy.sparse")
        items = texts[:300] + ["", "北京"]
        sparse = getattr(model, method)(items, tokenizer=segmenter, output="sparse")
        csr = getattr(model, method)(items, tokenizer=segmenter, output="csr")
        assert isinstance(csr, scipy_sparse.csr_array)
        assert csr.shape == (len(items), 2**32)
        for row, s in enumerate(sparse):
            start, end = csr.indptr[row], csr.indptr[row + 1]
            assert csr.indices[start:end].tolist() == s["indices"]
            assert csr.data[start:end].tolist() == s["values"]

    @pytest.mark.parametrize("threads", [1, 2])
    def test_sparse_documents_around_texts_with_no_word(
        self, model, segmenter, stop_set, threads
    ):
        # Fault: a text with no word left misplacing the rows after it (a chunk's rows lie end
        # to end), or its empty vector dropped.
        items = ["", "北京", " ", "", "我来到北京清华大学"] * 3 + ["的"]
        got = model.encode_documents(
            items, tokenizer=segmenter, output="sparse", stop_words=True, threads=threads
        )
        expected = [
            model.encode_document(python_tokens(segmenter, t, "search", stop_set)) for t in items
        ]
        assert [sparse_of(s) for s in got] == [
            {mmh3_id(k): v for k, v in d.items()} for d in expected
        ]
        assert got[0] == {"indices": [], "values": []}

    def test_untrained_model_raises_for_sparse_documents(self, segmenter):
        # Fault: the stand-in length with which an untrained model's rows are made leaking out
        # as weights, instead of the per-item encoder's error at the first text with a word.
        untrained = pyorveltext.BM25()
        with pytest.raises(RuntimeError, match="not been initialized"):
            untrained.encode_documents(["", "北京"], tokenizer=segmenter, output="sparse")
        assert untrained.encode_documents([""], tokenizer=segmenter, output="sparse") == [
            {"indices": [], "values": []}
        ]

    def test_sparse_results_join_the_cycle_collector(self, model, segmenter, texts):
        # Fault: the result containers, built out of the collector's sight, never shown to it
        # again, so a cycle through a result is never freed.
        import gc
        import weakref

        class Marker:
            pass

        results = model.encode_documents(texts[:50], tokenizer=segmenter, output="sparse")
        assert all(gc.is_tracked(r) for r in [results, results[0], results[-1]["indices"]])
        marker = Marker()
        marker.cycle = results
        results[-1]["values"].append(marker)
        alive = weakref.ref(marker)
        del marker, results
        gc.collect()
        assert alive() is None

    def test_csr_without_scipy_names_it(self, model, monkeypatch):
        monkeypatch.setitem(__import__("sys").modules, "scipy.sparse", None)
        with pytest.raises(ImportError, match="scipy"):
            model.encode_documents([["a"]], output="csr")

    def test_unknown_output_is_refused(self, model):
        with pytest.raises(ValueError, match="output"):
            model.encode_documents([["a"]], output="list")
