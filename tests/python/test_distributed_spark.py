"""examples/distributed/spark_bm25.py on local[2]: the model equals the single-process one
byte for byte, vectors equal the single-process vectors, and bad rows are counted.
Needs pyspark and a Java runtime (tools/setup_spark.sh); `make test-spark` runs only these."""
import os
import shutil
import sys

import pytest

from distributed_support import (
    BAD_ROWS, CORPUS, EMPTY_ROWS, dump_bytes, good_texts, import_example, rows_with_faults,
    single_process_model,
    worker_jieba, reference,  # noqa: F401 (fixtures)
)

pytest.importorskip("pyspark")
if "libasan" in os.environ.get("LD_PRELOAD", ""):
    # The sanitizer run preloads ASan into every child process, and the JVM does not run
    # under it; the Spark code is plain Python over methods the other tests cover there.
    pytest.skip("Spark does not run with AddressSanitizer preloaded", allow_module_level=True)
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("no Java runtime (tools/setup_spark.sh installs one)", allow_module_level=True)

from pyspark.sql import SparkSession  # noqa: E402

spark_bm25 = import_example("spark_bm25")


@pytest.fixture(scope="module")
def spark():
    # Workers must run this interpreter (the one with the module), not the first python found.
    os.environ["PYSPARK_PYTHON"] = sys.executable
    session = (
        SparkSession.builder.master("local[2]")
        .appName("pyorveltext-tests")
        .config("spark.ui.enabled", "false")
        .config("spark.sql.shuffle.partitions", "2")
        .getOrCreate()
    )
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()


def check_report(report, rows):
    assert (report.rows, report.bad, report.empty) == (len(rows), len(BAD_ROWS), len(EMPTY_ROWS))


# Catches partitions lost or counted twice by mapPartitions/treeReduce, a merge that is not
# exact or that changes its inputs, and bad rows trained or dropped silently.
@pytest.mark.parametrize("partitions", [5, 1])
def test_rdd_gives_the_single_process_model(spark, worker_jieba, reference, tmp_path, partitions):
    rows = rows_with_faults()
    rdd = spark.sparkContext.parallelize(rows, partitions)
    model, report = spark_bm25.train_bm25(rdd, worker_jieba)
    assert dump_bytes(model, tmp_path / "m.json") == reference[1]
    check_report(report, rows)


def test_text_file_read_by_workers_gives_the_single_process_model(
        spark, worker_jieba, tmp_path):
    # Catches lines lost or read twice where byte ranges cut through lines (seven ranges over
    # a file of a few KB cut most of them), and a last line without a line end.
    path = tmp_path / "corpus.txt"
    path.write_text("\n".join(CORPUS), encoding="utf-8")
    model, report = spark_bm25.train_bm25(
        spark_bm25.text_file_lines(spark.sparkContext, str(path), 7), worker_jieba)
    expected = single_process_model(worker_jieba, [line for line in CORPUS if line])
    assert dump_bytes(model, tmp_path / "m.json") == dump_bytes(expected, tmp_path / "e.json")
    assert report.rows == len(CORPUS)


def text_frame(spark, rows):
    # A DataFrame column holds strings or nulls: the non-text rows arrive as nulls.
    texts = [r if isinstance(r, str) and r not in BAD_ROWS else None for r in rows]
    return spark.createDataFrame([(i, t) for i, t in enumerate(texts)], "id long, text string")


def test_dataframe_vectors_equal_single_process_vectors(spark, worker_jieba, reference, tmp_path):
    # Catches vectors attached to the wrong ids and null rows dropped instead of kept.
    rows = [r for r in rows_with_faults() if not isinstance(r, bytes)]
    frame = text_frame(spark, rows).repartition(3)
    model, report = spark_bm25.train_bm25(frame, worker_jieba)
    expected_model = single_process_model(worker_jieba, good_texts(rows))
    assert dump_bytes(model, tmp_path / "m.json") == dump_bytes(expected_model, tmp_path / "e")
    out = str(tmp_path / "vectors")
    report = spark_bm25.write_document_vectors(frame, model, worker_jieba, out)
    bad = sum(1 for r in rows if not isinstance(r, str) or r in BAD_ROWS)
    assert (report.rows, report.bad, report.empty) == (len(rows), bad, 1)
    written = {r["id"]: r for r in spark.read.parquet(out).collect()}
    assert sorted(written) == list(range(len(rows)))
    for i, row in enumerate(rows):
        got = written[i]
        if not isinstance(row, str) or row in BAD_ROWS:
            assert got["indices"] is None
        elif row:
            want = model.encode_documents([row], output="sparse", tokenizer=worker_jieba)[0]
            assert list(got["indices"]) == list(want["indices"])
            assert list(got["values"]) == list(want["values"])
