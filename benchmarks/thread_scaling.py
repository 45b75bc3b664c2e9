"""How much two Python threads gain over one, by the work each call does without the lock.

Two series, each as 2T/1T (the throughput of two threads sharing the work over one thread):
  - pyorveltext.Jieba.cut on sentences of about 50 B (one golden line per call), 200 B, 800 B
    and 3.2 KB (consecutive lines joined), so the lock-free share of a call grows;
  - a control with no pyorveltext in it: libc memchr over a zeroed buffer, called through
    ctypes, which releases the interpreter lock for the call. It shows how much lock-free work
    a call needs before CPython's lock hand-off lets a second thread help at all.
Usage: python benchmarks/thread_scaling.py [--calls 200000] [--repeat 3]
"""
import argparse
import ctypes

import segment_bench
from segment_bench import one_thread, two_threads


def best(run, call, items, repeat):
    return min(run(call, items) for _ in range(repeat))


def cut_series(calls, repeat):
    paths = segment_bench.data_paths()
    lines, _ = segment_bench.base_lines(paths[0])
    cut = segment_bench.pyorveltext.Jieba(*paths).cut
    print("pyorveltext Jieba.cut")
    print(f"{'bytes/call':>12}{'1T MB/s':>10}{'2T/1T':>8}")
    for group in [1, 4, 16, 64]:
        sentences = ["".join(lines[i : i + group]) for i in range(0, len(lines), group)]
        size = sum(len(s.encode("utf-8")) for s in sentences)
        reps = max(1, calls // len(sentences) // group)
        items = sentences * reps
        t1 = best(one_thread, cut, items, repeat)
        t2 = best(two_threads, cut, items, repeat)
        print(f"{size / len(sentences):>12.0f}{size * reps / t1 / 1e6:>10.1f}{t1 / t2:>8.2f}")


def control_series(calls, repeat):
    libc = ctypes.CDLL("libc.so.6")  # CDLL calls release the interpreter lock
    memchr = libc.memchr
    memchr.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_size_t]
    memchr.restype = ctypes.c_void_p
    buffer = ctypes.create_string_buffer(1 << 20)
    address = ctypes.addressof(buffer)
    print("control: ctypes call to libc memchr, lock released during the call")
    print(f"{'free us/call':>12}{'1T us/call':>11}{'2T/1T':>8}")
    base = None
    for size in [0, 16384, 65536, 262144, 1 << 20]:
        count = calls if size <= 65536 else calls // 8
        items = [size] * count

        def call(n):
            memchr(address, 1, n)

        t1 = best(one_thread, call, items, repeat)
        t2 = best(two_threads, call, items, repeat)
        per_call = t1 / count * 1e6
        base = per_call if base is None else base
        print(f"{per_call - base:>12.2f}{per_call:>11.3f}{t1 / t2:>8.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--calls", type=int, default=200000, help="calls per measurement")
    parser.add_argument("--repeat", type=int, default=3, help="runs per figure; best is kept")
    args = parser.parse_args()
    cut_series(args.calls, args.repeat)
    print()
    control_series(args.calls, args.repeat)


if __name__ == "__main__":
    main()
