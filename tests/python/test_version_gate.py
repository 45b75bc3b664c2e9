"""The module refuses to initialise under any interpreter but 3.10."""
import glob
import os
import shutil
import subprocess

import pytest

import pyorveltext

LOAD_BUILT_MODULE = """
import importlib.machinery, importlib.util, sys
loader = importlib.machinery.ExtensionFileLoader("pyorveltext", sys.argv[1])
spec = importlib.util.spec_from_file_location("pyorveltext", sys.argv[1], loader=loader)
try:
    importlib.util.module_from_spec(spec)
except ImportError as error:
    print(error, end="")
    sys.exit(0)
sys.exit("imported without an ImportError")
"""


def other_interpreters():
    found = {}
    roots = [os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))]
    for minor in ("3.9", "3.11", "3.12"):
        candidates = []
        for root in roots:
            candidates += sorted(glob.glob(f"{root}/versions/{minor}.*/bin/python{minor}"))
        candidates.append(shutil.which(f"python{minor}"))  # pyenv shims may not run
        for path in candidates:
            if path and os.access(path, os.X_OK):
                found[minor] = path
                break
    return found


INTERPRETERS = other_interpreters()


@pytest.mark.parametrize("minor", sorted(INTERPRETERS) or ["none"])
def test_other_interpreters_get_the_mismatch_message(minor):
    if minor == "none":
        pytest.skip("no interpreter other than 3.10 on this machine")
    python = INTERPRETERS[minor]
    version = subprocess.run(
        [python, "-c", "import sys; print(sys.version, end='')"],
        capture_output=True, text=True, check=True,
    ).stdout
    result = subprocess.run(
        [python, "-c", LOAD_BUILT_MODULE, pyorveltext.__file__],
        capture_output=True, text=True,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        "Python version mismatch: module was compiled for Python 3.10, "
        f"but the interpreter version is incompatible: {version}."
    )
