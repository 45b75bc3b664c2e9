"""Train one BM25 model on a corpus too big for one process, and write its document vectors,
with Spark (PySpark). Copy this file (and shard_work.py beside it) or import it.

    python examples/distributed/spark_bm25.py --data DIR CORPUS [--column TEXT]
        [--master local[2]] [--model model.json] [--vectors OUT]

CORPUS is a text file (one document per line) or Parquet (--column names the text column).
The data files in DIR and OUT must be at the same paths on every executor.

The same two jobs as dask_bm25.py: ``mapPartitions`` trains one model per partition with one
native call, ``BM25.train_many(texts, tokenizer=jieba)``, and ``treeReduce`` merges them with
``BM25.merge`` (exact: the result equals the one-process model byte for byte); the vectors come
from ``mapInPandas`` calling ``BM25.encode_documents(..., output="sparse")``. A text file is
read for training by the Python workers themselves, each task its own byte range
(``text_file_lines``), so the lines never pass through the JVM. The ``Jieba`` travels as its small pickled form (a few hundred bytes) inside each task, and each
Python worker builds it on first use and keeps it for later tasks and jobs (Spark reuses its
Python workers); the model travels as a broadcast variable.
"""
from __future__ import annotations

import argparse
import functools
import os
import pathlib
import sys
from typing import Any, Iterable, Iterator, Tuple, Union

from pyspark import RDD, Broadcast, SparkContext
from pyspark.sql import DataFrame, SparkSession

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
from shard_work import (  # noqa: E402
    Analysis,
    RowReport,
    cached_jieba,
    encode_shard,
    jieba_from,
    jieba_state,
    merge_results,
    range_lines,
    train_partition,
)

from pyorveltext import BM25, Jieba  # noqa: E402

# Spark has no unsigned 32-bit type: token ids are stored as 64-bit integers.
VECTOR_SCHEMA = "id long, indices array<long>, values array<double>"


def _ship_code(sc: SparkContext) -> None:
    """Makes shard_work and this module importable on the executors, which unpickle the
    partition functions by module name."""
    shipped = {pathlib.Path(p).name for p in sc.listFiles} if hasattr(sc, "listFiles") else set()
    for name in ("shard_work.py", "spark_bm25.py"):
        if name not in shipped:
            try:
                sc.addPyFile(str(HERE / name))
            except Exception:  # already added under another path: the module is there
                pass


def _text_rdd(texts: Union[RDD[Any], DataFrame], column: str) -> RDD[Any]:
    if isinstance(texts, DataFrame):
        return texts.select(column).rdd.map(lambda row: row[0])
    return texts


