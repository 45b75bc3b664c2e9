"""Train one BM25 model on a corpus too big for one process, and write its document vectors,
with Dask. Copy this file (and shard_work.py beside it) or import it.

    python examples/distributed/dask_bm25.py --data DIR CORPUS [--column TEXT]
        [--workers 2 | --scheduler tcp://host:8786] [--model model.json] [--vectors OUT]

CORPUS is a text file (one document per line) or Parquet (a file or a directory; --column
names the text column). Without --scheduler a LocalCluster of worker processes runs on this
machine; with it the same code runs on that cluster (the data files in DIR, the corpus and OUT
must then be at the same paths on every worker).

How it works: each partition is segmented and counted on a worker by one native call,
``BM25.train_many(texts, tokenizer=jieba)``, giving a small model per partition; the models are
merged in a tree (``BM25.merge`` adds counts exactly, so the result equals the model one process
would train on the whole corpus, byte for byte). For a text file, reading a block, splitting it
into lines and training on them are one task, so lines never travel between workers. Each task
carries the ``Jieba`` as its pickled form (its five paths and word changes, a few hundred
bytes); a worker process builds the Jieba on its first task and keeps it for every later task
and job (``shard_work.cached_jieba``), so only the first job on a cluster pays for building it.
Workers that cannot import shard_work.py get it uploaded once per client. Tasks never change
their inputs, so a task that Dask re-runs after losing a worker gives the same result.
"""
from __future__ import annotations

import argparse
import copy
import functools
import hashlib
import os
import pathlib
import sys
import weakref
from typing import Any, Dict, List, Optional, Tuple, Union

import dask
import dask.bag as db
import dask.dataframe as dd
from dask.base import compute
from dask.bytes.core import read_bytes
from dask.delayed import Delayed, delayed

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from shard_work import (  # noqa: E402
    Analysis,
    RowReport,
    jieba_from,
    jieba_state,
    lines_of,
    merge_results,
    train_partition,
    write_parquet_shard,
)

from pyorveltext import BM25, Jieba  # noqa: E402

Texts = Union[db.Bag, dd.Series]

# Worker environment for training jobs, added to Dask's own (config key
# distributed.nanny.pre-spawn-environ). Dask starts workers with MALLOC_TRIM_THRESHOLD_ set, so
# that they give freed memory back to the system; setting it also pins glibc's mmap threshold at
# 128 KiB, so every larger buffer of a training call is mapped afresh and faulted in page by
# page: five times the page faults, and about a tenth more CPU time in training. Raising the
# mmap threshold keeps the trimming and removes that cost. local_cluster() uses it; set it in
# your cluster's configuration to do the same.
WORKER_ENVIRON = {"MALLOC_MMAP_THRESHOLD_": 32 * 2**20}

# Dask settings for a cluster that runs these jobs (dask.config keys, for the scheduler and the
# workers alike). Dask's defaults suit interactive work, and they cost a job of long native
# calls on every core: each process wakes 50 times a second to check that its event loop is
# responsive, reads its CPU and memory for the dashboard twice a second, and each worker samples
# its threads' stacks every 10 ms for the dashboard's profile. An idle LocalCluster of two
# workers spent a fifth of a core on this, and 0.04 of one with these settings; a training job's
# CPU time in all its processes fell by a median of 15% (five runs). Results, retries and memory
# limits are unchanged.
CLUSTER_CONFIG = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "1s",
    "distributed.admin.system-monitor.interval": "2s",
}


def cluster_config() -> Dict[str, Any]:
    """CLUSTER_CONFIG and WORKER_ENVIRON as one dask.config mapping, for ``dask.config.set``
    around the start of a cluster or in a cluster's configuration file."""
    settings: Dict[str, Any] = {
        f"distributed.nanny.pre-spawn-environ.{k}": v for k, v in WORKER_ENVIRON.items()
    }
    settings.update(CLUSTER_CONFIG)
    return settings


