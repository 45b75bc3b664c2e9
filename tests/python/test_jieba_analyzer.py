"""The analyzer methods of Jieba as Python sees them: positions in str and bytes, argument
conversion and the exception for each kind of bad argument, decode failures, and run-time words
seen by other threads. The engine's results themselves are owned by the golden tests."""
import threading

import pytest

from pyorveltext import Jieba

SENTENCE = "我来到北京清华大学，🙋 研究生命科学"


@pytest.fixture
def fresh(jieba_paths):
    """A Jieba of its own, for tests that change its dictionary."""
    return Jieba(**jieba_paths)


class TestPositions:
    @pytest.mark.parametrize("mode", ["default", "search"])
    @pytest.mark.parametrize("hmm", [True, False])
    def test_str_positions_slice_the_sentence(self, segmenter, mode, hmm):
        # Fault: byte offsets handed out for a str (the emoji and CJK are multi-byte).
        tokens = segmenter.tokenize(SENTENCE, mode=mode, hmm=hmm)
        assert tokens and all(SENTENCE[start:end] == word for word, start, end in tokens)

    def test_bytes_positions_are_byte_offsets(self, segmenter):
        data = SENTENCE.encode()
        tokens = segmenter.tokenize(data)
        assert all(data[start:end] == word.encode() for word, start, end in tokens)
        assert [w for w, _, _ in tokens] == [w for w, _, _ in segmenter.tokenize(SENTENCE)]

    def test_words_are_those_of_the_matching_cut(self, segmenter):
        # Fault: tokenize dispatching to the wrong mode or dropping the HMM.
        assert [w for w, _, _ in segmenter.tokenize(SENTENCE)] == segmenter.cut(SENTENCE)
        search = segmenter.tokenize(SENTENCE, mode="search")
        assert [w for w, _, _ in search] == segmenter.cut_for_search(SENTENCE)

    def test_hmm_switch_reaches_the_engine(self, segmenter):
        assert [w for w, _, _ in segmenter.tokenize("他来到了网易杭研大厦", hmm=False)][-3:] == [
            "杭", "研", "大厦"]
        assert "杭研" in [w for w, _, _ in segmenter.tokenize("他来到了网易杭研大厦")]

    def test_unknown_mode_is_a_value_error(self, segmenter):
        with pytest.raises(ValueError, match="mode"):
            segmenter.tokenize(SENTENCE, mode="full")


class TestKeywordStrs:
    # Fault: a keyword's str built with the wrong width (ASCII, BMP) or length, which would
    # compare unequal to the text it came from.
    @pytest.mark.parametrize("text, keyword", [("cafés", "caf"), ("北京大学", "北京大学")])
    def test_keyword_equals_its_text(self, segmenter, text, keyword):
        assert segmenter.extract_keywords(f"{text}，{text}。") == [keyword]


class TestArgumentTypes:
    @pytest.mark.parametrize("call", [
        lambda j: j.tokenize(None),
        lambda j: j.tokenize(SENTENCE, hmm=1),
        lambda j: j.cut_all(3),
        lambda j: j.tag(SENTENCE, hmm="no"),
        lambda j: j.extract_keywords(SENTENCE, top_k=2.0),
        lambda j: j.extract_keywords(SENTENCE, top_k=True),
        lambda j: j.extract_keywords(SENTENCE, with_weights=1),
        lambda j: j.add_word(["北京"]),
        lambda j: j.add_word("北京", "5"),
        lambda j: j.add_word("北京", 5, 5),
        lambda j: j.add_words(5),
        lambda j: j.add_words([("北京", 1, "n", "x")]),
        lambda j: j.del_word(None),
        lambda j: j.find_word(1),
        lambda j: j.word_tag(None),
        lambda j: j.tag("中\ud800文"),  # a lone surrogate, as cut refuses it
    ])
    def test_wrong_type_is_a_type_error(self, fresh, call):
        with pytest.raises(TypeError):
            call(fresh)
        assert fresh.find_word("北京")  # nothing was changed on the way

    def test_negative_top_k_is_a_value_error(self, segmenter):
        for top_k in (-1, -(2 ** 70)):
            with pytest.raises(ValueError, match="top_k"):
                segmenter.extract_keywords(SENTENCE, top_k)

    def test_huge_top_k_means_all(self, segmenter):
        assert segmenter.extract_keywords(SENTENCE, 2 ** 70) == segmenter.extract_keywords(
            SENTENCE, 1000)

    def test_keyword_shapes(self, segmenter):
        words = segmenter.extract_keywords(SENTENCE, 3)
        pairs = segmenter.extract_keywords(SENTENCE, 3, with_weights=True)
        assert words == [w for w, _ in pairs] and len(words) == 3
        assert all(isinstance(w, float) for _, w in pairs)
        assert segmenter.extract_keywords(SENTENCE, 0) == []

    def test_tag_pairs_each_word_of_the_cut(self, segmenter):
        for hmm in (True, False):
            pairs = segmenter.tag(SENTENCE, hmm=hmm)
            assert [w for w, _ in pairs] == [w for w, _, _ in segmenter.tokenize(SENTENCE, hmm=hmm)]
            assert [t for _, t in pairs] == [segmenter.word_tag(w) for w, _ in pairs]


