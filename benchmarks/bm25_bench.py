"""BM25 training and encoding speed, and model memory, against rank_bm25 and bm25s.

The documents are the lines of the benchmark corpus data/bench/corpus.txt (distinct news and
review text, built by tools/fetch_bench_corpus.py when absent), cut into words by
pyorveltext.Jieba beforehand; integer tokens number the distinct words in order of first
appearance. Measured in one run:
  - training throughput in tokens per second: pyorveltext (string and integer tokens) against
    rank_bm25 (BM25Okapi construction) and bm25s (indexing the same tokenised corpus);
  - encode_document and encode_query on 10-token inputs, in microseconds per call;
  - resident memory of a model holding 1,000,000 distinct short string tokens, per token and
    against a Python dict of the same tokens to ints (synthetic: the corpus has fewer words).
Usage: python benchmarks/bm25_bench.py [--documents N] [--peer-documents N]  (0: every line)
"""
import argparse
import gc
import json
import subprocess
import sys
import time

from proc_status import status_kib
from pyorveltext import BM25

VOCABULARY = 1_000_000


def rss_bytes():
    return status_kib("VmRSS") * 1024


def make_corpus(documents):
    """The first `documents` lines of the benchmark corpus (0: all) as word lists, and the same
    documents with every distinct word numbered."""
    import segment_bench
    from pyorveltext import Jieba

    lines, _, _ = segment_bench.bench_corpus()
    if documents:
        lines = lines[:documents]
    jieba = Jieba(*segment_bench.data_paths())
    # Separators come out as words of their own; a search index would drop them.
    string_docs = [[w for w in jieba.cut(line) if not w.isspace()] for line in lines]
    string_docs = [doc for doc in string_docs if doc]
    ids = {}
    integer_docs = [[ids.setdefault(w, len(ids)) for w in doc] for doc in string_docs]
    return string_docs, integer_docs


def seconds(function):
    gc.collect()
    started = time.perf_counter()
    function()
    return time.perf_counter() - started


def train_ours(docs):
    model = BM25()
    for doc in docs:
        model.train(doc)
    return model


def train_rank_bm25(docs):
    from rank_bm25 import BM25Okapi

    BM25Okapi(docs)


def train_bm25s(docs):
    import bm25s

    bm25s.BM25().index(docs, show_progress=False)


def per_call_microseconds(function, argument, calls=200_000):
    for _ in range(1000):
        function(argument)
    started = time.perf_counter()
    for _ in range(calls):
        function(argument)
    return (time.perf_counter() - started) / calls * 1e6


def model_memory(count):
    """Bytes per token of a trained model and of a dict built from the same tokens.

    Runs in a fresh process: memory that earlier steps freed would otherwise be reused and
    hide what the model takes."""
    output = subprocess.run(
        [sys.executable, __file__, "--memory-only", str(count)],
        capture_output=True, text=True, check=True,
    ).stdout
    return json.loads(output)


def measure_memory(count):
    tokens = [f"t{i:07d}" for i in range(count)]
    gc.collect()
    before = rss_bytes()
    model = BM25()
    for start in range(0, len(tokens), 1000):
        model.train(tokens[start : start + 1000])
    model_bytes = rss_bytes() - before
    del model
    gc.collect()
    # The dict owns its keys and values, as the model owns its copies of the tokens.
    before = rss_bytes()
    table = {f"t{i:07d}": i + 1000 for i in range(len(tokens))}
    dict_bytes = rss_bytes() - before
    del table
    print(json.dumps([model_bytes / len(tokens), dict_bytes / len(tokens)]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--documents", type=int, default=0)
    parser.add_argument("--peer-documents", type=int, default=0,
                        help="documents given to the peers (they are slower)")
    parser.add_argument("--memory-only", type=int, metavar="TOKENS", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_only:
        measure_memory(args.memory_only)
        return

    print("cutting the benchmark corpus into documents ...", flush=True)
    string_docs, integer_docs = make_corpus(args.documents)
    print(f"{len(string_docs):,} documents", flush=True)
    tokens = sum(map(len, string_docs))
    peer_docs = string_docs[: args.peer_documents or None]
    peer_tokens = sum(map(len, peer_docs))
    print(f"{tokens:,} tokens, {len(set(t for d in string_docs for t in d)):,} distinct", flush=True)

    rows = []
    model_holder = {}
    t = seconds(lambda: model_holder.setdefault("m", train_ours(string_docs)))
    rows.append(("pyorveltext train (str)", tokens / t))
    t = seconds(lambda: train_ours(integer_docs))
    rows.append(("pyorveltext train (int)", tokens / t))
    print("timing rank_bm25 ...", flush=True)
    rows.append(("rank_bm25 BM25Okapi()", peer_tokens / seconds(lambda: train_rank_bm25(peer_docs))))
    print("timing bm25s ...", flush=True)
    rows.append(("bm25s index()", peer_tokens / seconds(lambda: train_bm25s(peer_docs))))
    faster_peer = max(rows[2][1], rows[3][1])

    print("\ntraining throughput")
    print(f"  {'':28} {'Mtokens/s':>10} {'vs faster peer':>15}")
    for name, rate in rows:
        print(f"  {name:28} {rate / 1e6:10.2f} {rate / faster_peer:14.2f}x")

    model = model_holder["m"]
    query = string_docs[0][:10]
    integer_query = integer_docs[0][:10]
    print("\nencoding 10 tokens (µs per call, target <= 2)")
    for name, function, argument in [
        ("encode_document (str)", model.encode_document, query),
        ("encode_query (str)", model.encode_query, query),
        ("encode_document (int)", model.encode_document, integer_query),
        ("encode_query (int)", model.encode_query, integer_query),
    ]:
        print(f"  {name:28} {per_call_microseconds(function, argument):8.3f}")

    del model, model_holder, string_docs, integer_docs, peer_docs
    gc.collect()
    model_per_token, dict_per_token = model_memory(1_000_000)
    print("\nmemory for 1,000,000 distinct short tokens (resident bytes per token)")
    print(f"  {'pyorveltext BM25':28} {model_per_token:8.1f}  (target <= 80)")
    print(f"  {'Python dict str -> int':28} {dict_per_token:8.1f}")
    print(f"  {'ratio':28} {model_per_token / dict_per_token:8.2f}x (target <= 0.75)")


if __name__ == "__main__":
    main()
