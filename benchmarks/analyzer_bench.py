"""The analyzer methods against the jieba package and rjieba, on distinct real text.

    python benchmarks/analyzer_bench.py [--mb 0.5] [--rounds 3] [--corpus FILE ...]

The corpus is the distinct lines of the benchmark corpus (data/bench/*.txt, built by the
project's corpus script; --corpus names other files), the first --mb MB of them, each line
used once per round: nothing is a small set repeated. Every round times every peer on the same
lines in this one process, taking turns every 500 lines (25 documents; smaller turns would leave
each call cold caches), so the ratios compare like with like on a machine that other work may
disturb; min, median and max over the rounds are printed. Rates are MB of input per second
(1 MB = 10^6 bytes). Keywords are timed per sentence and per document of about 4 KB (lines
joined with a line feed). jieba's and rjieba's lines are printed only when they import.
"""
import argparse
import importlib.util
import pathlib
import statistics
import sys
import time

import segment_bench

HERE = pathlib.Path(__file__).resolve().parent
MB = 1e6


def corpus_lines(files, size):
    seen, lines, total = set(), [], 0
    for path in files:
        for line in pathlib.Path(path).read_text(encoding="utf-8").split("\n"):
            line = line.strip()
            if not line or line in seen:
                continue
            seen.add(line)
            lines.append(line)
            total += len(line.encode())
            if total >= size:
                return lines, total
    return lines, total


def documents(lines, size=4096):
    docs, current, length = [], [], 0
    for line in lines:
        current.append(line)
        length += len(line.encode()) + 1
        if length >= size:
            docs.append("\n".join(current))
            current, length = [], 0
    if current:
        docs.append("\n".join(current))
    return docs


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=0.5, help="corpus size in MB")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--corpus", nargs="*", help="text files, one sentence per line")
    args = parser.parse_args()

    files = args.corpus or sorted((HERE.parent / "data" / "bench").glob("*.txt"))
    if not files:
        sys.exit("no benchmark corpus: run tools/fetch_bench_corpus.py (data/bench/) or pass --corpus")
    lines, size = corpus_lines(files, args.mb * MB)
    docs = documents(lines)
    print(f"corpus: {size / MB:.2f} MB, {len(lines)} distinct lines, {len(docs)} documents "
          f"of ~4 KB, from {', '.join(pathlib.Path(f).name for f in files)}")

    import pyorveltext

    paths = segment_bench.data_paths()
    ours = pyorveltext.Jieba(*paths)
    peers = {"pyorveltext": {
        "tokenize": ours.tokenize,
        "tokenize hmm=False": lambda s: ours.tokenize(s, hmm=False),
        "cut": ours.cut,
        "cut_all": ours.cut_all,
        "tag": ours.tag,
        "keywords/sentence": lambda s: ours.extract_keywords(s, 20),
        "keywords/4KB doc": lambda s: ours.extract_keywords(s, 20),
    }}
    if importlib.util.find_spec("jieba"):
        import logging

        import jieba
        import jieba.analyse
        import jieba.posseg

        jieba.setLogLevel(logging.WARNING)
        jieba.initialize()
        peers["jieba"] = {
            "tokenize": lambda s: list(jieba.tokenize(s)),
            "tag": jieba.posseg.lcut,
            "keywords/sentence": lambda s: jieba.analyse.extract_tags(s, topK=20),
            "keywords/4KB doc": lambda s: jieba.analyse.extract_tags(s, topK=20),
        }
        peers["jieba"]["tag"]("预热")
        peers["jieba"]["keywords/sentence"]("预热")
    if importlib.util.find_spec("rjieba"):
        import rjieba

        rjieba.cut("预热")
        peers["rjieba"] = {"tokenize": rjieba.tokenize, "tag": rjieba.tag}

    # Peers take turns chunk by chunk, so that load from other work falls on all of them alike.
    chunks = [lines[i:i + 500] for i in range(0, len(lines), 500)]
    doc_chunks = [docs[i:i + 25] for i in range(0, len(docs), 25)]
    rates = {}
    for _ in range(args.rounds):
        seconds = {}
        for name_filter, parts in [(False, chunks), (True, doc_chunks)]:
            for part in parts:
                for peer, calls in peers.items():
                    for name, call in calls.items():
                        if name.endswith("doc") != name_filter:
                            continue
                        start = time.perf_counter()
                        for item in part:
                            call(item)
                        key = (peer, name)
                        seconds[key] = seconds.get(key, 0.0) + time.perf_counter() - start
        for key, spent in seconds.items():
            rates.setdefault(key, []).append(size / MB / spent)

    print(f"\n{'call':<22}{'peer':<13}{'min':>9}{'median':>9}{'max':>9}  MB/s   ours/peer (median)")
    for (peer, name), values in rates.items():
        ratio = ""
        if peer != "pyorveltext" and ("pyorveltext", name) in rates:
            ratio = f"{statistics.median(rates[('pyorveltext', name)]) / statistics.median(values):.1f}x"
        print(f"{name:<22}{peer:<13}{min(values):>9.3f}{statistics.median(values):>9.3f}"
              f"{max(values):>9.3f}  {ratio}")


if __name__ == "__main__":
    main()