def local_cluster(
    workers: int = 2, settings: Optional[Dict[str, Any]] = None, **options: Any
) -> Any:
    """A LocalCluster of `workers` processes of one thread each, started with the dask.config
    `settings` (by default :func:`cluster_config`; ``{}`` for Dask's own). `options` go to
    LocalCluster."""
    from distributed import LocalCluster

    options = {"threads_per_worker": 1, "processes": True, **options}
    # Dask writes the workers' environment into this process's os.environ before it starts
    # them and leaves it there, where every process started later would inherit it.
    environment = dict(os.environ)
    try:
        with dask.config.set(cluster_config() if settings is None else settings):
            return LocalCluster(n_workers=workers, **options)
    finally:
        os.environ.clear()
        os.environ.update(environment)


def _partitions(texts: Texts) -> List[Delayed]:
    if isinstance(texts, (db.Bag, dd.Series)):
        return list(texts.to_delayed())
    raise TypeError(f"texts must be a dask.bag.Bag or a dask.dataframe column, not {type(texts)}")


def _client() -> Any:
    """The current distributed client, or None under Dask's local schedulers."""
    try:
        from distributed import get_client

        return get_client()
    except (ImportError, ValueError):
        return None


SHARD_WORK = pathlib.Path(__file__).resolve().parent / "shard_work.py"
# The clients whose cluster can import this shard_work.py, with the digest of its source.
_shipped: "weakref.WeakKeyDictionary[Any, str]" = weakref.WeakKeyDictionary()


def _ship_code() -> None:
    """Makes this shard_work.py importable on every worker, which unpickles the task functions
    by module name (the tasks live there rather than here so that a worker never imports
    dask.dataframe or pyarrow to train). Checked once per client: workers that already import
    the same source (a LocalCluster's workers start with this process's sys.path; a cluster
    may have it installed) get nothing. Otherwise the file is uploaded once, as a worker plugin
    named after its digest, which the scheduler also gives to workers that join later (one
    that replaces a dead worker). Never uploading it again matters: an upload re-imports the
    module, and objects made from the old module's classes and functions then no longer pickle
    (nor pass isinstance) against the new one."""
    client = _client()
    if client is None:
        return
    source = SHARD_WORK.read_bytes()
    digest = hashlib.sha256(source).hexdigest()
    if _shipped.get(client) == digest:
        return

    def imports_same_source() -> bool:  # runs on a worker (defined here: pickled by value)
        import hashlib
        import importlib.util
        import sys

        module = sys.modules.get("shard_work")
        path = getattr(module, "__file__", None) if module else None
        if path is None:
            spec = importlib.util.find_spec("shard_work")
            path = spec.origin if spec else None
        if not isinstance(path, str):
            return False
        try:
            with open(path, "rb") as file:
                return hashlib.sha256(file.read()).hexdigest() == digest
        except OSError:
            return False

    if not all(client.run(imports_same_source).values()):
        from distributed.diagnostics.plugin import UploadFile

        client.register_plugin(UploadFile(str(SHARD_WORK)), name=f"shard_work-{digest[:16]}")
    # The scheduler unpickles the graph, so it needs the module too; a LocalCluster's scheduler
    # runs in this process, which has it (re-importing it here would break the objects above).
    if not client.run_on_scheduler(imports_same_source):
        from distributed.diagnostics.plugin import SchedulerUploadFile

        client.register_plugin(
            SchedulerUploadFile(str(SHARD_WORK)), name=f"shard_work-{digest[:16]}"
        )
    _shipped[client] = digest


def train_bm25(
    texts: Texts, jieba: Jieba, analysis: Analysis = Analysis(), *, split_every: int = 8
) -> Tuple[BM25, RowReport]:
    """The BM25 model of every text in `texts` (a dask.bag of texts or a dask.dataframe text
    column) and the report of rows used and set aside (see shard_work.RowReport)."""
    if split_every < 2:
        raise ValueError("split_every must be at least 2")
    _ship_code()
    # Tasks carry the Jieba's pickled form (a few hundred bytes); each worker process builds
    # the Jieba on its first task and keeps it for later tasks and jobs (shard_work.cached_jieba).
    state = jieba_state(jieba)
    results: List[Delayed] = [
        delayed(train_partition, pure=True)(part, [i], state, analysis)
        for i, part in enumerate(_partitions(texts))
    ]
    if not results:
        return BM25(analysis.b, analysis.k1), RowReport()
    # A tree of merges: each task adds up to split_every models, so no worker ever holds more
    # than that many and the depth grows with the logarithm of the number of partitions.
    while len(results) > split_every:
        results = [
            delayed(merge_results, pure=True)(results[i : i + split_every])
            for i in range(0, len(results), split_every)
        ]
    # Fusing each partition's chain (read a block, split it into lines, train on them) into
    # one task keeps the lines on the worker that made them: otherwise the scheduler often
    # trains them on the other worker, and for 6 MB of text moving the lines costs about a
    # fifth of training on them.
    with dask.config.set({"optimization.fuse.delayed": True}):
        return _merge_here(results)


