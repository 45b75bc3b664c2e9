import json
import math
import os
import resource
import signal

import pytest

from pyorveltext import BM25

EXAMPLE_TEXT = (
    "{\n"
    '  "_b" : 0.750000,\n'
    '  "_doc_count" : 2,\n'
    '  "_doc_length_average" : 2.000000,\n'
    '  "_doc_token_frequency" : {\n'
    '    "a" : 3,\n'
    '    "b" : 1\n'
    "  },\n"
    '  "_k1" : 1.200000\n'
    "}"
)

EMPTY_MODEL_TEXT = (
    '{\n  "_b" : 0.750000,\n  "_doc_count" : 0,\n  "_doc_length_average" : 0.000000,\n'
    '  "_doc_token_frequency" : {\n\n  },\n  "_k1" : 1.200000\n}'
)

ESCAPED_TOKENS = ['say "hi"', "back\\slash", "\b\f\n\r\t", "\\u00e9", "\\n", "tab\tend", ""]

QUERY = ["a", "b", "c", "a"]
DOCUMENT = ["a", "a", "b", "c"]


def example_model():
    model = BM25(0.75, 1.2)
    model.train(["a", "b", "a"])
    model.train(["a"])
    return model


def dumped_text(model, tmp_path, name="model.json"):
    path = tmp_path / name
    model.dump(str(path))
    return path.read_bytes().decode("utf-8")


def assert_same_encodings(loaded, original, *token_lists):
    for tokens in token_lists:
        assert loaded.encode_query(tokens) == pytest.approx(original.encode_query(tokens), abs=1e-6)
        assert loaded.encode_document(tokens) == pytest.approx(
            original.encode_document(tokens), abs=1e-6
        )


def assert_untrained(model):
    with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
        model.encode_query(QUERY)


class TestRoundTrip:
    def test_example_file_bytes_are_exact(self, tmp_path):
        assert dumped_text(example_model(), tmp_path) == EXAMPLE_TEXT
        assert os.listdir(tmp_path) == ["model.json"]

    @pytest.mark.parametrize("as_bytes", [False, True])
    def test_string_tokens(self, tmp_path, as_bytes):
        original = BM25(0.6, 1.7)
        original.train(["the", "cat", "sat", "on", "the", "mat"])
        original.train(["猫", "在", "垫子", "上"])
        original.train(["the", "dog"])
        text = dumped_text(original, tmp_path)
        loaded = BM25()
        loaded.load(text.encode("utf-8") if as_bytes else text)
        assert_same_encodings(loaded, original, ["the", "cat", "dog", "bird"], ["猫", "上", "the"])

    def test_integer_tokens(self, tmp_path):
        original = BM25()
        original.train([42, -7, 42, 2**63 - 1])
        original.train([-(2**63), 0, 42])
        loaded = BM25()
        loaded.load(dumped_text(original, tmp_path))
        assert_same_encodings(loaded, original, [42, -7, 0, 5], [2**63 - 1, -(2**63)])
        # Integer and string tokens share the decimal text.
        assert list(loaded.encode_query(["42", "0"]).values()) == pytest.approx(
            list(original.encode_query([42, 0]).values())
        )

    def test_untrained_model_round_trips_untrained(self, tmp_path):
        text = dumped_text(BM25(), tmp_path)
        assert text == EMPTY_MODEL_TEXT
        loaded = BM25()
        loaded.load(text)
        assert_untrained(loaded)

    def test_reals_keep_six_decimals(self, tmp_path):
        model = BM25(0.123456789, 1.2)
        model.train(["a", "b"])
        model.train(["a"])
        model.train(["c", "d", "e", "f"])  # average 7/3
        text = dumped_text(model, tmp_path)
        assert '"_b" : 0.123457,' in text
        assert '"_doc_length_average" : 2.333333,' in text

    def test_loading_twice_equals_loading_once_and_merges(self, tmp_path):
        once = BM25()
        once.load(EXAMPLE_TEXT)
        twice = BM25()
        twice.load(EXAMPLE_TEXT)
        twice.load(EXAMPLE_TEXT)
        assert_same_encodings(twice, once, QUERY, DOCUMENT)

        trained = BM25(0.1, 0.1)
        trained.train(["own", "own", "a"])
        trained.load(EXAMPLE_TEXT)
        # "own" keeps its count of 2 over 2 documents: idf ln(3 / 2.5), below that of "b".
        weights = trained.encode_query(["own", "b"])
        assert weights["own"] / weights["b"] == pytest.approx(math.log(3 / 2.5) / math.log(3 / 1.5))