def text_file_lines(sc: SparkContext, path: str, partitions: int = 0) -> RDD[str]:
    """The lines of a UTF-8 text file (one document per line, without line ends), read by the
    Python workers themselves: each of `partitions` (default: twice the default parallelism)
    byte ranges of the file is read and split by the task that trains on it, and a line
    belongs to the range its first byte lies in. ``sc.textFile`` reads in the JVM and hands
    each line to Python separately, which cost about as much as training on it. The file must
    be at the same path on every executor."""
    size = os.path.getsize(path)
    count = max(1, min(partitions or 2 * sc.defaultParallelism, size))
    step = max(1, -(-size // count))
    ranges = [(start, min(start + step, size)) for start in range(0, size, step)]
    return sc.parallelize(ranges, max(1, len(ranges))).flatMap(
        functools.partial(range_lines, path)
    )


def _train_partition(
    state: bytes, analysis: Analysis, index: int, rows: Iterable[Any]
) -> Iterator[Tuple[BM25, RowReport]]:
    yield train_partition(list(rows), [index], state, analysis)


def train_bm25(
    texts: Union[RDD[Any], DataFrame],
    jieba: Jieba,
    analysis: Analysis = Analysis(),
    *,
    column: str = "text",
    depth: int = 2,
) -> Tuple[BM25, RowReport]:
    """The BM25 model of every text in `texts` (an RDD of texts, or a DataFrame whose text
    column is `column`) and the report of rows used and set aside (shard_work.RowReport)."""
    rdd = _text_rdd(texts, column)
    sc = rdd.context
    _ship_code(sc)
    per_partition = rdd.mapPartitionsWithIndex(
        functools.partial(_train_partition, jieba_state(jieba), analysis)
    )
    if per_partition.getNumPartitions() == 0:
        return BM25(analysis.b, analysis.k1), RowReport()
    # merge_results builds a new model: Spark may run a reduce again on the same inputs.
    return per_partition.treeReduce(lambda a, b: merge_results([a, b]), depth=depth)


def _vector_batches(
    model: Broadcast[BM25],
    jieba: bytes,
    analysis: Analysis,
    text_column: str,
    id_column: str,
    frames: Iterator[Any],
) -> Iterator[Any]:
    import pandas as pd

    for shard, frame in enumerate(frames):
        indices, values, _ = encode_shard(
            list(frame[text_column]), model.value, cached_jieba(jieba), analysis, str(shard)
        )
        yield pd.DataFrame({"id": frame[id_column], "indices": indices, "values": values})


def write_document_vectors(
    frame: DataFrame,
    model: BM25,
    jieba: Jieba,
    path: str,
    analysis: Analysis = Analysis(),
    *,
    column: str = "text",
    id_column: str = "id",
) -> RowReport:
    """Writes the sparse document vector of each row of `frame` to Parquet at `path`
    (columns ``id``, ``indices`` as 64-bit token ids, ``values``) for a vector-database bulk
    load. A bad row keeps its id with null vectors; the returned report counts the rows."""
    sc = frame.sparkSession.sparkContext
    _ship_code(sc)
    shared_model = sc.broadcast(model)
    try:
        vectors = frame.select(id_column, column).mapInPandas(
            functools.partial(
                _vector_batches, shared_model, jieba_state(jieba), analysis, column, id_column
            ),
            VECTOR_SCHEMA,
        )
        vectors.write.mode("overwrite").parquet(path)
    finally:
        shared_model.unpersist()
    # Counted from what was written, so a re-run task cannot count twice.
    written = frame.sparkSession.read.parquet(path)
    rows = written.count()
    bad = written.filter(written["indices"].isNull()).count()
    empty = written.filter("size(indices) = 0").count()
    return RowReport(rows=rows, used=rows - bad - empty, empty=empty, bad=bad)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus")
    parser.add_argument("--data", type=pathlib.Path, required=True)
    parser.add_argument("--column", default="text")
    parser.add_argument("--master", default="local[2]")
    parser.add_argument("--model", default="model.json")
    parser.add_argument("--vectors", help="directory for the Parquet document vectors")
    args = parser.parse_args()

    # Local workers run this interpreter, which has pyorveltext (not the first python found).
    os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
    spark = SparkSession.builder.master(args.master).appName("pyorveltext-bm25").getOrCreate()
    try:
        jieba = jieba_from(args.data)
        if args.corpus.endswith(".parquet"):
            frame = spark.read.parquet(args.corpus)
        else:
            frame = spark.read.text(args.corpus).withColumnRenamed("value", args.column)
        from pyspark.sql.functions import monotonically_increasing_id

        frame = frame.withColumn("id", monotonically_increasing_id())
        # A text file is read by the Python workers themselves for training (text_file_lines).
        texts = frame if args.corpus.endswith(".parquet") else text_file_lines(
            spark.sparkContext, args.corpus)
        model, report = train_bm25(texts, jieba, column=args.column)
        model.dump(args.model)
        print(f"model: {model.doc_count} documents, {model.vocabulary_size} tokens -> {args.model}")
        print(f"training rows: {report}")
        if args.vectors:
            report = write_document_vectors(frame, model, jieba, args.vectors, column=args.column)
            print(f"vectors -> {args.vectors}; rows: {report}")
    finally:
        spark.stop()


if __name__ == "__main__":
    main()
