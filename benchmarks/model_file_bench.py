"""Model-file speed and memory for a BM25 model of 1,000,000 distinct tokens.

Bounds: dump at most 2x Python's json.dump of an equivalent dict; load at most 2x json.loads
of the same text plus building the dict; peak extra memory during load at most 3x the loaded
model's own size.

Memory method: load runs in a fresh child process that has already read the file's text.
The child resets its peak resident set (writing 5 to /proc/self/clear_refs), notes VmRSS,
loads, and reads VmHWM: peak extra = VmHWM - VmRSS before. The model's own size is VmRSS
after the load minus VmRSS before, read once glibc's malloc_trim has handed the freed
transient buffers (the text copy, outgrown table arrays) back to the system; without it the
allocator keeps them resident and they would count as the model.

Run: PYTHONPATH=build/dev python benchmarks/model_file_bench.py [--tokens N]
"""

import argparse
import ctypes
import gc
import json
import os
import subprocess
import sys
import tempfile
import time

from pyorveltext import BM25
from proc_status import status_kib

REPEATS = 3


def best_time(action):
    """Fastest of REPEATS runs; `action` is called once per run with no state carried over."""
    best = float("inf")
    for _ in range(REPEATS):
        gc.collect()
        start = time.perf_counter()
        action()
        best = min(best, time.perf_counter() - start)
    return best


def measure_load_memory(path):
    """Child process: prints peak extra and model size of one load, in KiB, as JSON."""
    with open(path) as source:
        text = source.read()
    gc.collect()
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")
    before = status_kib("VmRSS")
    model = BM25()
    model.load(text)
    peak = status_kib("VmHWM")
    gc.collect()
    ctypes.CDLL("libc.so.6").malloc_trim(0)
    after = status_kib("VmRSS")
    print(json.dumps({"peak_extra_kib": peak - before, "model_kib": after - before}))
    del model, text


def build_model(token_count):
    tokens = [f"tok{i:x}_{i % 97}" for i in range(token_count)]
    model = BM25()
    model.train(tokens)
    model.train(tokens[::2])
    model.train(tokens[::7] * 3)
    return model, tokens


def equivalent_dict(model, tokens):
    counts = dict.fromkeys(tokens, 1)
    for token in tokens[::2]:
        counts[token] += 1
    for token in tokens[::7]:
        counts[token] += 3
    return {
        "_b": 0.75,
        "_doc_count": 3,
        "_doc_length_average": (len(tokens) + len(tokens[::2]) + 3 * len(tokens[::7])) / 3,
        "_doc_token_frequency": counts,
        "_k1": 1.2,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tokens", type=int, default=1_000_000)
    parser.add_argument("--measure-load-memory", metavar="PATH")
    args = parser.parse_args()
    if args.measure_load_memory:
        measure_load_memory(args.measure_load_memory)
        return

    model, tokens = build_model(args.tokens)
    reference = equivalent_dict(model, tokens)
    with tempfile.TemporaryDirectory() as directory:
        model_path = os.path.join(directory, "model.json")
        json_path = os.path.join(directory, "reference.json")

        dump_s = best_time(lambda: model.dump(model_path))

        def python_dump():
            with open(json_path, "w") as out:
                json.dump(reference, out, indent=2, sort_keys=True)

        python_dump_s = best_time(python_dump)

        with open(model_path) as source:
            text = source.read()
        check = BM25()
        check.load(text)
        assert check.encode_query(tokens[:5]) == model.encode_query(tokens[:5])
        del check

        load_s = best_time(lambda: BM25().load(text))

        def python_load():
            parsed = json.loads(text)
            return {key: parsed[key] for key in parsed} | {
                "_doc_token_frequency": dict(parsed["_doc_token_frequency"])
            }

        python_load_s = best_time(python_load)
        # Not bounded, shown for scale: a text the plain reader declines goes to the parser.
        lenient_text = text[:-1] + ', "_other" : null}'
        lenient_load_s = best_time(lambda: BM25().load(lenient_text))

        child = subprocess.run(
            [sys.executable, __file__, "--measure-load-memory", model_path],
            check=True,
            capture_output=True,
            text=True,
        )
        memory = json.loads(child.stdout)
        file_mib = os.path.getsize(model_path) / 2**20

    peak_mib = memory["peak_extra_kib"] / 1024
    model_mib = memory["model_kib"] / 1024
    rows = [
        ("dump", f"{dump_s:.3f} s", f"json.dump indent=2 sort_keys {python_dump_s:.3f} s",
         dump_s / python_dump_s, 2.0),
        ("load", f"{load_s:.3f} s", f"json.loads + dict {python_load_s:.3f} s",
         load_s / python_load_s, 2.0),
        ("load peak extra", f"{peak_mib:.1f} MiB", f"model size {model_mib:.1f} MiB",
         peak_mib / model_mib, 3.0),
    ]
    print(f"{args.tokens:,} distinct tokens, model file {file_mib:.1f} MiB")
    print(f"{'measure':<16} {'ours':>10}  {'against':<38} {'ratio':>6}  bound")
    for name, ours, against, ratio, bound in rows:
        verdict = "ok" if ratio <= bound else "OVER"
        print(f"{name:<16} {ours:>10}  {against:<38} {ratio:>6.2f}  {bound:.0f}x {verdict}")
    print(f"(for scale: load through the full parser {lenient_load_s:.3f} s)")
    if any(ratio > bound for *_, ratio, bound in rows):
        sys.exit(1)


if __name__ == "__main__":
    main()
