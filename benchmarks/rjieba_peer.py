"""rjieba's segmentation throughput on the corpus that segment_bench.py cuts.

rjieba (Rust bindings of jieba) is an optional peer: run_all.py runs this only when the
package installs. The corpus and the timing come from segment_bench.py, so its figures and
these are comparable.
Usage: python benchmarks/rjieba_peer.py [--mb 2] [--repeat 3]
"""
import argparse

import rjieba

import segment_bench


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=2, help="corpus size in MB")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; best is kept")
    args = parser.parse_args()

    paths = segment_bench.data_paths()
    lines, source = segment_bench.base_lines(paths[0])
    corpus, size = segment_bench.repeat_to(lines, args.mb * segment_bench.MB)
    print(f"corpus: {size / segment_bench.MB:.1f} MB, {len(corpus)} sentences from {source}")
    rjieba.cut("预热")  # the dictionary loads on first use; keep that out of the timing
    modes = {
        "cut": lambda s: rjieba.cut(s, hmm=True),
        "cut_for_search": lambda s: rjieba.cut_for_search(s, hmm=True),
    }
    for mode, cut in modes.items():
        rate = segment_bench.best_rate(segment_bench.one_thread, cut, corpus, size, args.repeat)
        print(f"{mode:<16}{rate:>8.2f} MB/s")


if __name__ == "__main__":
    main()
