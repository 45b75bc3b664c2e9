"""Chinese segmentation speed and memory through Python, against the jieba package.

The corpus is data/bench/corpus.txt (built by tools/fetch_bench_corpus.py when absent): about
9 MB of distinct lines of news and review text, cut one line per call, so the engine's tables
are not kept hot by repetition as they would be on a small set of lines. Measured in one run:
  - pyorveltext.Jieba.cut and cut_for_search in MB/s (10^6 bytes of UTF-8 input per second),
    one thread, and two threads sharing one object;
  - jieba.lcut(s, HMM=True) and jieba.lcut_for_search(s) on the first lines of the same
    corpus (the package is slow, so on a subset), in MB/s;
  - one hot-cache row: cut on the shared golden lines (public-userdict.jsonl, or sentences drawn
    from the dictionary without the shared directory) repeated to the same size, which shows how
    much a benchmark on repeated lines overstates;
  - construction time and the resident memory of a fresh process holding one Jieba.
Usage: python benchmarks/segment_bench.py [--mb MB] [--peer-mb 2] [--repeat 3]
(--mb takes the first MB of the corpus; default all of it.)
"""
import argparse
import json
import logging
import os
import pathlib
import random
import subprocess
import sys
import threading
import time

import pyorveltext

REPO = pathlib.Path(__file__).resolve().parents[1]
SHARED = pathlib.Path(os.environ.get("ORVEL_SHARED_DIR", REPO.parent / "shared")) / "jieba"
FETCHED = pathlib.Path(os.environ.get("ORVEL_JIEBA_DATA", REPO / "data" / "jieba"))
BENCH_CORPUS = REPO / "data" / "bench" / "corpus.txt"
MB = 1e6

TARGETS = {"mb_s": 22.0, "vs_jieba": 26.0, "two_threads": 1.4, "build_s": 0.3, "rss_mib": 70.0}


def data_paths():
    """Constructor arguments: the shared data files when present, else the fetched ones."""
    if (SHARED / "data").is_dir():
        directory = SHARED / "data"
    else:
        fetch = REPO / "tools" / "fetch_jieba_data.py"
        subprocess.run([sys.executable, str(fetch), "--out", str(FETCHED)], check=True)
        directory = FETCHED
    names = ["jieba.dict.utf8", "hmm_model.utf8", "user.dict.utf8", "idf.utf8", "stop_words.utf8"]
    return [str(directory / name) for name in names]


def base_lines(dict_path):
    golden = SHARED / "golden" / "public-userdict.jsonl"
    if golden.is_file():
        # Split on "\n" only: some inputs hold characters that splitlines() cuts at.
        text = golden.read_text(encoding="utf-8")
        return [json.loads(line)["s"] for line in text.split("\n") if line], str(golden)
    return synthetic_lines(dict_path), "sentences drawn from the dictionary (seed 7)"


def synthetic_lines(dict_path, count=2000):
    """Sentences of dictionary words drawn by frequency, with some ASCII and punctuation."""
    words, weights = [], []
    with open(dict_path, encoding="utf-8") as f:
        for line in f:
            word, freq, _ = line.split(" ")
            words.append(word)
            weights.append(float(freq))
    rng = random.Random(7)
    ascii_tokens = ["Python", "3.10", "GPU", "2024年", "iPhone15", "AI", "100%"]
    lines = []
    for _ in range(count):
        parts = rng.choices(words, weights, k=rng.randint(6, 20))
        if rng.random() < 0.3:
            parts.insert(rng.randrange(len(parts)), rng.choice(ascii_tokens))
        for i in range(rng.randint(0, 2)):
            parts.insert(rng.randrange(len(parts)), rng.choice("，、；"))
        lines.append("".join(parts) + rng.choice("。！？"))
    return lines


def bench_corpus(size=0):
    """The first `size` bytes' worth of lines of the benchmark corpus (0: all of it), fetched
    when absent; returns (lines, bytes, description)."""
    if not BENCH_CORPUS.is_file():
        fetch = REPO / "tools" / "fetch_bench_corpus.py"
        subprocess.run([sys.executable, str(fetch)], check=True)
    # Split on "\n" only, as the file was written.
    lines, total = [], 0
    for line in BENCH_CORPUS.read_text(encoding="utf-8").split("\n"):
        if not line:
            continue
        if size and total >= size:
            break
        lines.append(line)
        total += len(line.encode("utf-8"))
    return lines, total, f"{BENCH_CORPUS.relative_to(REPO)} (distinct lines)"


def repeat_to(lines, size):
    """The lines repeated until they hold at least `size` bytes; returns (lines, bytes)."""
    corpus, total = [], 0
    line_bytes = [len(s.encode("utf-8")) for s in lines]
    while total < size:
        for line, n in zip(lines, line_bytes):
            corpus.append(line)
            total += n
            if total >= size:
                break
    return corpus, total


def one_thread(cut, corpus):
    start = time.perf_counter()
    for sentence in corpus:
        cut(sentence)
    return time.perf_counter() - start


def two_threads(cut, corpus):
    halves = [corpus[0::2], corpus[1::2]]
    ready = threading.Barrier(3)

    def work(part):
        ready.wait()
        for sentence in part:
            cut(sentence)

    threads = [threading.Thread(target=work, args=(half,)) for half in halves]
    for t in threads:
        t.start()
    ready.wait()
    start = time.perf_counter()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def best_rate(run, cut, corpus, size, repeat):
    return max(size / run(cut, corpus) for _ in range(repeat)) / MB


