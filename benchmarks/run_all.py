"""Runs every benchmark and writes benchmarks/results.md and benchmarks/results.png.

    python benchmarks/run_all.py [--quick] [--out DIR]

Each benchmark runs in its own process with its ordinary command line, and this runner reads
the figures from the table it prints. That leaves the benchmarks plain scripts that their
owners change freely: if a printed format changes, the report says which benchmark could not
be read and still carries its raw output. A benchmark that is missing or cannot run is
skipped with a note. Child output is streamed as it comes, so long runs show progress.

--quick runs every benchmark on small inputs, to check the pipeline; its report goes to
benchmarks/out/ unless --out says otherwise.
"""
import argparse
import datetime
import importlib.metadata
import importlib.util
import json
import os
import pathlib
import platform
import re
import select
import subprocess
import sys
import time

import report

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
VENV_BIN = pathlib.Path(sys.executable).parent
HEARTBEAT_S = 30
PEERS = ["rank-bm25", "bm25s", "jieba", "rjieba", "pymilvus.model", "pinecone-text"]
NUMBER = r"(-?\d+(?:\.\d+)?)"


class ParseError(Exception):
    pass


def find(pattern, text, what):
    """The groups of the first line matching `pattern`, as floats where they are numbers."""
    match = re.search(pattern, text, re.MULTILINE)
    if not match:
        raise ParseError(f"no {what} in the output")
    return [float(g) if re.fullmatch(NUMBER, g) else g for g in match.groups()]


def parse_bm25(text):
    train = {}
    for label in ["pyorveltext train (str)", "pyorveltext train (int)",
                  "rank_bm25 BM25Okapi()", "bm25s index()"]:
        train[label] = find(rf"^\s+{re.escape(label)}\s+{NUMBER}\s+{NUMBER}x$", text, label)[0]
    encode = {}
    for label in ["encode_document (str)", "encode_query (str)",
                  "encode_document (int)", "encode_query (int)"]:
        (encode[label],) = find(rf"^\s+{re.escape(label)}\s+{NUMBER}$", text, label)
    (model,) = find(rf"^\s+pyorveltext BM25\s+{NUMBER}", text, "model bytes per token")
    (table,) = find(rf"^\s+Python dict str -> int\s+{NUMBER}", text, "dict bytes per token")
    return {"train_mtokens_s": train, "encode_us": encode,
            "memory_bytes_per_token": {"pyorveltext BM25": model, "Python dict": table}}


def parse_model_file(text):
    rows = {}
    for name in ["dump", "load", "load peak extra"]:
        row = (rf"^{re.escape(name)}\s+{NUMBER} (s|MiB)\s+(.+?) {NUMBER} (?:s|MiB)"
               rf"\s+{NUMBER}\s+{NUMBER}x")
        ours, unit, against, peer, ratio, bound = find(row, text, f"'{name}' row")
        rows[name] = {"ours": ours, "unit": unit, "against": against, "peer": peer,
                      "ratio": ratio, "bound": bound}
    (tokens,) = find(r"^([\d,]+) distinct tokens", text, "token count")
    return {"tokens": int(tokens.replace(",", "")), "rows": rows}


def parse_segment(text):
    modes = {}
    for mode in ["cut", "cut_for_search"]:
        row = rf"^{mode}\s+{NUMBER}\s+{NUMBER}\s+{NUMBER}x\s+{NUMBER}\s+{NUMBER}x$"
        one, two, _, jieba, _ = find(row, text, f"'{mode}' row")
        modes[mode] = {"one_thread": one, "two_threads": two, "jieba": jieba}
    (build,) = find(rf"^construction: {NUMBER} s", text, "construction time")
    (jieba_init,) = find(rf"jieba package initialize\(\): {NUMBER} s", text, "jieba start-up")
    (rss,) = find(rf"^process holding one Jieba: VmRSS {NUMBER} MiB", text, "resident memory")
    (hot,) = find(rf"^cut, hot cache\s+{NUMBER}", text, "hot-cache row")
    return {"modes": modes, "construction_s": build, "jieba_init_s": jieba_init, "rss_mib": rss,
            "hot_cut": hot}


