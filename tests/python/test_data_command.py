"""The segmentation data converter that the wheel ships: `pyorveltext-data DIR`."""
import importlib.metadata
import pathlib
import shutil
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
SOURCE_PACKAGE = REPO / "python" / "pyorveltext_data"
FILE_NAMES = ["jieba.dict.utf8", "hmm_model.utf8", "user.dict.utf8", "idf.utf8", "stop_words.utf8"]


def installed_distribution():
    try:
        return importlib.metadata.distribution("pyorveltext")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("pyorveltext is not installed (a PYTHONPATH build): no command to run")


# Catches a wheel that lacks the command, the converter package or its own two data files
# (wheel.packages pointing elsewhere), and a shipped converter whose output differs from the
# checkout's.
def test_installed_command_writes_the_files_the_checkout_writes(jieba_paths, tmp_path):
    installed_distribution()
    command = pathlib.Path(sys.executable).parent / "pyorveltext-data"
    assert command.is_file(), f"{command} not installed"
    out = tmp_path / "data"
    result = subprocess.run([str(command), str(out)], capture_output=True, text=True, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout == f"{out}: written\n"
    checkout = pathlib.Path(jieba_paths["dict_path"]).parent
    for name in FILE_NAMES:
        assert (out / name).read_bytes() == (checkout / name).read_bytes(), name


# Catches metadata that names an extra pip does not know, so that the message telling users to
# install "pyorveltext[data]" would bring no jieba.
def test_data_extra_brings_the_jieba_release_the_files_come_from():
    requires = installed_distribution().requires or []
    assert 'jieba==0.42.1; extra == "data"' in requires


# Catches a silent install (the old script ran pip into whatever interpreter ran it) and a
# message that does not tell the user what to install. Run from a copy of the package with no
# site-packages, so jieba cannot be found.
def test_missing_jieba_names_the_extra_and_writes_nothing(tmp_path):
    shutil.copytree(SOURCE_PACKAGE, tmp_path / "lib" / "pyorveltext_data")
    out = tmp_path / "data"
    program = (
        "import sys; sys.path.insert(0, sys.argv[1]); import pyorveltext_data; "
        "sys.exit(pyorveltext_data.main([sys.argv[2]]))"
    )
    result = subprocess.run(
        [sys.executable, "-I", "-S", "-c", program, str(tmp_path / "lib"), str(out)],
        capture_output=True, text=True,
    )
    assert result.returncode == 1
    assert 'pip install "pyorveltext[data]"' in result.stderr
    assert "jieba" in result.stderr
    assert result.stdout == ""
    assert not out.exists()
