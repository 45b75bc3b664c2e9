"""The module refuses to initialise under any interpreter but the release it was built for."""
import glob
import os
import shutil
import subprocess
import sys

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

# The release this module was built for: the suite runs under the interpreter it was built with.
OWN = "%d.%d" % sys.version_info[:2]
# The supported releases and the one before them.
CANDIDATES = ("3.9", "3.10", "3.11", "3.12", "3.13")


def other_interpreters():
    found = {}
    root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    for minor in CANDIDATES:
        if minor == OWN:
            continue
        candidates = sorted(glob.glob(f"{root}/versions/{minor}.*/bin/python{minor}"))
        candidates.append(shutil.which(f"python{minor}"))  # pyenv shims may not run
        for path in candidates:
            if path and os.access(path, os.X_OK):
                found[minor] = path
                break
    return found


INTERPRETERS = other_interpreters()


# Catches a build whose gate names or accepts another release than the one it was compiled
# for, e.g. a 3.12 module that loads into 3.13 and crashes later on a changed object layout.
@pytest.mark.parametrize("minor", sorted(INTERPRETERS) or ["none"])
def test_other_interpreters_get_the_mismatch_message(minor):
    if minor == "none":
        pytest.skip(f"no interpreter other than {OWN} on this machine")
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
        f"Python version mismatch: module was compiled for Python {OWN}, "
        f"but the interpreter version is incompatible: {version}."
    )
