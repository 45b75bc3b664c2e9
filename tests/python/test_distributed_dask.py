"""examples/distributed/dask_bm25.py on a LocalCluster of two worker processes: the model
equals the single-process one byte for byte, vectors equal the single-process vectors, bad
rows are counted, and a worker killed mid-job changes nothing."""
import os
import sys

import pytest

from distributed_support import (
    BAD_ROWS, EMPTY_ROWS, dump_bytes, good_texts, import_example, rows_with_faults,
    single_process_model,
    worker_jieba, reference,  # noqa: F401 (fixtures)
)

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
pytest.importorskip("pyarrow")
import dask.bag as db  # noqa: E402
import dask.dataframe as dd  # noqa: E402
import pandas as pd  # noqa: E402
import pyarrow.parquet as pq  # noqa: E402

dask_bm25 = import_example("dask_bm25")


@pytest.fixture(autouse=True)
def object_columns():
    # Mixed rows (bytes, None, numbers) stay Python objects, as in a column read from a messy
    # source; Dask would otherwise convert the column to Arrow strings and fail on them.
    with dask.config.set({"dataframe.convert-string": False}):
        yield


@pytest.fixture(scope="module")
def client():
    # ":0": any free port. None means the default 8787, and when that is taken (another
    # cluster on the machine) Dask warns, which the suite turns into an error.
    with dask_bm25.local_cluster(2, dashboard_address=":0") as cluster, distributed.Client(
        cluster
    ) as client:
        yield client


def test_local_cluster_settings_reach_workers_and_leave_this_process(client):
    # Catches the recommended settings applied after the workers started (they would run with
    # Dask's defaults), and the workers' environment left in this process's os.environ, where
    # every process it starts later would inherit it.
    seen = client.run(
        lambda: (
            os.environ.get("MALLOC_MMAP_THRESHOLD_"),
            dask.config.get("distributed.admin.tick.interval"),
        )
    )
    assert set(seen.values()) == {(str(32 * 2**20), "1s")}
    assert "MALLOC_MMAP_THRESHOLD_" not in os.environ


def check_report(report):
    rows = rows_with_faults()
    assert (report.rows, report.bad, report.empty) == (len(rows), len(BAD_ROWS), len(EMPTY_ROWS))
    assert report.used == len(rows) - len(BAD_ROWS) - len(EMPTY_ROWS)


class TestTraining:
    # Catches lost or doubled partitions, a merge that is not exact, bad rows trained or
    # silently dropped.
    @pytest.mark.parametrize("partitions, split_every", [(7, 2), (3, 8), (1, 8)])
    def test_bag_gives_the_single_process_model(
        self, client, worker_jieba, reference, tmp_path, partitions, split_every
    ):
        texts = db.from_sequence(rows_with_faults(), npartitions=partitions)
        model, report = dask_bm25.train_bm25(texts, worker_jieba, split_every=split_every)
        assert dump_bytes(model, tmp_path / "m.json") == reference[1]
        check_report(report)
        assert len(report.samples) == len(BAD_ROWS)

    def test_surrogate_among_plain_texts_falls_back_and_is_counted(self, client, worker_jieba, tmp_path):
        # Catches the all-str fast path losing the shard (or training part of it) when the
        # engine refuses a str without a UTF-8 form.
        from distributed_support import CORPUS

        texts = db.from_sequence(CORPUS[:10] + ["\ud800x"] + CORPUS[10:20], npartitions=1)
        model, report = dask_bm25.train_bm25(texts, worker_jieba)
        expected = single_process_model(worker_jieba, CORPUS[:20])
        assert dump_bytes(model, tmp_path / "m") == dump_bytes(expected, tmp_path / "e")
        assert (report.rows, report.used, report.bad) == (21, 20, 1)

    def test_text_file_blocks_keep_every_line_once(self, client, worker_jieba, tmp_path):
        # Catches lines lost or doubled at block boundaries, a line end left on a text, and an
        # undecodable line failing its whole block instead of being counted.
        from distributed_support import CORPUS

        path = tmp_path / "corpus.txt"
        path.write_bytes(b"\n".join(t.encode() for t in CORPUS) + b"\n\xff\xfe\n")
        texts = dask_bm25.read_corpus(str(path), "text", blocksize=700)
        assert texts.npartitions > 3
        model, report = dask_bm25.train_bm25(texts, worker_jieba)
        expected = single_process_model(worker_jieba, CORPUS)
        assert dump_bytes(model, tmp_path / "m") == dump_bytes(expected, tmp_path / "e")
        assert (report.rows, report.bad) == (len(CORPUS) + 1, 1)

    def test_dataframe_column_gives_the_single_process_model(
        self, client, worker_jieba, reference, tmp_path
    ):
        frame = pd.DataFrame({"text": pd.Series(rows_with_faults(), dtype=object)})
        texts = dd.from_pandas(frame, npartitions=4)["text"]
        model, report = dask_bm25.train_bm25(texts, worker_jieba)
        assert dump_bytes(model, tmp_path / "m.json") == reference[1]
        check_report(report)

    def test_killed_worker_is_retried_and_the_model_stays_exact(
        self, client, worker_jieba, reference, tmp_path
    ):
        # Catches a merge that changes its inputs (a re-run would count a shard twice) and
        # results lost with the dead worker.
        marker = str(tmp_path / "killed")
        texts = db.from_sequence(rows_with_faults(), npartitions=6).map(
            kill_worker_once, marker, CORPUS_ROW_TO_KILL_ON
        )
        model, report = dask_bm25.train_bm25(texts, worker_jieba, split_every=2)
        assert os.path.exists(marker), "no worker was killed"
        assert dump_bytes(model, tmp_path / "m.json") == reference[1]
        check_report(report)


