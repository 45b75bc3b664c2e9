"""The type stubs describe the module as it is, and type-check the examples under mypy --strict.

The runtime side is read from the signatures pybind11 renders into each function's __doc__:
an argument rendered as argN has no name, so it is positional-only.
"""
import ast
import importlib.util
import os
import pathlib
import re
import subprocess
import sys

import pytest

import pyorveltext

REPO = pathlib.Path(__file__).resolve().parents[2]
STUB = REPO / "pyorveltext.pyi"
UNNAMED = re.compile(r"arg\d+")


def stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_classes():
    return {node.name: node for node in stub_tree().body if isinstance(node, ast.ClassDef)}


def stub_overloads(class_name, method):
    """Each definition of the method in the stub: one, or one per @overload."""
    return [
        node
        for node in stub_classes()[class_name].body
        if isinstance(node, ast.FunctionDef) and node.name == method
    ]


def split_top_level(text):
    """Splits at ", " outside brackets, so Dict[str, float] stays whole."""
    parts, depth, start = [], 0, 0
    for i, ch in enumerate(text):
        depth += {"[": 1, "]": -1}.get(ch, 0)
        if depth == 0 and text.startswith(", ", i):
            parts.append(text[start:i])
            start = i + 2
    return parts + [text[start:]]


def runtime_overloads(function):
    """[(parameters, return type)] from the rendered docstring; parameters exclude self and
    are (name or None when positional-only, default text or None)."""
    lines = function.__doc__.splitlines()
    if lines[1:2] == ["Overloaded function."]:
        lines = [
            re.sub(r"^\d+\. ", "", line) for line in lines[2:] if re.match(r"\d+\. ", line)
        ]
    else:
        lines = lines[:1]  # the signature; a docstring may follow after an empty line
    result = []
    for line in lines:
        match = re.fullmatch(rf"{function.__name__}\((.*)\) -> (.+)", line)
        assert match, f"unexpected rendered signature {line!r}"
        parameters = []
        for parameter in split_top_level(match.group(1))[1:]:
            name, _, rest = parameter.partition(": ")
            _, _, default = rest.partition(" = ")
            parameters.append((None if UNNAMED.fullmatch(name) else name, default or None))
        result.append((parameters, match.group(2)))
    return result


def stub_signature(node):
    """The same shape for one stub definition."""
    args = node.args
    positional = [(None, a) for a in args.posonlyargs] + [(a.arg, a) for a in args.args]
    positional = positional[1:]  # self
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    parameters = [
        (name, None if default is None else ast.unparse(default))
        for (name, _), default in zip(positional, defaults)
    ]
    assert not args.kwonlyargs and not args.vararg and not args.kwarg, node.name
    return parameters, ast.unparse(node.returns)


def is_property(node):
    return "property" in map(ast.unparse, node.decorator_list)


def stub_methods(class_name):
    """Method names as runtime_methods lists them: no properties, no operators."""
    return sorted(
        {
            n.name
            for n in stub_classes()[class_name].body
            if isinstance(n, ast.FunctionDef) and not is_property(n)
            and (n.name == "__init__" or not n.name.startswith("_"))
        }
    )


def runtime_methods(cls):
    return sorted(
        name
        for name, value in vars(cls).items()
        if callable(value) and (name == "__init__" or not name.startswith("_"))
    )


CLASSES = ["BM25", "Jieba"]
METHODS = [(c, m) for c in CLASSES for m in runtime_methods(getattr(pyorveltext, c))]


class TestStubMatchesRuntime:
    def test_module_names(self):
        public = sorted(n for n in vars(pyorveltext) if not n.startswith("_"))
        stub_public = []
        for node in stub_tree().body:
            targets = node.targets if isinstance(node, ast.Assign) else [node]
            stub_public += [getattr(t, "name", getattr(t, "id", None)) for t in targets]
        assert sorted(n for n in stub_public if n and not n.startswith("_")) == public

    @pytest.mark.parametrize("class_name", CLASSES)
    def test_method_names(self, class_name):
        assert stub_methods(class_name) == runtime_methods(getattr(pyorveltext, class_name))

    @pytest.mark.parametrize("class_name", CLASSES)
    def test_property_names(self, class_name):
        # Catches a read-only property missing from the stub (or left there after removal).
        stub = sorted(
            n.name for n in stub_classes()[class_name].body
            if isinstance(n, ast.FunctionDef) and is_property(n)
        )
        cls = getattr(pyorveltext, class_name)
        assert stub == sorted(n for n, v in vars(cls).items() if isinstance(v, property))

    @pytest.mark.parametrize("class_name, method", METHODS)
    def test_signatures(self, class_name, method):
        runtime = runtime_overloads(getattr(getattr(pyorveltext, class_name), method))
        nodes = stub_overloads(class_name, method)
        overloaded = [n for n in nodes if "overload" in map(ast.unparse, n.decorator_list)]
        # A single registration is a plain def; several are all @overload, in the same order.
        assert len(nodes) == len(runtime)
        assert len(overloaded) == (len(nodes) if len(nodes) > 1 else 0)
        assert [stub_signature(n) for n in nodes] == runtime


# mypy reads the stub from the checkout, whichever build of the module is installed.
def run_mypy(*paths):
    if importlib.util.find_spec("mypy") is None:
        pytest.skip("mypy is not installed (requirements-dev.txt)")
    env = dict(os.environ, MYPYPATH=str(REPO))
    cache = REPO / ".pytest_cache" / "mypy"
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cache), *map(str, paths)],
        cwd=REPO, env=env, capture_output=True, text=True,
    )


class TestMypy:
    def test_examples_pass_strict(self):
        result = run_mypy(REPO / "examples")
        assert result.returncode == 0, result.stdout + result.stderr

    def test_stub_follows_runtime_rules(self, tmp_path):
        # What the runtime accepts type-checks, what it rejects with TypeError does not, and
        # the overload is chosen by token type. Each line: (code, mypy reports an error).
        lines = [
            ("from pyorveltext import BM25, Jieba", False),
            ("m = BM25(k1=2)", False),
            ("reveal_type(m.encode_query([1, 2]))", False),
            ("reveal_type(m.encode_document((b'a', bytearray(b'b'), 'c')))", False),
            ("reveal_type(m.encode_query([]))", False),
            ("m.train([1.0])", True),
            ("m.train(arg0=['a'])", True),
            ("m.load(None)", True),
            ("j = Jieba(dict_path='d', hmm_path='h', user_dict_path='', idf_path='i', "
             "stop_word_path='s')", False),
            ("words = j.cut_for_search(sentence=b'x')", False),
            ("words.append(1)", True),
            ("BM25(b='0.5')", True),
        ]
        usage = tmp_path / "usage.py"
        usage.write_text("".join(code + "\n" for code, _ in lines))
        out = run_mypy(usage).stdout
        revealed = re.findall(r'Revealed type is "(.*)"', out)
        assert revealed == ["dict[int, float]", "dict[str, float]", "dict[str, float]"], out
        errors = sorted({int(n) for n in re.findall(r"usage\.py:(\d+): error", out)})
        assert errors == [i for i, (_, bad) in enumerate(lines, 1) if bad], out