class TestFrequencies:
    def test_negative_frequency_is_refused_and_changes_nothing(self, fresh):
        with pytest.raises(ValueError):
            fresh.add_word("杭研", -1)
        assert not fresh.find_word("杭研")

    @pytest.mark.parametrize("freq", [2 ** 31, -(2 ** 31) - 1, 2 ** 64])
    def test_frequency_beyond_32_bits_is_an_overflow_error(self, fresh, freq):
        with pytest.raises(OverflowError):
            fresh.add_word("杭研", freq)
        assert not fresh.find_word("杭研")

    def test_batch_with_one_negative_frequency_changes_nothing(self, fresh):
        with pytest.raises(ValueError):
            fresh.add_words(["杭研", ("犇犇", 5, "nz"), ("龘龘", -3)])
        assert not fresh.find_word("杭研") and not fresh.find_word("犇犇")

    def test_batch_item_forms(self, fresh):
        fresh.add_words(iter(["杭研", ("犇犇",), ("龘龘", 5), ("鱻鱻", None, "nz"), b"\xe5\xa5"]))
        assert all(fresh.find_word(w) for w in ["杭研", "犇犇", "龘龘", "鱻鱻"])
        assert fresh.word_tag("鱻鱻") == "nz"


class TestRuntimeWords:
    def test_add_and_delete_reach_every_mode(self, fresh):
        sentence = "他来到了网易杭研大厦"
        assert fresh.add_word("杭研", tag="nz") is True
        assert "杭研" in [w for w, _, _ in fresh.tokenize(sentence, hmm=False)]
        assert "杭研" in fresh.cut_all(sentence)
        assert ("杭研", "nz") in fresh.tag(sentence)
        assert fresh.del_word("杭研") is True
        assert not fresh.find_word("杭研")
        assert "杭研" not in fresh.cut_all(sentence)

    def test_empty_and_undecodable_words(self, fresh):
        assert fresh.add_word("") is True and not fresh.find_word("")
        assert fresh.add_word(b"\xff\xfe") is False
        assert fresh.del_word(b"\xff") is False
        assert fresh.word_tag(b"\xff") == "x"

    def test_threads_see_the_dictionary_before_or_after_a_change(self, fresh):
        # Fault: a cut reading a half-made change (or crashing) while another thread adds words.
        sentence = "他来到了网易杭研大厦"
        before = fresh.cut_all(sentence)
        stop = threading.Event()
        seen = []

        def cut():
            while not stop.is_set():
                seen.append(tuple(fresh.cut_all(sentence)))

        threads = [threading.Thread(target=cut) for _ in range(2)]
        for t in threads:
            t.start()
        fresh.add_words([f"词{i}" for i in range(1100)] + ["杭研"])  # merges into a new trie
        stop.set()
        for t in threads:
            t.join()
        after = fresh.cut_all(sentence)
        assert after != before
        assert set(seen) <= {tuple(before), tuple(after)}


class TestUndecodableBytes:
    @pytest.mark.parametrize("call", [
        lambda j, s: j.tokenize(s),
        lambda j, s: j.tokenize(s, mode="search", hmm=False),
        lambda j, s: j.cut_all(s),
        lambda j, s: j.tag(s),
        lambda j, s: j.extract_keywords(s),
    ])
    def test_no_words_and_one_error_line(self, segmenter, capfd, call):
        capfd.readouterr()
        assert call(segmenter, "北京".encode() + b"\xff") == []
        out, err = capfd.readouterr()
        assert out == "" and err.count("\n") == 1 and "ERROR" in err
