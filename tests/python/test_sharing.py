"""Objects that travel to other processes: BM25 and Jieba pickling and copying, BM25's
read-only statistics and merge as Python sees them. The merge arithmetic itself is tested in
tests/cpp/bm25_merge_test.cpp."""
import copy
import multiprocessing
import os
import pickle
import shutil
import struct

import pytest

from pyorveltext import BM25, Jieba

SENTENCES = ["我来到北京清华大学", "他来到了网易杭研大厦", "小明硕士毕业于中国科学院计算所"]


def bits(value):
    return struct.pack("<d", value)


def dump_bytes(model, tmp_path, name="m.json"):
    path = tmp_path / name
    model.dump(str(path))
    return path.read_bytes()


def one_third_model():
    """Average 4/3, doubled 20 times: 3 * 2^20 documents whose exact total (4 * 2^20)
    differs from count * the file's rounded average (1.333333) by more than one token."""
    model = BM25(0.5, 2.0)
    model.train(["a"])
    model.train(["a", "b"])
    model.train([1])
    for _ in range(20):
        model += model
    return model


COPIERS = {
    "pickle": lambda m: pickle.loads(pickle.dumps(m, protocol=pickle.HIGHEST_PROTOCOL)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


class TestBM25Copies:
    @pytest.mark.parametrize("how", COPIERS)
    def test_equal_and_independent(self, how, tmp_path):
        # Catches a copy that shares the native model, or loses parameters or counts.
        model = one_third_model()
        twin = COPIERS[how](model)
        assert twin is not model
        assert dump_bytes(twin, tmp_path, "a") == dump_bytes(model, tmp_path, "b")
        doc = ["a", "b", "b", "zz"]
        assert [bits(w) for w in twin.encode_document(doc).values()] == [
            bits(w) for w in model.encode_document(doc).values()
        ]
        assert twin.encode_query(doc) == model.encode_query(doc)
        twin.train(["new"])
        assert model.vocabulary_size == 3 and twin.vocabulary_size == 4

    @pytest.mark.parametrize("how", COPIERS)
    def test_training_continues_from_the_exact_total(self, how):
        # Catches a total recomputed from the rounded average, as loading the file does.
        model = one_third_model()
        twin = COPIERS[how](model)
        for m in (model, twin):
            m.train(["c", "c", "c"])
        assert bits(twin.doc_length_average) == bits(model.doc_length_average)
        via_file = BM25(0.5, 2.0)
        via_file.load(dump_text(model))
        via_file.train(["c", "c", "c"])
        # The file path cannot give this (that is why pickles carry the total).
        assert bits(via_file.doc_length_average) != bits(model.doc_length_average)

    def test_untrained_model_round_trips(self):
        twin = pickle.loads(pickle.dumps(BM25(0.3, 0.9)))
        assert (twin.b, twin.k1, twin.doc_count, twin.vocabulary_size) == (0.3, 0.9, 0, 0)

    def test_foreign_state_is_refused(self):
        # Catches reading past the end of a truncated or foreign state.
        state = one_third_model().__getstate__()
        fresh = BM25.__new__(BM25)
        with pytest.raises(ValueError, match="not a BM25 state"):
            fresh.__setstate__(state[:-1])


def dump_text(model):
    import tempfile

    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "m.json")
        model.dump(path)
        with open(path, encoding="utf-8") as f:
            return f.read()


class TestBM25Statistics:
    def test_properties_follow_training_merge_and_load(self):
        # Catches properties bound to the wrong field or cached at construction.
        model = BM25(0.25, 1.5)
        assert (model.b, model.k1, model.doc_count, model.doc_length_average) == (0.25, 1.5, 0, 0.0)
        model.train(["a", "b", "a"])
        other = BM25(0.25, 1.5)
        other.train([5])
        model.merge(other)
        assert (model.doc_count, model.doc_length_average, model.vocabulary_size) == (2, 2.0, 3)
        loaded = BM25()
        loaded.load(dump_text(model))
        assert (loaded.b, loaded.k1, loaded.doc_count, loaded.vocabulary_size) == (0.25, 1.5, 2, 3)

    def test_properties_are_read_only(self):
        with pytest.raises(AttributeError):
            BM25().doc_count = 3


class TestBM25MergeSurface:
    def test_iadd_returns_the_same_object(self):
        # Catches __iadd__ returning a new wrapper or None (which would rebind the name).
        model = BM25()
        model.train(["a"])
        alias = model
        model += model
        assert model is alias and model.doc_count == 2

    def test_refusal_is_value_error_naming_both_values(self):
        model = BM25(0.75, 1.2)
        model.train(["a"])
        with pytest.raises(ValueError, match=r"b=0\.75, k1=1\.2 and b=0\.75, k1=2"):
            model.merge(BM25(0.75, 2.0))
        assert model.doc_count == 1

    @pytest.mark.parametrize("other", [None, 3, "model"])
    def test_wrong_operand_types(self, other):
        model = BM25()
        with pytest.raises(TypeError):
            model.merge(other)
        with pytest.raises(TypeError):
            model += other

    def test_uninitialized_operand_is_refused(self):
        # Catches reading raw memory of an instance whose __init__ never ran.
        with pytest.raises(TypeError, match="not initialized"):
            BM25().merge(BM25.__new__(BM25))


def _cut_in_child(jieba, sentences):
    return [jieba.cut(s) for s in sentences] + [jieba.cut_for_search(s) for s in sentences]


class TestJiebaCopies:
    def test_pickle_is_small_and_cuts_identically(self, segmenter):
        # Catches a state that loses a data file (a user dictionary, say) on the way.
        data = pickle.dumps(segmenter)
        assert len(data) < 1000
        twin = pickle.loads(data)
        assert twin is not segmenter
        assert _cut_in_child(twin, SENTENCES) == _cut_in_child(segmenter, SENTENCES)

    def test_state_is_a_versioned_tuple_of_paths_and_changes(self, segmenter, jieba_paths):
        state = segmenter.__getstate__()
        assert state[0] == 2
        assert [os.fsdecode(p) for p in state[1:6]] == list(jieba_paths.values())
        assert state[6] == []

    def test_runtime_words_travel_in_order(self, jieba_paths):
        # Catches a worker built from the files alone, which would cut without the added word
        # (or with the deleted one), and a replay in another order.
        sentence = "他来到了网易杭研大厦"
        original = Jieba(**jieba_paths)
        original.add_word("杭研", 5, "nz")
        original.del_word("大厦")
        original.add_word("大厦", tag="ns")
        for twin in [pickle.loads(pickle.dumps(original)), copy.copy(original),
                     copy.deepcopy(original)]:
            assert twin.cut(sentence) == original.cut(sentence)
            assert twin.word_tag("杭研") == "nz" and twin.word_tag("大厦") == "ns"

    def test_version_1_state_still_loads(self, segmenter):
        # Catches pickles written before run-time words existed becoming unreadable.
        twin = Jieba.__new__(Jieba)
        twin.__setstate__((1,) + segmenter.__getstate__()[1:6])
        assert twin.cut(SENTENCES[0]) == segmenter.cut(SENTENCES[0])

    def test_copies_are_separate_objects(self, segmenter):
        # Catches a copy that shares run-time words with its original (a word added to one
        # would change the other's cuts).
        for twin in [copy.copy(segmenter), copy.deepcopy(segmenter)]:
            assert twin is not segmenter
            twin.add_word("来到北京")
            assert twin.find_word("来到北京")
            assert not segmenter.find_word("来到北京")

    def test_missing_file_on_the_worker_raises_the_constructors_error(self, jieba_paths, tmp_path):
        # Catches a worker-side failure reported as a generic error without the path.
        paths = dict(jieba_paths)
        moved = tmp_path / "hmm_model.utf8"
        shutil.copy(paths["hmm_path"], moved)
        paths["hmm_path"] = str(moved)
        data = pickle.dumps(Jieba(**paths))
        moved.unlink()
        with pytest.raises(FileNotFoundError) as caught:
            pickle.loads(data)
        assert caught.value.filename == str(moved)

    def test_unknown_state_version_is_refused(self, segmenter):
        fresh = Jieba.__new__(Jieba)
        with pytest.raises(ValueError, match="unsupported Jieba pickle state"):
            fresh.__setstate__((99,) + segmenter.__getstate__()[1:])

    @pytest.mark.parametrize("method", ["fork", "spawn"])
    def test_multiprocessing_workers_cut_identically(self, segmenter, method):
        # Catches objects that cannot cross a process boundary (spawn pickles them).
        context = multiprocessing.get_context(method)
        with context.Pool(1) as pool:
            result = pool.apply(_cut_in_child, (segmenter, SENTENCES))
        assert result == _cut_in_child(segmenter, SENTENCES)