def parse_engine(text):
    modes = {}
    for name, mode in [("Cut", "cut"), ("CutForSearch", "cut_for_search")]:
        one, two = find(rf"^{name}\s+1 thread\s+{NUMBER} MB/s\s+2 threads\s+{NUMBER} MB/s",
                        text, f"'{name}' row")
        modes[mode] = {"one_thread": one, "two_threads": two}
    _, build = find(rf"^construction: {NUMBER} s first, {NUMBER} s best", text, "construction")
    (engine_mib,) = find(rf"\(engine {NUMBER} MiB\)", text, "engine memory")
    return {"modes": modes, "construction_s": build, "engine_mib": engine_mib}


def parse_threads(text):
    """2T/1T rows of both series: [(bytes per call, 1T MB/s, ratio)], [(free µs, 1T µs, ratio)]."""
    row = rf"^\s+{NUMBER}\s+{NUMBER}\s+{NUMBER}$"
    cut_part, _, control_part = text.partition("control:")
    cut = [tuple(map(float, r)) for r in re.findall(row, cut_part, re.MULTILINE)]
    control = [tuple(map(float, r)) for r in re.findall(row, control_part, re.MULTILINE)]
    if not cut or not control:
        raise ParseError("no 2T/1T rows in the output")
    return {"cut": cut, "control": control}


def parse_rjieba(text):
    rates = {mode: find(rf"^{mode}\s+{NUMBER} MB/s$", text, f"'{mode}' row")[0]
             for mode in ["cut", "cut_for_search"]}
    # Ours over rjieba in alternating rounds of the same process: (min, median, max).
    rates["paired"] = {
        mode: find(rf"^\s+{mode}\s+min {NUMBER}x\s+median {NUMBER}x\s+max {NUMBER}x$", text,
                   f"paired '{mode}' row")
        for mode in ["cut", "cut_for_search"]}
    return rates


def parse_batch(text):
    """[(ratio name, value, target text)] from batch_bench.py's closing ratio table."""
    _, _, part = text.partition("ratios (medians)")
    rows = re.findall(rf"^  (.+?)\s+{NUMBER}x \((.+?)\)", part, re.MULTILINE)
    if not rows:
        raise ParseError("no ratio rows in the output")
    return [(name.strip(), float(value), target) for name, value, target in rows]


def parse_distributed(text):
    figures = {}
    for label in ["one process, threads=1", "one process, threads=2",
                  "Dask, 2 workers x 1 thread", "Dask, dask_bm25.local_cluster()",
                  "Spark, local[2]"]:
        try:
            figures[label] = find(
                rf"^\s+{re.escape(label)}\s+{NUMBER}\s+{NUMBER}\s+{NUMBER}\s+{NUMBER} MB/s\s+"
                rf"{NUMBER}x$", text, label)
        except ParseError:
            if label != "Spark, local[2]":  # Spark may be absent
                raise
    return figures


def parse_analyzer(text):
    """The analyzer tables as printed: they go into the report as they are."""
    start = text.find("\ncall ")
    if start < 0 or "tokenize" not in text[start:]:
        raise ParseError("no analyzer table in the output")
    return {"table": text[start + 1:].rstrip()}


def parse_analyzer_engine(text):
    start = text.find("engine call")
    if start < 0 or "add_word x" not in text:
        raise ParseError("no analyzer engine table in the output")
    return {"table": text[start:].rstrip()}


def run(name, command):
    """Runs one benchmark, echoing its output with a prefix; returns (exit code, output)."""
    print(f"\n== {name}: {' '.join(map(str, command))}", flush=True)
    started = time.monotonic()
    process = subprocess.Popen(
        list(map(str, command)), cwd=REPO, env=dict(os.environ, PYTHONUNBUFFERED="1"),
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
    )
    # Raw reads after select: a buffered reader could sit on lines that select cannot see.
    lines, pending = [], b""
    while True:
        ready, _, _ = select.select([process.stdout], [], [], HEARTBEAT_S)
        if not ready:
            print(f"   ... {name} still running, {time.monotonic() - started:.0f} s", flush=True)
            continue
        chunk = os.read(process.stdout.fileno(), 1 << 16)
        if chunk:
            *complete, pending = (pending + chunk).split(b"\n")
        else:  # end of output: an unterminated last line still counts
            complete, pending = [pending] if pending else [], b""
        for line in complete:
            lines.append(line.decode("utf-8", "replace") + "\n")
            print(f"   | {lines[-1]}", end="", flush=True)
        if not chunk:
            break
    code = process.wait()
    print(f"== {name}: exit {code} after {time.monotonic() - started:.0f} s", flush=True)
    return code, "".join(lines)