CORPUS_ROW_TO_KILL_ON = 30


def kill_worker_once(row, marker, position_text_index):
    """Ends the worker process the first time it meets the chosen row."""
    from distributed_support import CORPUS

    if row == CORPUS[position_text_index] and not os.path.exists(marker):
        open(marker, "w").close()
        os._exit(1)
    return row


class TestVectors:
    @pytest.mark.parametrize("kind", ["dataframe", "bag"])
    def test_parquet_vectors_equal_single_process_vectors(
        self, client, worker_jieba, reference, tmp_path, kind
    ):
        # Catches rows shifted against their vectors, and bad rows dropped instead of kept null.
        rows = rows_with_faults()
        if kind == "dataframe":
            frame = pd.DataFrame({"text": pd.Series(rows, dtype=object)})
            texts = dd.from_pandas(frame, npartitions=3)["text"]
        else:
            texts = db.from_sequence(rows, npartitions=1)  # ids are positions in a partition
        out = tmp_path / "vectors"
        report = dask_bm25.write_document_vectors(texts, reference[0], worker_jieba, str(out))
        check_report(report)
        table = pq.read_table(str(out)).to_pandas().sort_values("id")
        assert list(table["id"]) == list(range(len(rows)))
        expected = reference[0].encode_documents(
            [r if isinstance(r, (str, bytes)) and r not in BAD_ROWS else "x" for r in rows],
            output="sparse", tokenizer=worker_jieba,
        )
        for row, indices, values, want in zip(rows, table["indices"], table["values"], expected):
            if row in BAD_ROWS:
                assert indices is None and values is None
            elif row == "":
                assert len(indices) == 0
            else:
                assert list(indices) == list(want["indices"])
                assert list(values) == list(want["values"])


def _jieba_builds():  # runs on a worker: how many Jiebas its process has built
    import shard_work

    return shard_work.jieba_builds()


class TestReuseAcrossJobs:
    def test_second_job_builds_no_jieba_and_ships_no_code(self, client, worker_jieba, tmp_path):
        # Catches a Jieba built for every job or task (0.2 s or more per worker each time) and
        # shard_work.py uploaded again per job: an upload re-imports the module on the workers
        # and in this process (the scheduler's), after which objects made from the old module
        # no longer pickle.
        from distributed_support import CORPUS

        def job():
            texts = db.from_sequence(CORPUS, npartitions=4)
            return dask_bm25.train_bm25(texts, worker_jieba)[0]

        # A worker killed by an earlier test comes back through its nanny: wait for it, so
        # that the workers stay the same between the two counts below.
        client.wait_for_workers(2, timeout=60)
        first = dump_bytes(job(), tmp_path / "first")
        builds = client.run(_jieba_builds)
        assert all(count <= 1 for count in builds.values())
        module = dask_bm25.merge_results
        assert dump_bytes(job(), tmp_path / "second") == first
        after = client.run(_jieba_builds)
        assert {w: after[w] for w in builds if w in after} == {
            w: builds[w] for w in builds if w in after
        }
        assert dask_bm25.merge_results is module is sys.modules["shard_work"].merge_results
        plugins = client.run_on_scheduler(
            lambda dask_scheduler: list(dask_scheduler.worker_plugins)
        )
        assert len([name for name in plugins if name.startswith("shard_work-")]) <= 1


class TestCachedJieba:
    def test_one_build_per_state_and_independent_copies(self, worker_jieba):
        # Catches a cache that builds again for an equal state, and one that hands every task
        # the same object, so that a task's add_word would change the next task's cuts.
        shard_work = import_example("shard_work")
        state = shard_work.pickle.dumps(worker_jieba)
        before = shard_work.jieba_builds()
        first, second = shard_work.cached_jieba(state), shard_work.cached_jieba(state)
        assert shard_work.jieba_builds() - before <= 1
        assert first is not second
        word = "鹦鹉螺号潜艇"
        first.add_word(word)
        assert word in first.cut(word) and word not in second.cut(word)
        assert word not in shard_work.cached_jieba(state).cut(word)


class TestLineRanges:
    @pytest.mark.parametrize("ending", ["", "\n"])
    def test_ranges_cut_anywhere_hold_every_line_once(self, tmp_path, ending):
        # Catches a line lost or read twice when a range starts exactly at a line start, right
        # after a line end, or inside a multi-byte character (ranges of every width up to 9
        # put a boundary at every byte); Spark's text_file_lines reads a file this way.
        shard_work = import_example("shard_work")
        lines = ["北京", "", "ab", "研究生命", "x"]
        path = tmp_path / "lines.txt"
        path.write_text("\n".join(lines) + ending, encoding="utf-8")
        size = path.stat().st_size
        for width in range(1, 10):
            got = [line for start in range(0, size, width)
                   for line in shard_work.range_lines(str(path), (start, min(size, start + width)))]
            assert got == lines, width