# Runs in a fresh interpreter: time to build one Jieba, and its process's resident memory.
PROBE = """
import json, sys, time
def status(key):
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) * 1024 for l in f if l.startswith(key + ":"))
import pyorveltext
before = status("VmRSS")
start = time.perf_counter()
jieba = pyorveltext.Jieba(*sys.argv[1:])
elapsed = time.perf_counter() - start
print(json.dumps({"build_s": elapsed, "rss": status("VmRSS"), "peak": status("VmHWM"),
                  "rss_before": before}))
"""


def fresh_process(paths, repeat):
    env = dict(os.environ)
    module_dir = str(pathlib.Path(pyorveltext.__file__).parent)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    runs = []
    for _ in range(repeat):
        out = subprocess.run(
            [sys.executable, "-c", PROBE, *paths], env=env, check=True, capture_output=True
        )
        runs.append(json.loads(out.stdout))
    return min(runs, key=lambda r: r["build_s"])


def peer_rates(corpus, size, repeat):
    try:
        import jieba
    except ImportError:
        subprocess.run([sys.executable, "-m", "pip", "install", "-q", "jieba"], check=True)
        import jieba
    jieba.setLogLevel(logging.WARNING)
    start = time.perf_counter()
    jieba.initialize()
    init_s = time.perf_counter() - start
    modes = {
        "cut": lambda s: jieba.lcut(s, HMM=True),
        "cut_for_search": jieba.lcut_for_search,
    }
    rates = {mode: best_rate(one_thread, cut, corpus, size, repeat) for mode, cut in modes.items()}
    return rates, init_s


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=0, help="corpus prefix in MB (0: all)")
    parser.add_argument("--peer-mb", type=float, default=2, help="subset for the jieba package")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; best is kept")
    args = parser.parse_args()

    paths = data_paths()
    corpus, size, source = bench_corpus(args.mb * MB)
    peer_corpus, peer_size, _ = bench_corpus(args.peer_mb * MB)
    golden, golden_source = base_lines(paths[0])
    hot_corpus, hot_size = repeat_to(golden, size)
    print(f"corpus: {size / MB:.1f} MB, {len(corpus)} sentences from {source}")
    print(f"hot-cache corpus: {hot_size / MB:.1f} MB, {len(hot_corpus)} sentences repeated from "
          f"{golden_source}")
    print(f"jieba package subset: {peer_size / MB:.1f} MB, {len(peer_corpus)} sentences")
    print(f"data: {os.path.dirname(paths[0])}; cores: {os.cpu_count()}")

    probe = fresh_process(paths, args.repeat)
    segmenter = pyorveltext.Jieba(*paths)
    ours = {}
    for mode in ["cut", "cut_for_search"]:
        cut = getattr(segmenter, mode)
        ours[mode] = (
            best_rate(one_thread, cut, corpus, size, args.repeat),
            best_rate(two_threads, cut, corpus, size, args.repeat),
        )
    hot_cut = best_rate(one_thread, segmenter.cut, hot_corpus, hot_size, args.repeat)
    peer, peer_init = peer_rates(peer_corpus, peer_size, args.repeat)

    t = TARGETS
    print()
    header = ["1 thread", "2 threads", "2T/1T", "jieba pkg", "vs pkg"]
    print(f"{'mode':<16}" + "".join(f"{h:>{w}}" for h, w in zip(header, [10, 11, 8, 11, 9])))
    for mode, (one, two) in ours.items():
        print(
            f"{mode:<16}{one:>10.1f}{two:>11.1f}{two / one:>7.2f}x{peer[mode]:>11.2f}"
            f"{one / peer[mode]:>8.1f}x"
        )
    print(f"{'cut, hot cache':<16}{hot_cut:>10.1f}  (1 thread, golden lines repeated; "
          f"{hot_cut / ours['cut'][0]:.2f}x the distinct text)")
    print(
        f"(MB/s; targets: 1 thread >= {t['mb_s']:.0f} MB/s and >= {t['vs_jieba']:.0f}x the "
        f"package, 2T/1T >= {t['two_threads']}x)"
    )
    print()
    rss_mib = probe["rss"] / 2**20
    print(f"construction: {probe['build_s']:.3f} s (target <= {t['build_s']} s); "
          f"jieba package initialize(): {peer_init:.2f} s")
    print(f"process holding one Jieba: VmRSS {rss_mib:.1f} MiB (target <= {t['rss_mib']:.0f} MiB), "
          f"peak {probe['peak'] / 2**20:.1f} MiB, interpreter and module alone "
          f"{probe['rss_before'] / 2**20:.1f} MiB")

    misses = [
        f"{mode} {label}"
        for mode, (one, two) in ours.items()
        for label, ok in [
            ("1 thread", one >= t["mb_s"]),
            ("vs package", one / peer[mode] >= t["vs_jieba"]),
            ("2 threads", two / one >= t["two_threads"]),
        ]
        if not ok
    ]
    misses += ["construction"] * (probe["build_s"] > t["build_s"])
    misses += ["memory"] * (rss_mib > t["rss_mib"])
    print("all targets met" if not misses else "targets missed: " + ", ".join(misses))


if __name__ == "__main__":
    main()
