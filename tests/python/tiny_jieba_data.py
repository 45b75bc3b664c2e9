"""Tiny data files for Jieba tests that need exact control over the dictionaries."""

MIN = "-3.14e+100"
# An HMM that only ever emits S, so runs of unknown single runes stay single and a test sees
# exactly what the dictionaries decide.
SINGLES_HMM = "\n".join(
    [
        "# start B E M S",
        f"{MIN} {MIN} {MIN} 0",
        f"{MIN} 0 {MIN} {MIN}",
        f"{MIN} {MIN} {MIN} 0",
        f"{MIN} 0 {MIN} {MIN}",
        f"{MIN} {MIN} {MIN} 0",
        "甲:-1.0",
        "甲:-1.0",
        "甲:-1.0",
        "甲:-1.0,乙:-1.0,丙:-1.0",
        "",
    ]
)
# constructor argument -> (file name, content)
FILES = {
    "dict_path": ("main.dict", "甲 100 n\n乙 100 n\n丙 100 n\n丁 100 n\n"),
    "hmm_path": ("hmm.model", SINGLES_HMM),
    "user_dict_path": ("user.dict", "甲乙\n"),
    "idf_path": ("idf.txt", "甲 1.5\n乙 2.5\n"),
    "stop_word_path": ("stop.txt", "的\n"),
}


def write_files(directory, **contents):
    """Writes the five files into `directory`, with `contents` (argument name -> text)
    replacing the defaults; returns the constructor arguments by keyword."""
    paths = {}
    for arg, (name, text) in FILES.items():
        path = directory / name
        path.write_text(contents.get(arg, text), encoding="utf-8")
        paths[arg] = str(path)
    return paths