def build_engine_bench(target="segment_engine_bench"):
    """Builds the C++ engine driver into build/bench; returns its path or raises."""
    build = REPO / "build" / "bench"
    configure = [VENV_BIN / "cmake", "-S", REPO, "-B", build, "-G", "Ninja",
                 f"-DCMAKE_MAKE_PROGRAM={VENV_BIN / 'ninja'}", "-DCMAKE_BUILD_TYPE=Release",
                 "-DPYORVELTEXT_BUILD_MODULE=OFF", "-DPYORVELTEXT_BUILD_BENCHMARKS=ON"]
    for command in [configure, [VENV_BIN / "cmake", "--build", build, "-j2",
                                "--target", target]]:
        code, _ = run(f"build {target}", command)
        if code:
            raise RuntimeError(f"build failed (exit {code})")
    return build / target


def engine_inputs(out):
    """DATA_DIR, the benchmark corpus and a JSON-lines file of the golden lines (the hot-cache
    case) for the C++ driver: the ones segment_bench.py uses."""
    sys.path.insert(0, str(HERE))
    import segment_bench

    paths = segment_bench.data_paths()
    segment_bench.bench_corpus(1)  # fetches the corpus when absent
    golden = segment_bench.SHARED / "golden" / "public-userdict.jsonl"
    if not golden.is_file():
        lines, _ = segment_bench.base_lines(paths[0])
        golden = out / "engine_corpus.jsonl"
        golden.write_text("".join(json.dumps({"s": s}, ensure_ascii=False) + "\n" for s in lines),
                          encoding="utf-8")
    return pathlib.Path(paths[0]).parent, segment_bench.BENCH_CORPUS, golden


def have_rjieba():
    if importlib.util.find_spec("rjieba"):
        return True
    print("\n== rjieba is not installed; trying pip", flush=True)
    code = subprocess.run([sys.executable, "-m", "pip", "install", "-q", "rjieba"]).returncode
    importlib.invalidate_caches()
    return code == 0 and importlib.util.find_spec("rjieba") is not None