class TestLoadFailures:
    def test_empty_text_changes_nothing(self):
        model = example_model()
        with pytest.raises(RuntimeError, match="^json data should not be empty$"):
            model.load("")
        assert_same_encodings(model, example_model(), QUERY, DOCUMENT)

    @pytest.mark.parametrize(
        "text, message",
        [
            ("{}", "load doc_count failed"),
            ("[]", "load doc_count failed"),
            ('"text"', "load doc_count failed"),
            ('{"_doc_count" : 2.0 }', "load doc_count failed"),
            ('{"_doc_count" : 2 , "_doc_length_average" : 2 }', "load doc_length_average failed"),
            (EXAMPLE_TEXT.replace("0.750000", "1"), "load b failed"),
            (EXAMPLE_TEXT.replace('"_k1"', '"_k2"'), "load k1 failed"),
            ('{"_doc_token_frequency" : {"a" : 2.0 , "b" : 9 }}', "load doc_token_frequency failed"),
            # Values of the right kind that no model may hold.
            (EXAMPLE_TEXT.replace('"a" : 3', '"a" : -3'), "load doc_token_frequency failed"),
            (EXAMPLE_TEXT.replace('"_doc_count" : 2', '"_doc_count" : -2'), "load doc_count failed"),
            (EXAMPLE_TEXT.replace("2.000000", "-2.000000"), "load doc_length_average failed"),
            (EXAMPLE_TEXT.replace("0.750000", "1.0e400"), "load b failed"),
            (EXAMPLE_TEXT.replace("1.200000", "-1e400"), "load k1 failed"),
        ],
    )
    def test_failed_load_raises_runtime_error_and_changes_nothing(self, text, message):
        model = example_model()
        with pytest.raises(RuntimeError, match=f"^{message}$"):
            model.load(text)
        assert_same_encodings(model, example_model(), QUERY, DOCUMENT)

    @pytest.mark.parametrize(
        "text, error",
        [
            ('{"_doc_token_frequency" : {"z" : 1 }, "_doc_count" : 1e,}', ValueError),
            ('{"_doc_token_frequency" : {"z" : -}}', ValueError),
            ('{"_doc_token_frequency" : {"z" : 99999999999999999999 }}', IndexError),
        ],
    )
    def test_number_conversion_errors_pass_through_before_any_change(self, text, error):
        model = example_model()
        with pytest.raises(error):
            model.load(text)
        assert_same_encodings(model, example_model(), ["z", "a"], DOCUMENT)

    def test_path_instead_of_text_reports_on_stderr(self, tmp_path, capfd):
        path = tmp_path / "model.json"
        example_model().dump(str(path))
        model = BM25()
        with pytest.raises(RuntimeError, match="^load doc_count failed$"):
            model.load(str(path))
        assert capfd.readouterr().err == "ERROR: Parse: Unknown starting character '/'\n"

    def test_deep_nesting_fails_cleanly(self, capfd):
        model = BM25()
        with pytest.raises(RuntimeError, match="^load doc_count failed$"):
            model.load("[" * 100_000)
        err = capfd.readouterr().err
        assert err.startswith("ERROR: Parse: Maximum nesting depth exceeded, found '['\n")
        assert err.count("Maximum nesting depth") == 1

    def test_wrong_argument_types(self):
        model = BM25()
        with pytest.raises(TypeError):
            model.load(1)
        with pytest.raises(TypeError):
            model.dump(None)