def _merge_here(results: List[Delayed]) -> Tuple[BM25, RowReport]:
    """The last level of the tree, merged in this process as each result arrives: the results
    that are ready early are fetched and restored while the last partitions still train, and
    the last one comes straight here rather than through another worker's merge task (a
    transfer between workers and a task the fewer at the end of the job)."""
    client = _client()
    if client is None or len(results) == 1:
        parts = compute(*results)
        return parts[0] if len(parts) == 1 else merge_results(parts)
    from distributed import as_completed

    # One graph each (they share no task): Dask's fusing fails on a list of several outputs.
    futures = [client.compute(result) for result in results]
    position = {future.key: i for i, future in enumerate(futures)}
    reports: List[RowReport] = [RowReport()] * len(futures)
    model: Optional[BM25] = None
    for future, (shard_model, shard_report) in as_completed(futures, with_results=True):
        reports[position[future.key]] = shard_report  # summed in order: samples stay in order
        if model is None:
            # A copy: workers that run in this process hand over the object they keep.
            model = copy.copy(shard_model)
        else:
            model += shard_model
    assert model is not None  # there were results
    return model, functools.reduce(lambda a, b: a + b, reports)


def write_document_vectors(
    texts: Texts, model: BM25, jieba: Jieba, path: str, analysis: Analysis = Analysis()
) -> RowReport:
    """Writes the sparse document vector of every text to Parquet files in the directory
    `path`, one per partition, for a vector-database bulk load: columns ``partition``, ``id``
    (the dataframe index, or the position in a bag partition), ``indices`` (uint32 token ids)
    and ``values`` (weights). A bad row keeps its place with null vectors and is counted in
    the returned report."""
    os.makedirs(path, exist_ok=True)
    _ship_code()
    client = _client()
    # The model is sent to every worker once (not once per task); the Jieba as its pickled
    # form, built once per worker process.
    shared_model = model if client is None else client.scatter(model, broadcast=True, hash=False)
    state = jieba_state(jieba)
    tasks = [
        delayed(write_parquet_shard, pure=True)(part, shared_model, state, analysis, path, i)
        for i, part in enumerate(_partitions(texts))
    ]
    reports: Tuple[RowReport, ...] = compute(*tasks)
    return functools.reduce(lambda a, b: a + b, reports, RowReport())


def read_corpus(source: str, column: str, blocksize: Union[int, str] = "64MiB") -> Texts:
    """A text file's lines (without line ends) or a Parquet text column; a text file is read
    in blocks of `blocksize` bytes (an int, or a size such as "64MiB")."""
    if source.endswith(".parquet") or os.path.isdir(source):
        return dd.read_parquet(source, columns=[column])[column]
    # Blocks cut at line ends and split in one call each: a tenth of the CPU time that
    # dask.bag.read_text spends on the same lines, which would be a large part of training's.
    _, blocks = read_bytes(source, delimiter=b"\n", blocksize=blocksize, sample=False)
    return db.from_delayed([delayed(lines_of, pure=True)(block) for block in blocks[0]])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--data", type=pathlib.Path, required=True)
    parser.add_argument("--column", default="text")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--model", default="model.json")
    parser.add_argument("--vectors", help="directory for the Parquet document vectors")
    args = parser.parse_args()

    from distributed import Client

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = local_cluster(args.workers)
        client = Client(cluster)
    with client:
        jieba = jieba_from(args.data)
        texts = read_corpus(args.corpus, args.column)
        model, report = train_bm25(texts, jieba)
        model.dump(args.model)
        print(f"model: {model.doc_count} documents, {model.vocabulary_size} tokens -> {args.model}")
        print(f"training rows: {report}")
        if args.vectors:
            report = write_document_vectors(texts, model, jieba, args.vectors)
            print(f"vectors -> {args.vectors}; rows: {report}")
    if cluster is not None:
        cluster.close()


if __name__ == "__main__":
    main()
