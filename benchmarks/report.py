"""Writes results.md and results.png from the figures that run_all.py collects.

    python benchmarks/report.py [benchmarks/out/figures.json] [--out benchmarks]

Run by run_all.py; run it alone to redo the report from the figures of the last run.
"""
import argparse
import json
import pathlib

HERE = pathlib.Path(__file__).resolve().parent
OURS, PEER = "#1f5fa8", "#8c8c8c"
HATCH = {"cut": None, "cut_for_search": "////"}  # the mode is told by hatching, in any colour


def speed(ours, peer):
    """Ours against a peer for a rate (higher is better)."""
    ratio = ours / peer
    return f"{ratio:.1f}× faster" if ratio >= 1 else f"{1 / ratio:.1f}× slower"


def peer_rows(f):
    """(measure, ours, peer name, peer figure, comparison) for every figure with a peer."""
    rows = []
    if "bm25" in f:
        train = f["bm25"]["train_mtokens_s"]
        peers = [("rank_bm25 `BM25Okapi()`", train["rank_bm25 BM25Okapi()"]),
                 ("bm25s `index()`", train["bm25s index()"])]
        for form in ["str", "int"]:
            ours = train[f"pyorveltext train ({form})"]
            for name, rate in peers:
                rows.append((f"BM25 training, {form} tokens (M tokens/s)", f"{ours:.2f}", name,
                             f"{rate:.2f}", speed(ours, rate)))
        memory = f["bm25"]["memory_bytes_per_token"]
        ours, table = memory["pyorveltext BM25"], memory["Python dict"]
        rows.append(("BM25 model memory, 1M tokens (bytes/token)", f"{ours:.1f}",
                     "Python `dict` str → int", f"{table:.1f}",
                     f"{ours / table:.2f}× the memory"))
    if "model_file" in f:
        for name, row in f["model_file"]["rows"].items():
            if row["unit"] == "s":
                rows.append((f"model file `{name}`, {f['model_file']['tokens']:,.0f} tokens (s)",
                             f"{row['ours']:.3f}", row["against"], f"{row['peer']:.3f}",
                             speed(row["peer"], row["ours"])))
    if "segment" in f:
        for mode, figures in f["segment"]["modes"].items():
            ours = figures["one_thread"]
            peers = [("jieba", figures["jieba"])]
            if "rjieba" in f:
                peers.append(("rjieba", f["rjieba"][mode]))
            for name, rate in peers:
                rows.append((f"`{mode}` from Python, 1 thread (MB/s)", f"{ours:.1f}", name,
                             f"{rate:.2f}", speed(ours, rate)))
    return rows


def own_rows(f):
    """(measure, figure) for what has no peer: threads, the engine alone, latency, memory."""
    rows = []
    if "segment" in f:
        s = f["segment"]
        for mode, figures in s["modes"].items():
            two = figures["two_threads"]
            rows.append((f"`{mode}` from Python, 2 threads sharing one `Jieba`",
                         f"{two:.1f} MB/s ({two / figures['one_thread']:.2f}× one thread)"))
        rows.append(("`Jieba(...)` construction", f"{s['construction_s']:.3f} s "
                     f"(jieba package start-up {s['jieba_init_s']:.2f} s)"))
        rows.append(("process holding one `Jieba`", f"{s['rss_mib']:.1f} MiB resident"))
        if "hot_cut" in s:
            rows.append(("`cut` from Python, hot cache (golden lines repeated)",
                         f"{s['hot_cut']:.1f} MB/s ({s['hot_cut'] / s['modes']['cut']['one_thread']:.2f}× "
                         "the distinct corpus; not what your text gets)"))
    if "rjieba" in f and "paired" in f["rjieba"]:
        for mode, (low, middle, high) in f["rjieba"]["paired"].items():
            rows.append((f"`{mode}` from Python / rjieba, alternating rounds in one process",
                         f"min {low:.2f}×, median {middle:.2f}×, max {high:.2f}×"))
    if "engine" in f:
        for mode, figures in f["engine"]["modes"].items():
            one, two = figures["one_thread"], figures["two_threads"]
            rows.append((f"engine alone (C++), `{mode}`", f"{one:.1f} MB/s, 2 threads {two:.1f} MB/s"))
        rows.append(("engine alone, memory", f"{f['engine']['engine_mib']:.1f} MiB"))
        if "hot_cut" in f["engine"]:
            hot = f["engine"]["hot_cut"]
            rows.append(("engine alone, `cut`, hot cache (golden lines repeated)",
                         f"{hot:.1f} MB/s ({hot / f['engine']['modes']['cut']['one_thread']:.2f}× "
                         "the distinct corpus)"))
        if "construction_s" in f["engine"]:
            rows.append(("engine alone, construction", f"{f['engine']['construction_s']:.3f} s"))
    if "bm25" in f:
        for name, micros in f["bm25"]["encode_us"].items():
            rows.append((f"BM25 `{name}`, 10 tokens", f"{micros:.2f} µs per call"))
    if "model_file" in f:
        peak = f["model_file"]["rows"]["load peak extra"]
        rows.append(("model file `load`, peak extra memory",
                     f"{peak['ours']:.1f} MiB ({peak['ratio']:.2f}× the loaded model)"))
    return rows


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    return lines + ["| " + " | ".join(row) + " |" for row in rows]