def machine():
    model = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                  if line.startswith("model name")), platform.processor())
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO,
                            capture_output=True, text=True).stdout.strip()
    versions = {}
    for peer in PEERS:
        try:
            versions[peer] = importlib.metadata.version(peer)
        except importlib.metadata.PackageNotFoundError:
            pass
    return {"date": datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), "cpu": model,
            "cores": os.cpu_count(), "python": platform.python_version(), "commit": commit,
            "load_average": os.getloadavg()[0], "peers": versions}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="small inputs, to check the pipeline")
    parser.add_argument("--out", type=pathlib.Path, help="directory for results.md and results.png")
    args = parser.parse_args()
    out = args.out or (HERE / "out" if args.quick else HERE)
    out.mkdir(parents=True, exist_ok=True)
    (HERE / "out").mkdir(exist_ok=True)
    quick = args.quick

    py = sys.executable
    steps = [  # (key, script, arguments, parser)
        ("bm25", "bm25_bench.py",
         ["--documents", "20000", "--peer-documents", "20000"] if quick else [], parse_bm25),
        ("model_file", "model_file_bench.py", ["--tokens", "200000"] if quick else [],
         parse_model_file),
        ("segment", "segment_bench.py",
         ["--mb", "2", "--peer-mb", "0.3", "--repeat", "1"] if quick else [], parse_segment),
        ("threads", "thread_scaling.py", ["--calls", "20000", "--repeat", "1"] if quick else [],
         parse_threads),
        ("rjieba", "rjieba_peer.py", ["--mb", "0.3", "--repeat", "1"] if quick else [],
         parse_rjieba),
        ("batch", "batch_bench.py",
         (["--mb", "1", "--peer-mb", "0.05", "--rounds", "1"] if quick else [])
         + ["--engine-bench", REPO / "build" / "bench" / "batch_engine_bench"], parse_batch),
        ("distributed", "distributed_bench.py", ["--mb", "2", "--rounds", "1"] if quick else [],
         parse_distributed),
        ("analyzer", "analyzer_bench.py", ["--mb", "0.05", "--rounds", "1"] if quick else [],
         parse_analyzer),
    ]
    figures = {"machine": machine(), "quick": quick, "notes": [], "raw": {}}
    # The batch benchmark compares with the engine's own batch speed, a C++ driver.
    try:
        build_engine_bench("batch_engine_bench")
    except (RuntimeError, OSError) as error:
        figures["notes"].append(f"batch_engine_bench: not built ({error}).")
    started = time.monotonic()
    total = len(steps) + 1
    for number, (key, script, arguments, parse) in enumerate(steps, 1):
        print(f"\n[{number}/{total}] {script}", flush=True)
        if not (HERE / script).is_file():
            figures["notes"].append(f"{script}: skipped, the file is not in this checkout yet.")
            continue
        if key == "rjieba" and not have_rjieba():
            figures["notes"].append("rjieba: skipped, it does not install here.")
            continue
        code, output = run(script, [py, HERE / script, *arguments])
        figures["raw"][script] = output
        try:
            figures[key] = parse(output)
        except ParseError as error:
            figures["notes"].append(f"{script}: figures not read ({error}; exit {code}); "
                                    "see its raw output.")
            continue
        if code:
            figures["notes"].append(f"{script} exited with {code} (a target missed?).")

    print(f"\n[{total}/{total}] segment_engine_bench.cpp", flush=True)
    if (HERE / "segment_engine_bench.cpp").is_file():
        try:
            binary = build_engine_bench()
            data_dir, corpus, golden = engine_inputs(HERE / "out")
            code, output = run("segment_engine_bench",
                               [binary, data_dir, corpus, *(["2"] if quick else [])])
            figures["raw"]["segment_engine_bench"] = output
            figures["engine"] = parse_engine(output)
            size = ["2"] if quick else ["20"]
            code, output = run("segment_engine_bench (hot cache)",
                               [binary, data_dir, golden, *size, "--threads", "1", "--quiet-setup"])
            figures["raw"]["segment_engine_bench (hot cache)"] = output
            figures["engine"]["hot_cut"] = find(rf"^Cut\s+1 thread\s+{NUMBER} MB/s", output,
                                                "hot-cache 'Cut' row")[0]
        except (RuntimeError, ParseError, OSError) as error:
            figures["notes"].append(f"segment_engine_bench: {error}.")
    else:
        figures["notes"].append("segment_engine_bench.cpp: skipped, not in this checkout yet.")

    # The analyzer's engine figures, on the same real-text corpus as analyzer_bench.py.
    corpus_files = sorted((REPO / "data" / "bench").glob("*.txt"))
    if (HERE / "analyzer_engine_bench.cpp").is_file() and corpus_files:
        try:
            binary = build_engine_bench("analyzer_engine_bench")
            data_dir, _, _ = engine_inputs(HERE / "out")
            code, output = run("analyzer_engine_bench",
                               [binary, data_dir, corpus_files[0],
                                *(["0.1", "1"] if quick else ["2", "5"])])
            figures["raw"]["analyzer_engine_bench"] = output
            figures["analyzer_engine"] = parse_analyzer_engine(output)
        except (RuntimeError, ParseError, OSError) as error:
            figures["notes"].append(f"analyzer_engine_bench: {error}.")
    else:
        figures["notes"].append("analyzer_engine_bench: skipped, no data/bench corpus.")

    figures["machine"]["load_average_end"] = os.getloadavg()[0]
    figures["machine"]["minutes"] = (time.monotonic() - started) / 60
    (HERE / "out" / "figures.json").write_text(json.dumps(figures, indent=1), encoding="utf-8")
    report.write(figures, out)
    print(f"\nwrote {out / 'results.md'} and {out / 'results.png'}")
    for note in figures["notes"]:
        print(f"note: {note}")


if __name__ == "__main__":
    main()
