"""Loading the five data files: what the caller gets for each missing, unreadable or malformed
file, and how the user-dictionary path string is read. Uses tiny files."""
import os
import re

import pytest

from pyorveltext import Jieba
from tiny_jieba_data import FILES, MIN, SINGLES_HMM, write_files

PATH_ARGS = list(FILES)
SINGLE_FILE_ARGS = [a for a in PATH_ARGS if a != "user_dict_path"]


@pytest.fixture
def paths(tmp_path):
    return write_files(tmp_path)


def write(tmp_path, name, content):
    path = tmp_path / name
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    return str(path)


class TestValidFiles:
    def test_tiny_data_loads_and_cuts(self, paths):
        assert Jieba(**paths).cut("甲乙丙丁") == ["甲乙", "丙", "丁"]

    def test_empty_user_path_means_no_user_dictionary(self, paths):
        assert Jieba(**{**paths, "user_dict_path": ""}).cut("甲乙丙") == ["甲", "乙", "丙"]

    @pytest.mark.parametrize("separator", ["|", ";"])
    def test_several_user_dictionaries(self, tmp_path, paths, separator):
        second = write(tmp_path, "second.dict", "丙丁 1000 n\n")
        joined = paths["user_dict_path"] + separator + second
        assert Jieba(**{**paths, "user_dict_path": joined}).cut("甲乙丙丁") == ["甲乙", "丙丁"]

    @pytest.mark.parametrize("template", ["{0}|", "|{0}", "{0}||", "{0};;{0}", "|"])
    def test_empty_fields_of_the_user_path_are_ignored(self, paths, template):
        user = template.format(paths["user_dict_path"])
        expected = ["甲", "乙"] if user == "|" else ["甲乙"]
        assert Jieba(**{**paths, "user_dict_path": user}).cut("甲乙") == expected

    def test_empty_idf_and_stop_word_files_are_accepted(self, tmp_path, paths):
        empty = write(tmp_path, "empty", "")
        Jieba(**{**paths, "idf_path": empty, "stop_word_path": empty})

    def test_malformed_idf_lines_are_skipped(self, tmp_path, paths):
        idf = write(tmp_path, "bad.idf", "\n甲\n甲 1 2\n乙 3\n")
        Jieba(**{**paths, "idf_path": idf})


class TestFilesThatCannotBeOpened:
    @pytest.mark.parametrize("arg", PATH_ARGS)
    def test_missing(self, tmp_path, paths, arg):
        missing = str(tmp_path / "no such file")
        with pytest.raises(FileNotFoundError) as info:
            Jieba(**{**paths, arg: missing})
        assert info.value.filename == missing
        assert info.value.errno == 2

    def test_missing_second_user_dictionary(self, tmp_path, paths):
        missing = str(tmp_path / "absent.dict")
        with pytest.raises(FileNotFoundError) as info:
            Jieba(**{**paths, "user_dict_path": paths["user_dict_path"] + "|" + missing})
        assert info.value.filename == missing

    @pytest.mark.parametrize("arg", SINGLE_FILE_ARGS)
    def test_empty_path(self, paths, arg):
        with pytest.raises(FileNotFoundError) as info:
            Jieba(**{**paths, arg: ""})
        assert info.value.filename == ""

    @pytest.mark.parametrize("arg", PATH_ARGS)
    def test_directory(self, tmp_path, paths, arg):
        with pytest.raises(IsADirectoryError) as info:
            Jieba(**{**paths, arg: str(tmp_path)})
        assert info.value.filename == str(tmp_path)

    @pytest.mark.skipif(os.geteuid() == 0, reason="root reads files whatever their mode")
    @pytest.mark.parametrize("arg", PATH_ARGS)
    def test_unreadable(self, paths, arg):
        os.chmod(paths[arg], 0)
        with pytest.raises(PermissionError) as info:
            Jieba(**paths)
        assert info.value.filename == paths[arg]


class TestMalformedContent:
    # The content rules themselves are the engine's tests' concern; here one case of each
    # kind checks that the caller gets a ValueError naming file and line.
    @pytest.mark.parametrize(
        "content, line",
        [
            ("甲 1 n\n乙 2\n", 2),  # two fields
            ("甲 1 n\n乙 2 n\n\n", 3),  # a blank last line
            (b"\xe7\x94\xb2 1 n\n\xff 2 n\n", 2),  # a word that does not decode
            ("甲 1 n\n乙 0 n\n", 2),  # frequency not above 0
            # An infinite frequency, or a sum that overflows, would make every weight NaN or
            # -inf and silently ruin every cut.
            ("甲 1 n\n乙 inf n\n", 2),
            ("甲 1 n\n乙 1e400 n\n", 2),
            ("甲 1e308 n\n乙 1e308 n\n", 2),
        ],
    )
    def test_main_dictionary_names_file_and_line(self, tmp_path, paths, content, line):
        bad = write(tmp_path, "bad.dict", content)
        with pytest.raises(ValueError, match=f"^{re.escape(bad)}:{line}: "):
            Jieba(**{**paths, "dict_path": bad})

    def test_empty_main_dictionary(self, tmp_path, paths):
        bad = write(tmp_path, "empty.dict", "")
        with pytest.raises(ValueError, match=f"^{re.escape(bad)}:"):
            Jieba(**{**paths, "dict_path": bad})

    @pytest.mark.parametrize(
        "replace, line",
        [
            ((f"{MIN} {MIN} {MIN} 0", f"{MIN} {MIN} 0"), 2),  # start with 3 fields
            ((f"{MIN} 0 {MIN} {MIN}", f"{MIN} 0  {MIN} {MIN}"), 3),  # a doubled space
            (("甲:-1.0,乙:-1.0", "甲:-1.0,乙-1.0"), 10),  # an item without ':'
        ],
    )
    def test_hmm_model_names_file_and_line(self, tmp_path, paths, replace, line):
        text = SINGLES_HMM.replace(*replace, 1)
        assert text != SINGLES_HMM
        bad = write(tmp_path, "bad.hmm", text)
        with pytest.raises(ValueError, match=f"^{re.escape(bad)}:{line}: "):
            Jieba(**{**paths, "hmm_path": bad})

    def test_hmm_model_with_too_few_data_lines(self, tmp_path, paths):
        bad = write(tmp_path, "short.hmm", SINGLES_HMM.rsplit("甲:-1.0\n", 1)[0])
        with pytest.raises(ValueError, match=f"^{re.escape(bad)}:"):
            Jieba(**{**paths, "hmm_path": bad})

    def test_user_dictionary_oddities_are_skipped_silently(self, tmp_path, paths, capfd):
        # Undecodable words, four-column lines and empty words are dropped; loading goes on.
        odd = b"\xff\n\xe4\xb8 1 n\n a\n1 2 3 4\n\n" + "甲乙\n".encode()
        user = write(tmp_path, "odd.dict", odd)
        capfd.readouterr()
        assert Jieba(**{**paths, "user_dict_path": user}).cut("甲乙") == ["甲乙"]
        assert capfd.readouterr().err == ""
