"""The BM25 class as Python sees it: signatures, dispatch, conversions, errors."""
import math

import pytest

import pyorveltext
from pyorveltext import BM25

INCOMPATIBLE = "incompatible function arguments"


@pytest.fixture
def model_m():
    model = BM25()
    model.train(["a", "b", "a"])
    model.train(["a"])
    return model


class TestModule:
    def test_namespace_holds_exactly_the_two_classes(self):
        own = [name for name in vars(pyorveltext) if not name.startswith("__")]
        assert own == ["BM25", "Jieba"]
        assert pyorveltext.__doc__ is None
        assert BM25.__module__ == "pyorveltext"

    def test_second_import_returns_the_cached_module(self):
        import importlib

        assert importlib.import_module("pyorveltext") is pyorveltext


class TestSignatures:
    def test_constructor(self):
        assert BM25.__init__.__doc__ == (
            "__init__(self: pyorveltext.BM25, b: float = 0.75, k1: float = 1.2) -> None\n"
        )

    @pytest.mark.parametrize(
        "name, str_result, int_result",
        [
            ("train", "None", "None"),
            ("encode_document", "Dict[str, float]", "Dict[int, float]"),
            ("encode_query", "Dict[str, float]", "Dict[int, float]"),
        ],
    )
    def test_overloaded_methods(self, name, str_result, int_result):
        assert getattr(BM25, name).__doc__ == (
            f"{name}(*args, **kwargs)\nOverloaded function.\n\n"
            f"1. {name}(self: pyorveltext.BM25, arg0: List[str]) -> {str_result}\n\n"
            f"2. {name}(self: pyorveltext.BM25, arg0: List[int]) -> {int_result}\n"
        )

    @pytest.mark.parametrize("name", ["load", "dump"])
    def test_model_file_methods(self, name):
        assert getattr(BM25, name).__doc__ == (
            f"{name}(self: pyorveltext.BM25, arg0: str) -> None\n"
        )

    def test_class_has_no_docstring_and_no_instance_dict(self):
        assert BM25.__doc__ is None
        with pytest.raises(AttributeError):
            BM25().anything = 1


class TestConstructor:
    @pytest.mark.parametrize(
        "args, kwargs, expected_query",
        [
            ((), {}, None),  # defaults 0.75 / 1.2: compared against an explicit model
            ((0.5,), {}, (0.5, 1.2)),
            ((), {"k1": 2.0}, (0.75, 2.0)),
            ((1, 2), {}, (1.0, 2.0)),
        ],
    )
    def test_parameters_reach_the_model(self, args, kwargs, expected_query):
        b, k1 = expected_query or (0.75, 1.2)
        model, reference = BM25(*args, **kwargs), BM25(b, k1)
        for m in (model, reference):
            m.train(["x", "y", "x"])
            m.train(["x"])
        # The document weight depends on b and k1 through K alone.
        assert model.encode_document(["x", "z"]) == reference.encode_document(["x", "z"])
        length_factor = ((2 / 2.0) * b + (1 - b)) * k1
        assert model.encode_document(["z", "x"])["z"] == 1 / (length_factor + 1)

    @pytest.mark.parametrize("bad", ["0.5", None, [0.5]])
    def test_non_numbers_are_type_errors(self, bad):
        with pytest.raises(TypeError, match="incompatible constructor arguments"):
            BM25(bad)
        with pytest.raises(TypeError):
            BM25(k1=bad)

    @pytest.mark.parametrize("bad", [math.nan, math.inf, -math.inf])
    def test_non_finite_parameters_are_value_errors(self, bad):
        with pytest.raises(ValueError, match="b must be a finite number"):
            BM25(bad)
        with pytest.raises(ValueError, match="k1 must be a finite number"):
            BM25(0.75, bad)

    def test_second_init_is_ignored(self, model_m):
        before = model_m.encode_query(["a", "b"])
        assert model_m.__init__(0.1, 9.0) is None
        assert model_m.encode_query(["a", "b"]) == before
        assert model_m.encode_document(["z"]) == {"z": 1 / 1.75}  # b and k1 unchanged


