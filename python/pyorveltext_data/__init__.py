"""Writes the five segmentation data files that pyorveltext.Jieba reads.

    pyorveltext-data DIR            (or: python -m pyorveltext_data DIR)

The main dictionary and the IDF table are copied unchanged from the `jieba` package, which
must be installed: `pip install "pyorveltext[data]"` brings the release these files come from.
Its HMM model, shipped as Python literals in finalseg/prob_*.py, is converted to the engine's
text format. The user dictionary and the stop-word list are the project's own, shipped in this
package.

A manifest of content hashes makes a second run with the files in place a quick no-op.
"""

import argparse
import ast
import hashlib
import importlib.metadata
import importlib.util
import json
import os
import pathlib
import sys
import tempfile

__all__ = ["FILE_NAMES", "fetch", "main"]

JIEBA_VERSION = "0.42.1"
# Bump when the output of this converter changes for the same inputs, to force a rewrite.
GENERATOR_VERSION = 1

OWN_DATA = pathlib.Path(__file__).resolve().parent / "data"
MANIFEST = ".fetch_jieba_data.json"
# The five files, in the order of the Jieba constructor's arguments.
FILE_NAMES = ("jieba.dict.utf8", "hmm_model.utf8", "user.dict.utf8", "idf.utf8", "stop_words.utf8")
# The project's own files, by output name.
OWN_FILES = {
    "user.dict.utf8": OWN_DATA / "jieba_user.dict.utf8",
    "stop_words.utf8": OWN_DATA / "jieba_stop_words.utf8",
}

STATES = "BEMS"  # the engine's state order: B=0, E=1, M=2, S=3
MIN_LOG_PROB = -3.14e100  # what the engine takes for "impossible"

MISSING_JIEBA = (
    "pyorveltext-data needs the jieba package, which holds the dictionary and the model it "
    'converts; it is not installed. Install it with: pip install "pyorveltext[data]"'
)


class MissingJieba(Exception):
    """The jieba package cannot be found; the converter never installs it by itself."""


def jieba_package_dir():
    """Finds the installed jieba package without importing it (nothing of it is executed)."""
    try:
        spec = importlib.util.find_spec("jieba")
    except (ImportError, ValueError):  # a broken or blocked entry in sys.modules
        spec = None
    if spec is None or spec.origin is None:
        raise MissingJieba(MISSING_JIEBA)
    return pathlib.Path(spec.origin).parent


def read_probability_table(path):
    """Reads the literal assigned to P in one of jieba's finalseg/prob_*.py modules.

    Parsed as data with ast.literal_eval: nothing of the package is executed.
    """
    tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
    for node in tree.body:
        if isinstance(node, ast.Assign) and any(
            isinstance(t, ast.Name) and t.id == "P" for t in node.targets
        ):
            return ast.literal_eval(node.value)
    raise ValueError(f"{path}: no assignment to P")


def number(value):
    # repr gives the shortest text that strtod reads back as the same double.
    return repr(float(value))


def emission_item(rune, log_prob, path):
    # The engine splits a line at ',' and each item at ':', and trims the line's ends.
    if len(rune) != 1 or rune in ",:" or rune.isspace():
        raise ValueError(f"{path}: emission key {rune!r} cannot be written as one rune")
    return f"{rune}:{number(log_prob)}"


def hmm_model_text(finalseg_dir):
    start = read_probability_table(finalseg_dir / "prob_start.py")
    trans = read_probability_table(finalseg_dir / "prob_trans.py")
    emit_path = finalseg_dir / "prob_emit.py"
    emit = read_probability_table(emit_path)

    lines = [
        f"# HMM model converted from jieba {JIEBA_VERSION} finalseg/prob_*.py.",
        "# States B, E, M, S; natural-log probabilities; -3.14e+100 where jieba has none.",
        "# start",
        " ".join(number(start.get(s, MIN_LOG_PROB)) for s in STATES),
        "# transitions: one row per from-state, one column per to-state",
    ]
    for s in STATES:
        row = trans.get(s, {})
        lines.append(" ".join(number(row.get(t, MIN_LOG_PROB)) for t in STATES))
    lines.append("# emissions: one line per state, rune:log-probability")
    for s in STATES:
        lines.append(",".join(emission_item(r, p, emit_path) for r, p in emit.get(s, {}).items()))
    return ("\n".join(lines) + "\n").encode("utf-8")


def build_outputs():
    """Returns {file name: bytes} for the five files."""
    package = jieba_package_dir()
    return {
        "jieba.dict.utf8": (package / "dict.txt").read_bytes(),
        "hmm_model.utf8": hmm_model_text(package / "finalseg"),
        "user.dict.utf8": OWN_FILES["user.dict.utf8"].read_bytes(),
        "idf.utf8": (package / "analyse" / "idf.txt").read_bytes(),
        "stop_words.utf8": OWN_FILES["stop_words.utf8"].read_bytes(),
    }


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def up_to_date(out):
    """True when a previous run left the same files, untouched since."""
    try:
        manifest = json.loads((out / MANIFEST).read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return False
    if manifest.get("generator") != GENERATOR_VERSION:
        return False
    files = manifest.get("files", {})
    try:
        # The project's own files may have changed since (a newer release); they are cheap
        # to compare.
        for name, source in OWN_FILES.items():
            if sha256(source.read_bytes()) != files.get(name):
                return False
        return len(files) == 5 and all(
            sha256((out / name).read_bytes()) == digest for name, digest in files.items()
        )
    except OSError:
        return False


def write_atomically(path, data):
    # A reader never sees a half-written file, and an interrupted run leaves no debris.
    fd, tmp = tempfile.mkstemp(dir=path.parent, prefix=f".{path.name}.")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(tmp, 0o644)  # mkstemp makes it private; these are plain data files
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def fetch(out):
    """Writes the five files into the directory OUT; returns False when they were up to date.

    Raises MissingJieba when the jieba package is not installed.
    """
    out = pathlib.Path(out)
    if up_to_date(out):
        return False
    outputs = build_outputs()  # before creating OUT, so a missing jieba leaves nothing behind
    out.mkdir(parents=True, exist_ok=True)
    for name, data in outputs.items():
        target = out / name
        if not (target.is_file() and target.read_bytes() == data):
            write_atomically(target, data)
    manifest = {
        "generator": GENERATOR_VERSION,
        "jieba": importlib.metadata.version("jieba"),
        "files": {name: sha256(data) for name, data in outputs.items()},
    }
    write_atomically(out / MANIFEST, (json.dumps(manifest, indent=1) + "\n").encode("utf-8"))
    return True


def main(argv=None):
    """The pyorveltext-data command: pyorveltext-data DIR."""
    parser = argparse.ArgumentParser(
        prog="pyorveltext-data", description=__doc__.split("\n\n")[0]
    )
    parser.add_argument("dir", metavar="DIR", help="directory to write the five files into")
    args = parser.parse_args(argv)
    try:
        wrote = fetch(args.dir)
    except MissingJieba as error:
        print(error, file=sys.stderr)
        return 1
    print(f"{args.dir}: {'written' if wrote else 'already up to date'}")
    return 0
