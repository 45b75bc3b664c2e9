"""Batch methods on the real-text corpus: cut_many, raw texts to BM25 models and sparse vectors.

One text per line of data/bench/corpus.txt (distinct news and review lines, built by
tools/fetch_bench_corpus.py when missing). Every figure is MB/s of UTF-8 input (10^6 bytes per
second) as min / median / max over --rounds rounds; ratios use medians, and peers run in this
same process on the same texts (the slow ones on the first --peer-mb MB, in rounds taken in turn
with ours on the same texts, their ratio the median of the rounds' ratios). Peers: the jieba package, rjieba, pymilvus-model's BM25EmbeddingFunction with
its Chinese analyzer, pinecone-text's BM25Encoder with jieba as its tokenizer, and
jieba + rank_bm25; each is skipped with a note when it does not import.
Usage: python benchmarks/batch_bench.py [--mb 0 (all)] [--peer-mb 1] [--rounds 3]
                                        [--engine-bench build/bench/batch_engine_bench]
"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import threading
import time

import pyorveltext
import segment_bench

REPO = pathlib.Path(__file__).resolve().parents[1]
CORPUS = REPO / "data" / "bench" / "corpus.txt"
MB = 1e6
ratios = []  # (name, value, target)


def corpus_lines():
    if not CORPUS.is_file():
        subprocess.run([sys.executable, str(REPO / "tools" / "fetch_bench_corpus.py"), "--out",
                        str(CORPUS.parent)], check=True)
    return [line for line in CORPUS.read_text(encoding="utf-8").split("\n") if line]


def prefix(lines, mb):
    out, size = [], 0
    for line in lines:
        if mb and size >= mb * MB:
            break
        out.append(line)
        size += len(line.encode("utf-8"))
    return out, size


def measure(label, run, size, rounds):
    """Runs `run()` `rounds` times; prints and returns the median MB/s."""
    rates = []
    for _ in range(rounds):
        start = time.perf_counter()
        run()
        rates.append(size / (time.perf_counter() - start) / MB)
    rates.sort()
    median = statistics.median(rates)
    print(f"  {label:<58}{rates[0]:>9.2f}{median:>9.2f}{rates[-1]:>9.2f}", flush=True)
    return median


def against(label, peer_run, ours_run, size, rounds):
    """Runs the peer and ours in turn, `rounds` times each, so that both see the machine alike
    (this virtual machine's speed drifts by a fifth from minute to minute); prints the peer's
    MB/s and returns the median of the per-round ratios ours / peer."""
    peer_rates, ratios_ = [], []
    # One unmeasured call of each first: a peer's first call may set itself up (jieba builds its
    # prefix dictionary on first use, half a second), which is not the work compared and made
    # the first round's ratio an outlier.
    peer_run()
    ours_run()
    for _ in range(rounds):
        start = time.perf_counter()
        ours_run()
        ours = size / (time.perf_counter() - start) / MB
        start = time.perf_counter()
        peer_run()
        peer = size / (time.perf_counter() - start) / MB
        peer_rates.append(peer)
        ratios_.append(ours / peer)
    peer_rates.sort()
    ratios_.sort()
    print(f"  {label:<58}{peer_rates[0]:>9.2f}{statistics.median(peer_rates):>9.2f}"
          f"{peer_rates[-1]:>9.2f}", flush=True)
    print(f"  {'  ours / peer, rounds in turn':<58}{ratios_[0]:>8.1f}x{statistics.median(ratios_):>8.1f}x"
          f"{ratios_[-1]:>8.1f}x", flush=True)
    return statistics.median(ratios_)


def ratio(name, value, target):
    ratios.append((name, value, target))


def two_threads(function, items):
    halves = [items[0::2], items[1::2]]
    barrier = threading.Barrier(3)

    def work(part):
        barrier.wait()
        for item in part:
            function(item)

    threads = [threading.Thread(target=work, args=(h,)) for h in halves]
    for t in threads:
        t.start()
    barrier.wait()
    for t in threads:
        t.join()


def pieces(text, size):
    out, start, used = [], 0, 0
    for i, ch in enumerate(text):
        used += len(ch.encode("utf-8"))
        if used >= size:
            out.append(text[start : i + 1])
            start, used = i + 1, 0
    return out


def try_import(name, note):
    try:
        return __import__(name, fromlist=["_"])
    except Exception as error:  # an optional peer: any failure to import only skips it
        print(f"  note: {note} skipped ({type(error).__name__}: {error})")
        return None


def jieba_stop_words():
    path = pathlib.Path(segment_bench.data_paths()[4])
    return [w for w in path.read_text(encoding="utf-8").split("\n") if w]


def milvus_analyzer(stop_words):
    """pymilvus-model's default Chinese analyzer (jieba, stop words, punctuation). Its stop words
    come from NLTK's data, which cannot be downloaded here, so NLTK's list is replaced by ours;
    the analyzer's code and its other filters are unchanged."""
    import nltk.corpus
    from pymilvus.model.sparse.bm25.tokenizers import build_default_analyzer

    class OurStopWords:
        @staticmethod
        def words(language):
            return list(stop_words)

    nltk.corpus.stopwords = OurStopWords()
    return build_default_analyzer(language="zh")


def cutting(jieba, texts, size, rounds):
    print("cutting (one text per call or item)")
    loop = measure("per-call cut loop, 1 thread", lambda: [jieba.cut(t) for t in texts], size,
                   rounds)
    one = measure("cut_many, threads=1", lambda: jieba.cut_many(texts, threads=1), size, rounds)
    two = measure("cut_many, threads=2", lambda: jieba.cut_many(texts, threads=2), size, rounds)
    ratio("cut_many 1T / per-call loop", one / loop, 1.2)
    ratio("cut_many 2T / cut_many 1T", two / one, 1.7)
    rjieba = try_import("rjieba", "rjieba")
    if rjieba:
        rjieba.cut("预热")
        peer = measure("rjieba per-call cut(hmm=True), 1 thread",
                       lambda: [rjieba.cut(t, hmm=True) for t in texts], size, rounds)
        ratio("cut_many 2T / rjieba per-call cut", two / peer, 3.0)

    print("per-call cut, two threads sharing one Jieba")
    short = texts
    one = measure("short lines, 1 thread", lambda: [jieba.cut(t) for t in short], size, rounds)
    two = measure("short lines, 2 threads", lambda: two_threads(jieba.cut, short), size, rounds)
    ratio("per-call 2T / 1T, short lines", two / one, 0.95)
    long_pieces = pieces("".join(texts), 4096)
    long_size = sum(len(p.encode("utf-8")) for p in long_pieces)
    one = measure("4 KB pieces, 1 thread", lambda: [jieba.cut(p) for p in long_pieces],
                  long_size, rounds)
    two = measure("4 KB pieces, 2 threads", lambda: two_threads(jieba.cut, long_pieces),
                  long_size, rounds)
    ratio("per-call 2T / 1T, 4 KB pieces", two / one, 1.4)


def engine_two_threads(engine_bench, data_dir, rounds):
    """The engine's own cut_for_search speed through the batch pool on 2 threads (C++)."""
    if not engine_bench or not pathlib.Path(engine_bench).is_file():
        print("  note: no batch_engine_bench binary; engine comparison skipped")
        return None
    out = subprocess.run([engine_bench, data_dir, str(CORPUS), str(rounds)], capture_output=True,
                         text=True, check=True).stdout
    print("".join(f"  engine: {line}\n" for line in out.splitlines()), end="")
    for line in out.splitlines():
        if line.startswith("engine cut_for_search") and "2 thread" in line:
            return float(line.split()[4])  # the median
    return None


def raw_texts(jieba, texts, size, peer_texts, peer_size, rounds, engine_rate):
    print("raw texts to a BM25 model (train_many, tokenizer=jieba, mode='search')")

    def train(items, threads):
        pyorveltext.BM25().train_many(items, tokenizer=jieba, threads=threads)

    one = measure("train_many, threads=1", lambda: train(texts, 1), size, rounds)
    two = measure("train_many, threads=2", lambda: train(texts, 2), size, rounds)
    ratio("train_many 2T / 1T", two / one, 1.7)
    if engine_rate:
        ratio("train_many 2T / engine's own 2T cut_for_search", two / engine_rate, 0.8)
    measure(f"train_many, threads=2, first {peer_size / MB:.1f} MB",
            lambda: train(peer_texts, 2), peer_size, rounds)
    milvus = try_import("pymilvus.model.sparse", "pymilvus-model")
    analyzer = None
    if milvus:
        analyzer = milvus_analyzer(jieba_stop_words())
        value = against("pymilvus-model BM25EmbeddingFunction(zh analyzer).fit",
                        lambda: milvus.BM25EmbeddingFunction(analyzer).fit(peer_texts),
                        lambda: train(peer_texts, 2), peer_size, rounds)
        ratio("train_many 2T / pymilvus-model fit", value, 100)
    jieba_pkg = try_import("jieba", "jieba")
    rank_bm25 = try_import("rank_bm25", "rank_bm25")
    if jieba_pkg and rank_bm25:
        jieba_pkg.setLogLevel(60)
        jieba_pkg.initialize()
        value = against("jieba.lcut_for_search + rank_bm25.BM25Okapi",
                        lambda: rank_bm25.BM25Okapi([jieba_pkg.lcut_for_search(t)
                                                     for t in peer_texts]),
                        lambda: train(peer_texts, 2), peer_size, rounds)
        ratio("train_many 2T / jieba + rank_bm25", value, 100)

    print("raw texts to 'sparse' document vectors (encode_documents, tokenizer=jieba)")
    model = pyorveltext.BM25()
    model.train_many(texts, tokenizer=jieba)
    measure("encode_documents sparse, threads=2",
            lambda: model.encode_documents(texts, output="sparse", tokenizer=jieba, threads=2),
            size, rounds)
    def ours_sparse():
        model.encode_documents(peer_texts, output="sparse", tokenizer=jieba, threads=2)

    measure(f"encode_documents sparse, threads=2, first {peer_size / MB:.1f} MB", ours_sparse,
            peer_size, rounds)
    if milvus and analyzer:
        function = milvus.BM25EmbeddingFunction(analyzer)
        function.fit(peer_texts)
        value = against("pymilvus-model encode_documents",
                        lambda: function.encode_documents(peer_texts), ours_sparse, peer_size,
                        rounds)
        ratio("encode_documents sparse 2T / pymilvus-model", value, 100)
    pinecone = try_import("pinecone_text.sparse", "pinecone-text")
    if pinecone and jieba_pkg:
        # Built without __init__, which fetches NLTK data for its English tokenizer; jieba is
        # the tokenizer here, and BM25Encoder's own fit/encode code runs unchanged.
        encoder = pinecone.BM25Encoder.__new__(pinecone.BM25Encoder)
        encoder.b, encoder.k1 = 0.75, 1.2
        encoder.doc_freq, encoder.n_docs, encoder.avgdl = None, None, None
        encoder._tokenizer = jieba_pkg.lcut_for_search
        encoder.fit(peer_texts)
        value = against("pinecone-text BM25Encoder(jieba).encode_documents",
                        lambda: encoder.encode_documents(peer_texts), ours_sparse, peer_size,
                        rounds)
        ratio("encode_documents sparse 2T / pinecone-text + jieba", value, 50)


def token_lists(jieba, texts, size, rounds):
    print("token lists (words from cut_for_search_many), MB/s of the texts they came from")
    documents = jieba.cut_for_search_many(texts)

    def loop_train():
        model = pyorveltext.BM25()
        for d in documents:
            model.train(d)

    loop = measure("train loop", loop_train, size, rounds)
    batch = measure("train_many", lambda: pyorveltext.BM25().train_many(documents), size, rounds)
    ratio("token-list train_many / train loop", batch / loop, 1.3)
    model = pyorveltext.BM25()
    model.train_many(documents)
    loop = measure("encode_document loop", lambda: [model.encode_document(d) for d in documents],
                   size, rounds)
    batch = measure("encode_documents", lambda: model.encode_documents(documents), size, rounds)
    ratio("token-list encode_documents / encode_document loop", batch / loop, 1.5)


MEMORY_CHILD = """
import json, sys
sys.path.insert(0, {bench!r})
import pyorveltext, segment_bench
from proc_status import status_kib
jieba = pyorveltext.Jieba(*segment_bench.data_paths())
model = pyorveltext.BM25(); model.train_many([["x"]])
base = status_kib("VmRSS")
texts = [l for l in open({corpus!r}, encoding="utf-8").read().split("\\n") if l]
loaded = status_kib("VmRSS")
open("/proc/self/clear_refs", "w").write("5")  # restart the peak (VmHWM) from here
result = model.encode_documents(texts, output={output!r}, tokenizer=jieba)
after = status_kib("VmRSS")
print(json.dumps({{"input": loaded - base, "results": after - loaded,
                  "peak": status_kib("VmHWM") - base}}))
"""


def memory(rounds):
    print("memory of encode_documents(texts, tokenizer=jieba) over the corpus (fresh process)")
    for output in ["sparse", "dict"]:
        code = MEMORY_CHILD.format(bench=str(REPO / "benchmarks"), corpus=str(CORPUS),
                                   output=output)
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        if run.returncode:
            print(f"  note: memory child failed: {run.stderr.strip()[-300:]}")
            continue
        m = json.loads(run.stdout)
        bound = 1.5 * m["results"] + m["input"]
        print(f"  output={output:<7} input {m['input'] / 1024:7.1f} MiB, results "
              f"{m['results'] / 1024:7.1f} MiB, peak {m['peak'] / 1024:7.1f} MiB "
              f"(bound 1.5 x results + input = {bound / 1024:.1f} MiB)")
        ratio(f"peak / (1.5 x results + input), output={output}", m["peak"] / bound, None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=0, help="corpus prefix in MB (0: all)")
    # A megabyte (3,700 lines): on 0.3 MB our call takes 3 ms, of which starting threads and
    # tables, and the caches the peer's round has just emptied, took a fifth.
    parser.add_argument("--peer-mb", type=float, default=1.0, help="text for the slow peers")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--engine-bench", help="path of the batch_engine_bench binary")
    args = parser.parse_args()
    paths = segment_bench.data_paths()
    jieba = pyorveltext.Jieba(*paths)
    texts, size = prefix(corpus_lines(), args.mb)
    peer_texts, peer_size = prefix(texts, args.peer_mb)
    model_name = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                       if l.startswith("model name")), "?")
    print(f"corpus: {len(texts)} lines, {size / MB:.1f} MB from {CORPUS}; peers on "
          f"{len(peer_texts)} lines, {peer_size / MB:.2f} MB")
    print(f"cpu: {model_name}, usable cores {len(os.sched_getaffinity(0))}, "
          f"load average {os.getloadavg()[0]:.2f} at start")
    print(f"  {'MB/s':<58}{'min':>9}{'median':>9}{'max':>9}")
    cutting(jieba, texts, size, args.rounds)
    engine_rate = engine_two_threads(args.engine_bench, str(pathlib.Path(paths[0]).parent),
                                     args.rounds)
    raw_texts(jieba, texts, size, peer_texts, peer_size, args.rounds, engine_rate)
    token_lists(jieba, texts, size, args.rounds)
    memory(args.rounds)
    print(f"load average {os.getloadavg()[0]:.2f} at end")
    print("ratios (medians)")
    for name, value, target in ratios:
        verdict = "" if target is None else (" ok" if value >= target else " MISSED")
        goal = "(<= 1)" if target is None else f"(target >= {target})"
        print(f"  {name:<58}{value:>9.2f}x {goal}{verdict}")


if __name__ == "__main__":
    main()
