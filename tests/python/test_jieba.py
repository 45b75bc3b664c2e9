"""The Jieba class as Python sees it: signatures, argument conversion, lifecycle, bytes."""
import pytest

from pyorveltext import Jieba

ARG_NAMES = ["dict_path", "hmm_path", "user_dict_path", "idf_path", "stop_word_path"]
SENTENCE = "我来到北京清华大学，研究生命科学与Python 3.10的区块链应用。"
MODES = ["cut", "cut_for_search"]


class TestSignatures:
    def test_constructor(self):
        assert Jieba.__init__.__doc__ == (
            "__init__(self: pyorveltext.Jieba, dict_path: str, hmm_path: str, "
            "user_dict_path: str, idf_path: str, stop_word_path: str) -> None\n"
        )

    @pytest.mark.parametrize("mode", MODES)
    def test_cutting_methods(self, mode):
        assert getattr(Jieba, mode).__doc__ == (
            f"{mode}(self: pyorveltext.Jieba, sentence: str) -> List[str]\n"
        )

    def test_class_is_bare(self, segmenter):
        assert Jieba.__module__ == "pyorveltext"
        assert Jieba.__doc__ is None
        assert not hasattr(segmenter, "__dict__")
        with pytest.raises(AttributeError):
            segmenter.extra = 1


class TestConstruction:
    def test_keywords_in_any_order_match_positional(self, jieba_paths, segmenter):
        by_keyword = Jieba(**dict(reversed(list(jieba_paths.items()))))
        positional = Jieba(*(jieba_paths[name] for name in ARG_NAMES))
        assert by_keyword.cut(SENTENCE) == positional.cut(SENTENCE) == segmenter.cut(SENTENCE)

    def test_fewer_than_five_arguments(self, jieba_paths):
        with pytest.raises(TypeError, match="incompatible constructor arguments"):
            Jieba(*(jieba_paths[name] for name in ARG_NAMES[:4]))

    @pytest.mark.parametrize("name", ARG_NAMES)
    def test_none_for_any_path(self, jieba_paths, name):
        with pytest.raises(TypeError):
            Jieba(**{**jieba_paths, name: None})

    def test_unknown_keyword(self, jieba_paths):
        with pytest.raises(TypeError):
            Jieba(**jieba_paths, user_dict="")

    def test_second_init_is_ignored(self, jieba_paths):
        jieba = Jieba(**jieba_paths)
        before = jieba.cut(SENTENCE)
        # Paths that would fail to load: a second __init__ must not even open them.
        assert jieba.__init__("/nonexistent", "", "", "", "") is None
        assert jieba.cut(SENTENCE) == before

    def test_subclass_calling_init_works(self, jieba_paths, segmenter):
        class Named(Jieba):
            def __init__(self, paths):
                super().__init__(**paths)

        assert Named(jieba_paths).cut(SENTENCE) == segmenter.cut(SENTENCE)

    def test_subclass_not_calling_init_fails(self):
        class Forgetful(Jieba):
            def __init__(self):
                pass

        with pytest.raises(TypeError, match=r"__init__\(\) must be called when overriding"):
            Forgetful()


class TestArguments:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("sentence", [None, 42, ["我", "来"], 3.5])
    def test_non_string_sentence(self, segmenter, mode, sentence):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            getattr(segmenter, mode)(sentence)

    @pytest.mark.parametrize("mode", MODES)
    def test_sentence_by_keyword(self, segmenter, mode):
        method = getattr(segmenter, mode)
        assert method(sentence=SENTENCE) == method(SENTENCE)

    @pytest.mark.parametrize("mode", MODES)
    def test_self_must_be_a_jieba(self, mode):
        for self in (None, object(), "x"):
            with pytest.raises(TypeError):
                getattr(Jieba, mode)(self, "x")

    @pytest.mark.parametrize("mode", MODES)
    def test_uninitialised_instance_raises(self, mode):
        bare = Jieba.__new__(Jieba)
        with pytest.raises(TypeError, match="not initialized"):
            getattr(bare, mode)("我来到北京")


class TestResults:
    @pytest.mark.parametrize("mode", MODES)
    def test_empty_sentence(self, segmenter, mode):
        assert getattr(segmenter, mode)("") == []

    def test_cut_pieces_rebuild_the_sentence(self, segmenter):
        words = segmenter.cut(SENTENCE)
        assert all(isinstance(w, str) and w for w in words)
        assert "".join(words) == SENTENCE
        assert "清华大学" in words

    def test_search_adds_sub_words_before_long_words(self, segmenter):
        cut = segmenter.cut(SENTENCE)
        search = segmenter.cut_for_search(SENTENCE)
        # Every cut word appears in order; anything extra is part of the next cut word.
        position = 0
        for word in cut:
            while search[position] != word:
                assert search[position] in word
                position += 1
            position += 1
        assert position == len(search)
        assert search.index("清华") < search.index("清华大学")


class TestBytes:
    @pytest.mark.parametrize("mode", MODES)
    @pytest.mark.parametrize("kind", [bytes, bytearray])
    def test_valid_utf8_bytes_cut_like_str(self, segmenter, mode, kind):
        method = getattr(segmenter, mode)
        assert method(kind(SENTENCE.encode())) == method(SENTENCE)

    @pytest.mark.parametrize("mode", MODES)
    def test_undecodable_bytes_give_no_words_and_one_error_line(self, segmenter, capfd, mode):
        capfd.readouterr()
        assert getattr(segmenter, mode)("北京".encode() + b"\xff") == []
        out, err = capfd.readouterr()
        assert out == ""
        assert err.count("\n") == 1 and "ERROR" in err

    def test_accepted_but_invalid_utf8_word_raises_on_conversion(self, segmenter):
        # The decoder is lenient: E4 swallows the next two bytes whatever they are, so the
        # engine returns a word that is not UTF-8 and building the str fails.
        with pytest.raises(UnicodeDecodeError):
            segmenter.cut(b"\xe4AB")