class TestEscapingAndFileSafety:
    def test_tokens_with_escaped_characters_round_trip(self, tmp_path):
        original = BM25()
        original.train(ESCAPED_TOKENS + ["plain"])
        original.train(["plain", 'say "hi"'])
        text = dumped_text(original, tmp_path)
        # Still valid JSON, holding the tokens themselves.
        assert json.loads(text)["_doc_token_frequency"] == {
            token: 2 if token in ("plain", 'say "hi"') else 1 for token in ESCAPED_TOKENS + ["plain"]
        }
        loaded = BM25()
        loaded.load(text)
        assert_same_encodings(loaded, original, ESCAPED_TOKENS, ["plain", "\\", "\n"])
        for token in ESCAPED_TOKENS:
            assert loaded.encode_query([token, "plain"]) == pytest.approx(
                original.encode_query([token, "plain"])
            )

    def test_training_after_load_equals_training_throughout(self, tmp_path):
        documents = [["a", "b", "c"], ["a", "d"], ["e", "e", "e", "a", "f"]]
        whole = BM25()
        for document in documents:
            whole.train(document)
        first = BM25()
        first.train(documents[0])
        first.train(documents[1])
        resumed = BM25()
        resumed.load(dumped_text(first, tmp_path))
        resumed.train(documents[2])
        assert_same_encodings(resumed, whole, ["a", "e", "x"], documents[2], ["a"] * 9)

    def test_counts_above_32_bits_survive(self, tmp_path):
        text = EXAMPLE_TEXT.replace('"_doc_count" : 2', '"_doc_count" : 6000000000').replace(
            '"a" : 3', '"a" : 5000000000'
        )
        model = BM25()
        model.load(text)
        assert dumped_text(model, tmp_path) == text

    def test_dump_to_full_device(self):
        if not os.path.exists("/dev/full"):
            pytest.skip("no /dev/full")
        with pytest.raises(RuntimeError, match="^Failed to dump: Unable to write file$"):
            example_model().dump("/dev/full")

    def test_failed_dump_keeps_existing_file_and_leaves_no_temporary(self, tmp_path):
        path = tmp_path / "model.json"
        example_model().dump(str(path))
        large = BM25()
        large.train([f"token{i}" for i in range(5000)])
        saved_limit = resource.getrlimit(resource.RLIMIT_FSIZE)
        saved_handler = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, saved_limit[1]))
        try:
            with pytest.raises(RuntimeError, match="^Failed to dump: Unable to write file$"):
                large.dump(str(path))
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, saved_limit)
            signal.signal(signal.SIGXFSZ, saved_handler)
        assert path.read_text() == EXAMPLE_TEXT
        assert os.listdir(tmp_path) == ["model.json"]

    @pytest.mark.parametrize("relative", ["missing/model.json", "", "."])
    def test_dump_that_cannot_open_creates_nothing(self, tmp_path, relative):
        target = str(tmp_path / relative) if relative else ""
        with pytest.raises(RuntimeError, match="^Failed to dump: Unable to open file$"):
            example_model().dump(target)
        assert os.listdir(tmp_path) == []

    def test_dump_replaces_through_a_link_and_keeps_permissions(self, tmp_path):
        real, link = tmp_path / "real.json", tmp_path / "link.json"
        real.write_text("x" * 10_000)
        real.chmod(0o600)
        link.symlink_to(real)
        example_model().dump(str(link))
        assert link.is_symlink()
        assert real.read_text() == EXAMPLE_TEXT
        assert real.stat().st_mode & 0o777 == 0o600
        assert sorted(os.listdir(tmp_path)) == ["link.json", "real.json"]