class TestDispatch:
    def test_string_and_integer_forms(self, model_m):
        model_m.train((42, -7, 42))
        assert list(model_m.encode_query((42, 5))) == [5, 42]
        assert model_m.encode_query(["42"])  # the integer 42 and "42" are one token

    def test_empty_list_goes_to_the_string_form(self):
        model = BM25()
        assert model.encode_query([]) == {}
        assert model.encode_document(()) == {}
        with pytest.raises(RuntimeError, match="^trainning tokens_vec should not be empty$"):
            model.train([])

    @pytest.mark.parametrize(
        "bad",
        ["ab", b"ab", [["a"], ["b"]], [1.0], ["a", 1], [2**63], [-(2**63) - 1], None, 5],
    )
    def test_unconvertible_tokens_are_type_errors(self, bad):
        model = BM25()
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            model.train(bad)
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            model.encode_query(bad)

    def test_argument_is_positional_only(self):
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            BM25().train(arg0=["a"])

    def test_bool_and_index_objects_are_integer_tokens(self):
        class Index:
            def __index__(self):
                return 1

        model = BM25()
        model.train([True, Index(), 2**63 - 1, -(2**63)])
        assert model.encode_query([1])  # trained twice: as True and as Index()
        counts_one = model.encode_document([1, True])
        assert counts_one == {1: 2 / (((2 / 4.0) * 0.75 + 0.25) * 1.2 + 2)}

    def test_bytes_tokens_are_taken_verbatim(self):
        model = BM25()
        model.train([b"a", bytearray(b"b"), "a"])
        assert model.encode_query(["a", "b"]) == model.encode_query([b"a", b"b"])
        with pytest.raises(UnicodeDecodeError):
            model.encode_query([b"\xff"])

    def test_lone_surrogate_fails_to_convert(self):
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            BM25().train(["\ud800"])


class TestResults:
    def test_worked_encodings_are_bit_exact(self, model_m):
        assert model_m.encode_document(["a", "b", "a"]) == {
            "a": 0.547945205479452,
            "b": 0.37735849056603776,
        }
        assert model_m.encode_query(["a", "b"]) == {
            "a": -0.2859956968509314,
            "b": 1.2859956968509314,
        }
        assert model_m.encode_query(["b", "c", "b"]) == {"b": 0.5, "c": 0.5}

    def test_dicts_iterate_in_ascending_key_order(self, model_m):
        assert list(model_m.encode_document(["b", "a"])) == ["a", "b"]
        assert list(model_m.encode_query(["é", "z", "Z", "a"])) == ["Z", "a", "z", "é"]
        assert list(model_m.encode_document([10, -1, 2])) == [-1, 2, 10]

    def test_untrained_model_refuses_non_empty_input(self):
        with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
            BM25().encode_query(["a"])
        with pytest.raises(RuntimeError, match="^BM25 has not been initialized$"):
            BM25().encode_document([1])


class TestBrokenInstances:
    @pytest.mark.parametrize(
        "call",
        [
            lambda m: m.train(["a"]),
            lambda m: m.train([1]),
            lambda m: m.encode_query(["a"]),
            lambda m: m.encode_document([1]),
            lambda m: m.load("{}"),
            lambda m: m.dump("/tmp/never-written.json"),
        ],
    )
    def test_uninitialised_instance_raises(self, call):
        with pytest.raises(TypeError, match="__init__ was never called"):
            call(BM25.__new__(BM25))

    @pytest.mark.parametrize("name", ["train", "encode_query", "encode_document", "load", "dump"])
    def test_none_as_instance_is_a_type_error(self, name):
        with pytest.raises(TypeError, match=INCOMPATIBLE):
            getattr(BM25, name)(None, ["a"] if name.startswith(("train", "enc")) else "x")

    def test_subclass_must_call_init(self):
        class Forgetful(BM25):
            def __init__(self):
                pass

        with pytest.raises(
            TypeError, match=r"^pyorveltext\.BM25\.__init__\(\) must be called when overriding"
        ):
            Forgetful()

    def test_subclass_that_calls_init_works(self):
        class Tuned(BM25):
            def __init__(self):
                super().__init__(k1=2.0)

        model = Tuned()
        model.train(["a"])
        assert model.encode_query(["a"]) == {"a": 1.0}