def markdown(f):
    m = f["machine"]
    lines = [
        "# Benchmark results",
        "",
        f"Written by `make bench` (`benchmarks/run_all.py`) on {m['date']} at commit "
        f"{m['commit']}, in {m['minutes']:.0f} minutes: {m['cpu']}, {m['cores']} cores shared with other work "
        f"(load average {m['load_average']:.2f} at the start, {m['load_average_end']:.2f} at "
        f"the end), Python {m['python']}; peers "
        + ", ".join(f"{name} {version}" for name, version in m.get("peers", {}).items())
        + ". Every comparison is between figures measured in this one run; throughput is the "
        "best of the benchmark's repeats. Segmentation is measured on `data/bench/corpus.txt` "
        "(distinct news and review lines, `tools/fetch_bench_corpus.py`) and BM25 training on "
        "the same lines cut into words; rows marked hot cache repeat the few hundred golden "
        "lines, which keeps the engine's tables in cache.",
        "",
    ]
    if f["quick"]:
        lines += ["**Quick run on small inputs: these figures only check the pipeline.**", ""]
    lines += ["![Segmentation and BM25 training throughput](results.png)", "",
              "## Against the peers", ""]
    rows, previous = [], None
    for measure, ours, *peer in peer_rows(f):  # a measure with two peers is given once
        rows.append(("", "", *peer) if measure == previous else (measure, ours, *peer))
        previous = measure
    lines += table(["measure", "pyorveltext", "peer", "peer's figure", "pyorveltext is"], rows)
    lines += ["", "## Figures without a peer", ""]
    lines += table(["measure", "pyorveltext"], own_rows(f))
    if "threads" in f:
        lines += ["", "## Two threads by work per call", "",
                  "2T/1T is two threads' throughput over one thread's. The control calls libc "
                  "`memchr` through ctypes, which releases the interpreter lock for the call: "
                  "it shows how much lock-free work a call needs before a second thread helps.",
                  ""]
        lines += table(["`cut`, bytes per call", "1 thread (MB/s)", "2T/1T"],
                       [(f"{size:,.0f}", f"{rate:.1f}", f"{ratio:.2f}×")
                        for size, rate, ratio in f["threads"]["cut"]])
        lines += [""]
        lines += table(["control, µs without the lock per call", "1 thread (µs per call)", "2T/1T"],
                       [(f"{free:.2f}", f"{call:.3f}", f"{ratio:.2f}×")
                        for free, call, ratio in f["threads"]["control"]])
    if "batch" in f:
        lines += ["", "## Batch methods on the real-text corpus", "",
                  "From `batch_bench.py`: medians over its rounds, ours and the peers on the same "
                  "texts; min / median / max of every figure are in its raw output below.", ""]
        lines += table(["ratio", "measured", "target"],
                       [(name, f"{value:.2f}×", target) for name, value, target in f["batch"]])
    if "distributed" in f:
        lines += ["", "## Texts to one model past one process", "",
                  "The real-text corpus repeated to about 100 MB, one document per line; "
                  "every model equals the one-process model byte for byte "
                  "(`benchmarks/distributed_bench.py`).", ""]
        lines += table(["job", "seconds min / median / max", "MB/s", "vs one process"],
                       [(label, f"{low:.2f} / {mid:.2f} / {high:.2f}", f"{rate:.1f}",
                         f"{ratio:.2f}×")
                        for label, (low, mid, high, rate, ratio) in f["distributed"].items()])
    if "analyzer" in f or "analyzer_engine" in f:
        lines += ["", "## Analyzer", "",
                  "`analyzer_bench.py` (from Python, against jieba and rjieba, distinct lines of the "
                  "benchmark corpus) and `analyzer_engine_bench` (the engine alone), as printed.", ""]
        for key in ["analyzer", "analyzer_engine"]:
            if key in f:
                lines += ["```text", f[key]["table"], "```", ""]
    if f["notes"]:
        lines += ["", "## Notes", ""] + [f"- {note}" for note in f["notes"]]
    lines += ["", "## Raw output", ""]
    for name, output in f["raw"].items():
        lines += [f"<details><summary>{name}</summary>", "", "```text", output.rstrip(), "```",
                  "", "</details>", ""]
    return "\n".join(lines).rstrip() + "\n"


