"""Where releasing the interpreter lock in Jieba.cut starts to pay.

Cuts distinct real-text pieces of a fixed byte size with one thread and with two threads
sharing one Jieba, and prints MB/s and the 2T/1T ratio per piece size. Run it against a build
that always releases the lock (-DORVEL_RELEASE_BYTES=0) and one that never does
(-DORVEL_RELEASE_BYTES=1000000000) to place the threshold in lock_release.h; run it against
the default build to check that short pieces keep 2T/1T >= 0.95 and 4 KB pieces reach 1.4.
Usage: PYTHONPATH=build/dev python benchmarks/gil_threshold.py [--mb 4] [--repeat 3]
"""
import argparse

import segment_bench
from segment_bench import one_thread, two_threads

SIZES = [16, 32, 64, 128, 256, 512, 1024, 4096]


def pieces(text, size):
    """Consecutive pieces of about `size` UTF-8 bytes, cut at character boundaries."""
    out, start, used = [], 0, 0
    for i, ch in enumerate(text):
        used += len(ch.encode("utf-8"))
        if used >= size:
            out.append(text[start : i + 1])
            start, used = i + 1, 0
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=4.0, help="text per measurement")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; best is kept")
    args = parser.parse_args()
    paths = segment_bench.data_paths()
    lines, source = segment_bench.base_lines(paths[0])
    text = "".join(lines)
    cut = segment_bench.pyorveltext.Jieba(*paths).cut
    print(f"text: {source}")
    print(f"{'bytes/call':>10}{'1T MB/s':>9}{'2T MB/s':>9}{'2T/1T':>7}")
    for size in SIZES:
        items = pieces(text, size)
        total = sum(len(s.encode("utf-8")) for s in items)
        reps = max(1, int(args.mb * 1e6 / total))
        items = items * reps if reps > 1 else items[: int(args.mb * 1e6 / size) or 1]
        total = sum(len(s.encode("utf-8")) for s in items)
        t1 = min(one_thread(cut, items) for _ in range(args.repeat))
        t2 = min(two_threads(cut, items) for _ in range(args.repeat))
        print(f"{size:>10}{total / t1 / 1e6:>9.1f}{total / t2 / 1e6:>9.1f}{t1 / t2:>7.2f}")


if __name__ == "__main__":
    main()
