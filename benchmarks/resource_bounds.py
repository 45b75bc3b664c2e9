"""Time and memory of the module's largest inputs at 1x and 10x size: both must grow linearly.

Cases (1x -> 10x):
- sentence: one sentence of Chinese text without a single separator, 1 MB -> 10 MB, through
  Jieba.cut and Jieba.cut_for_search;
- userdict: a user dictionary of 100,000 -> 1,000,000 entries (all three line forms), through
  the Jieba constructor; figures are the extra over a construction without a user dictionary;
- model: model text of 10 MB -> 100 MB, through BM25.load, once as plain text (the fast
  reader) and once with an extra root key (the full JSON parser).

Each figure comes from a fresh child process that prepares its input, resets its peak resident
set (writing 5 to /proc/self/clear_refs), notes VmRSS, runs the operation once and reads
VmHWM: peak extra = VmHWM - VmRSS before. The operation runs in a thread with a 512 KiB stack,
so a recursion that grew with the input would crash the child. A ratio near 10 is linear.

Run: PYTHONPATH=build/dev python benchmarks/resource_bounds.py [--scale 0.1] [--repeat N]
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import threading
import time

from proc_status import status_kib

REPO = pathlib.Path(__file__).resolve().parents[1]
SMALL_STACK = 512 * 1024
# Separator-free Chinese prose: no space, tab, line feed, full-width comma or full stop.
PROSE = (
    "我来到北京清华大学研究生命科学小明硕士毕业于中国科学院计算所后在日本京都大学深造"
    "他说的确实在理结婚的和尚未结婚的都来了南京市长江大桥于1968年12月29日建成通车"
    "永和服装饰品有限公司的员工在云原生和向量数据库方面很有经验"
)
MODEL_HEAD = (
    '{\n  "_b" : 0.750000,\n  "_doc_count" : %d,\n  "_doc_length_average" : 12.500000,\n'
    '  "_doc_token_frequency" : {\n'
)
MODEL_TAIL = '\n  },\n  "_k1" : 1.200000\n}'


def data_paths(data_dir, user_dict=""):
    return {
        "dict_path": str(data_dir / "jieba.dict.utf8"),
        "hmm_path": str(data_dir / "hmm_model.utf8"),
        "user_dict_path": user_dict,
        "idf_path": str(data_dir / "idf.utf8"),
        "stop_word_path": str(data_dir / "stop_words.utf8"),
    }


def write_user_dictionary(path, entries):
    """Distinct 2- and 3-rune CJK words, cycling through the word, word-tag and
    word-frequency-tag forms."""
    span = 0x9FA5 - 0x4E00 + 1
    with open(path, "w", encoding="utf-8") as out:
        for i in range(entries):
            runes = [0x4E00 + i % span, 0x4E00 + (i // span) % span]
            if i % 2:
                runes.append(0x4E00 + (i * 7919) % span)
            word = "".join(map(chr, runes))
            form = i % 3
            out.write(word if form == 0 else f"{word} nz" if form == 1 else f"{word} {i % 97 + 1} n")
            out.write("\n")


def write_model_text(path, megabytes):
    """Model text as dump writes it, with keys in byte order, about `megabytes` long."""
    target = int(megabytes * 1_000_000)
    with open(path, "w", encoding="utf-8") as out:
        written = out.write(MODEL_HEAD % 1_000_000)
        i = 0
        while written < target:
            written += out.write((",\n" if i else "") + f'    "t{i:09d}" : {i % 1000 + 1}')
            i += 1
        out.write(MODEL_TAIL)


def run_measured(operation):
    """Runs `operation` in a small-stack thread; returns seconds and peak extra KiB."""
    result = {}

    def work():
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
        before = status_kib("VmRSS")
        start = time.perf_counter()
        result["keep"] = operation()
        result["seconds"] = time.perf_counter() - start
        result["peak_extra_kib"] = status_kib("VmHWM") - before

    threading.stack_size(SMALL_STACK)
    thread = threading.Thread(target=work)
    thread.start()
    thread.join()
    if "seconds" not in result:
        raise SystemExit("the operation failed")
    return {"seconds": result["seconds"], "peak_extra_kib": result["peak_extra_kib"]}


def child(case, argument, data_dir):
    import pyorveltext

    if case in ("cut", "cut_for_search"):
        size = int(float(argument) * 1_000_000)
        encoded = PROSE.encode()
        sentence = (encoded * (size // len(encoded) + 1))[:size].decode("utf-8", "ignore")
        sentence.encode()  # CPython keeps the UTF-8 form beside the str: not the cut's memory
        jieba = pyorveltext.Jieba(**data_paths(data_dir))
        return run_measured(lambda: getattr(jieba, case)(sentence))
    if case == "userdict":
        return run_measured(lambda: pyorveltext.Jieba(**data_paths(data_dir, argument)))
    if case in ("model", "model_parser"):
        text = pathlib.Path(argument).read_text(encoding="utf-8")
        if case == "model_parser":
            text = text.replace("{", '{\n  "~" : [],', 1)  # refused by the fast reader only
        return run_measured(lambda: pyorveltext.BM25().load(text))
    raise SystemExit(f"unknown case {case}")


def measure(case, argument, data_dir, repeat):
    """Best time and lowest peak of `repeat` fresh children (the machine is shared)."""
    runs = []
    for _ in range(repeat):
        output = subprocess.run(
            [sys.executable, __file__, "--child", case, str(argument), "--data", str(data_dir)],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        runs.append(json.loads(output.strip().splitlines()[-1]))
    return {key: min(run[key] for run in runs) for key in runs[0]}


def report(rows):
    print(f"{'case':<44}{'input':>12}{'time s':>10}{'peak MiB':>10}")
    for name, small, large, small_input, large_input in rows:
        for label, figures in ((small_input, small), (large_input, large)):
            mib = figures["peak_extra_kib"] / 1024
            print(f"{name:<44}{label:>12}{figures['seconds']:>10.3f}{mib:>10.1f}")
        time_ratio = large["seconds"] / max(small["seconds"], 1e-9)
        memory_ratio = large["peak_extra_kib"] / max(small["peak_extra_kib"], 1)
        print(f"{name:<44}{'10x / 1x':>12}{time_ratio:>10.2f}{memory_ratio:>10.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--scale", type=float, default=1.0, help="multiplies every input size")
    parser.add_argument("--repeat", type=int, default=3, help="children per figure")
    parser.add_argument("--data", type=pathlib.Path, default=REPO / "data" / "jieba")
    parser.add_argument("--child", nargs=2, metavar=("CASE", "ARGUMENT"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        print(json.dumps(child(*args.child, args.data)))
        return
    if not (args.data / "jieba.dict.utf8").is_file():
        fetch = REPO / "tools" / "fetch_jieba_data.py"
        subprocess.run([sys.executable, str(fetch), "--out", str(args.data)], check=True)

    rows = []
    for case in ("cut", "cut_for_search"):
        mb = (1 * args.scale, 10 * args.scale)
        small, large = (measure(case, size, args.data, args.repeat) for size in mb)
        rows.append((f"sentence without separators, {case}", small, large, f"{mb[0]:g} MB",
                     f"{mb[1]:g} MB"))
    with tempfile.TemporaryDirectory() as scratch:
        counts = (int(100_000 * args.scale), int(1_000_000 * args.scale))
        figures = {0: measure("userdict", "", args.data, args.repeat)}
        for count in counts:
            path = os.path.join(scratch, f"user-{count}.dict")
            write_user_dictionary(path, count)
            figures[count] = measure("userdict", path, args.data, args.repeat)
        extra = [
            {key: figures[count][key] - figures[0][key] for key in ("seconds", "peak_extra_kib")}
            for count in counts
        ]
        rows.append(("user dictionary, Jieba(), extra", extra[0], extra[1], f"{counts[0]:,}",
                     f"{counts[1]:,}"))
        os.remove(path)

        mb = (10 * args.scale, 100 * args.scale)
        paths = []
        for size in mb:
            paths.append(os.path.join(scratch, f"model-{size:g}.json"))
            write_model_text(paths[-1], size)
        for case, name in (("model", "model text, load (fast reader)"),
                           ("model_parser", "model text, load (JSON parser)")):
            small, large = (measure(case, path, args.data, args.repeat) for path in paths)
            rows.append((name, small, large, f"{mb[0]:g} MB", f"{mb[1]:g} MB"))
    report(rows)


if __name__ == "__main__":
    main()