def chart(f, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import ticker

    fig, (seg, bm25) = plt.subplots(2, 1, figsize=(9, 7.5), height_ratios=[5, 3])

    # Segmentation: one pair of bars (cut, cut_for_search) per implementation, ours on top.
    groups = []
    if "engine" in f:
        groups.append(("pyorveltext engine (C++)", f["engine"]["modes"], "one_thread", True))
    if "segment" in f:
        modes = f["segment"]["modes"]
        groups.append(("pyorveltext, 2 threads", modes, "two_threads", True))
        groups.append(("pyorveltext", modes, "one_thread", True))
    if "rjieba" in f:
        groups.append(("rjieba", {m: {"rate": f["rjieba"][m]} for m in HATCH}, "rate", False))
    if "segment" in f:
        groups.append(("jieba", f["segment"]["modes"], "jieba", False))
    height = 0.38
    values = []
    for row, (label, modes, key, ours) in enumerate(reversed(groups)):
        for offset, mode in [(height / 2, "cut"), (-height / 2, "cut_for_search")]:
            value = modes[mode][key]
            values.append(value)
            seg.barh(row + offset, value, height, color=OURS if ours else PEER,
                     hatch=HATCH[mode], edgecolor="white", linewidth=0)
            seg.text(value * 1.04, row + offset, f"{value:.1f}", va="center", fontsize=8)
    seg.set_yticks(range(len(groups)), [g[0] for g in reversed(groups)])
    # Peers differ by more than an order of magnitude: a log axis with plain-number ticks.
    seg.set_xscale("log")
    seg.set_xlim(min(values) / 2, max(values) * 1.6)
    seg.xaxis.set_major_locator(ticker.LogLocator(subs=(1, 2, 5)))
    seg.xaxis.set_major_formatter(ticker.FuncFormatter(lambda x, _: f"{x:g}"))
    seg.xaxis.set_minor_locator(ticker.NullLocator())
    seg.set_xlabel("MB of UTF-8 text per second (log scale), one thread unless noted")
    seg.set_title("Chinese segmentation throughput", loc="left", fontweight="bold")
    seg.legend(handles=[plt.Rectangle((0, 0), 1, 1, facecolor=OURS, hatch=HATCH[m],
                                      edgecolor="white") for m in HATCH],
               labels=["cut (mixed mode)", "cut_for_search"], loc="lower right", fontsize=8)

    if "bm25" in f:
        train = f["bm25"]["train_mtokens_s"]
        bars = [("pyorveltext, int tokens", train["pyorveltext train (int)"], True),
                ("pyorveltext, str tokens", train["pyorveltext train (str)"], True),
                ("rank_bm25 BM25Okapi()", train["rank_bm25 BM25Okapi()"], False),
                ("bm25s index()", train["bm25s index()"], False)]
        faster_peer = max(value for _, value, ours in bars if not ours)
        for row, (label, value, ours) in enumerate(reversed(bars)):
            bm25.barh(row, value, 0.6, color=OURS if ours else PEER)
            text = f"{value:.2f}"
            if ours:
                text += f"  ({value / faster_peer:.1f}× the faster peer)"
            bm25.text(value + 0.01 * faster_peer, row, text, va="center", fontsize=8)
        bm25.set_yticks(range(len(bars)), [b[0] for b in reversed(bars)])
        bm25.set_xlim(0, max(b[1] for b in bars) * 1.35)
        bm25.set_xlabel("million tokens trained per second")
    bm25.set_title("BM25 training throughput", loc="left", fontweight="bold")

    for axis in (seg, bm25):
        axis.spines[["top", "right"]].set_visible(False)
        axis.tick_params(axis="y", length=0)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def write(figures, out):
    out = pathlib.Path(out)
    (out / "results.md").write_text(markdown(figures), encoding="utf-8")
    chart(figures, out / "results.png")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("figures", nargs="?", type=pathlib.Path,
                        default=HERE / "out" / "figures.json")
    parser.add_argument("--out", type=pathlib.Path, default=HERE)
    args = parser.parse_args()
    write(json.loads(args.figures.read_text(encoding="utf-8")), args.out)


if __name__ == "__main__":
    main()
