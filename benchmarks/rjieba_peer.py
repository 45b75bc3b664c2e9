"""rjieba's segmentation throughput on the corpus that segment_bench.py cuts, and ours beside it.

rjieba (Rust bindings of jieba) is an optional peer: run_all.py runs this only when the
package installs. The corpus and the timing come from segment_bench.py, so its figures and
these are comparable. pyorveltext and rjieba then take turns in this process, --repeat rounds
each, and the ratio of each round's pair is reported as min/median/max: a machine busy with
other work moves both sides of a pair alike.
Usage: python benchmarks/rjieba_peer.py [--mb 2] [--repeat 3]
"""
import argparse
import statistics

import rjieba

import pyorveltext
import segment_bench


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=2, help="corpus size in MB")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; best is kept")
    args = parser.parse_args()

    paths = segment_bench.data_paths()
    corpus, size, source = segment_bench.bench_corpus(args.mb * segment_bench.MB)
    print(f"corpus: {size / segment_bench.MB:.1f} MB, {len(corpus)} sentences from {source}")
    rjieba.cut("预热")  # the dictionary loads on first use; keep that out of the timing
    modes = {
        "cut": lambda s: rjieba.cut(s, hmm=True),
        "cut_for_search": lambda s: rjieba.cut_for_search(s, hmm=True),
    }
    for mode, cut in modes.items():
        rate = segment_bench.best_rate(segment_bench.one_thread, cut, corpus, size, args.repeat)
        print(f"{mode:<16}{rate:>8.2f} MB/s")
    ours = pyorveltext.Jieba(*paths)
    print("\npyorveltext / rjieba, alternating rounds in this process:")
    for mode, cut in modes.items():
        ratios = sorted(
            segment_bench.best_rate(segment_bench.one_thread, getattr(ours, mode), corpus, size, 1)
            / segment_bench.best_rate(segment_bench.one_thread, cut, corpus, size, 1)
            for _ in range(args.repeat))
        print(f"  {mode:<16} min {ratios[0]:.2f}x  median {statistics.median(ratios):.2f}x  "
              f"max {ratios[-1]:.2f}x")


if __name__ == "__main__":
    main()
