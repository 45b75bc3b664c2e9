"""Cost of training past one process: the Dask and Spark examples against one process, and
the cost of shipping a Jieba and a BM25 model to workers.

    python benchmarks/distributed_bench.py [--mb 100] [--rounds 3] [--no-spark]

Texts -> model on the real-text benchmark corpus (data/bench/corpus.txt, written by
tools/fetch_bench_corpus.py), repeated to --mb megabytes, one document per line:
- one process, BM25.train_many(lines, tokenizer=jieba, threads=1), and threads=2 for reference;
- examples/distributed/dask_bm25.py on a LocalCluster of 2 worker processes x 1 thread;
- examples/distributed/spark_bm25.py on local[2].
The engines read the text file themselves, and their timings include that. What a user pays
once per cluster rather than once per job is left out and timed apart: starting the cluster,
and a first (warm-up) job, which ships shard_work.py to workers that lack it and builds the
Jieba on each worker process (the examples keep it for later jobs). The one-process figures
likewise leave out building its Jieba. Every model must equal the one-process model byte for
byte. Each figure is min / median / max over --rounds rounds.
"""
import argparse
import os
import pathlib
import pickle
import platform
import resource
import statistics
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
REPO = HERE.parent
sys.path.insert(0, str(REPO / "examples" / "distributed"))

from pyorveltext import BM25, Jieba  # noqa: E402


def cpu_model():
    try:
        for line in open("/proc/cpuinfo", encoding="utf-8"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def spread(times):
    return min(times), statistics.median(times), max(times)


def timed(call, rounds):
    times, result = [], None
    for _ in range(rounds):
        started = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - started)
    return spread(times), result


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def dump_bytes(model):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "m.json")
        model.dump(path)
        return pathlib.Path(path).read_bytes()


def jieba_paths(data):
    data = data.resolve()
    return dict(
        dict_path=str(data / "jieba.dict.utf8"), hmm_path=str(data / "hmm_model.utf8"),
        user_dict_path=str(data / "user.dict.utf8"), idf_path=str(data / "idf.utf8"),
        stop_word_path=str(data / "stop_words.utf8"),
    )


def shipping_costs(jieba, paths, rounds):
    print("\nshipping objects to workers (pickle protocol 5), s: min / median / max")
    row = "  {:<38} {:>12} {:>9.4f} {:>9.4f} {:>9.4f}"
    print("  {:<38} {:>12} {:>9} {:>9} {:>9}".format("", "bytes", "min", "median", "max"))
    (t, data) = timed(lambda: pickle.dumps(jieba, protocol=5), max(rounds, 5))
    print(row.format("Jieba pickle (the five paths)", len(data), *t))
    (t, _) = timed(lambda: pickle.loads(data), rounds)
    print(row.format("Jieba unpickle (builds the engine)", len(data), *t))

    def loaded_data():
        contents = tuple(pathlib.Path(p).read_bytes() for p in paths.values())
        return pickle.dumps(contents, protocol=5)

    (t, alternative) = timed(loaded_data, max(rounds, 5))
    print(row.format("alternative: the files' contents", len(alternative), *t))

    model = BM25()
    documents = [[f"w{d * 100 + i}" for i in range(100)] for d in range(10000)]
    model.train_many(documents)
    print(f"  BM25 with {model.vocabulary_size} tokens:")
    (t, state) = timed(lambda: pickle.dumps(model, protocol=5), max(rounds, 5))
    print(row.format("BM25 pickle", len(state), *t))
    (t, _) = timed(lambda: pickle.loads(state), max(rounds, 5))
    print(row.format("BM25 unpickle", len(state), *t))
    shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(dir=shm) as d:
        path = os.path.join(d, "m.json")

        def dump_to_memory():
            model.dump(path)
            return pathlib.Path(path).read_bytes()

        (t, text) = timed(dump_to_memory, max(rounds, 5))
    print(row.format("BM25 dump to memory (tmpfs) + read", len(text), *t))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mb", type=float, default=100)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--data", type=pathlib.Path, default=REPO / "data" / "jieba")
    parser.add_argument("--corpus", type=pathlib.Path, default=REPO / "data" / "bench" / "corpus.txt")
    parser.add_argument("--no-spark", action="store_true")
    args = parser.parse_args()

    print(f"machine: {cpu_model()}, {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.2f} at start (the machine is shared: wall-clock figures vary)")
    paths = jieba_paths(args.data)
    jieba = Jieba(**paths)
    shipping_costs(jieba, paths, args.rounds)

    if not args.corpus.is_file():
        print(f"\n{args.corpus} missing: run tools/fetch_bench_corpus.py; engines skipped")
        return
    base = args.corpus.read_text(encoding="utf-8")
    if not base.endswith("\n"):
        base += "\n"
    repeat = max(1, round(args.mb * 1e6 / len(base.encode("utf-8"))))
    work = tempfile.TemporaryDirectory()
    corpus = pathlib.Path(work.name) / "corpus.txt"
    corpus.write_text(base * repeat, encoding="utf-8")
    megabytes = corpus.stat().st_size / 1e6
    print(f"\ntexts -> model: {megabytes:.1f} MB ({repeat} x {args.corpus.name}), "
          "one document per line, search mode, s: min / median / max")

    def one_process(threads):
        lines = corpus.read_text(encoding="utf-8").split("\n")[:-1]
        model = BM25()
        model.train_many(lines, tokenizer=jieba, threads=threads)
        return model

    results = {}
    # CPU seconds per round (all processes of the job), for the projection below.
    cpu = {}
    row = "  {:<34} {:>8.2f} {:>8.2f} {:>8.2f} {:>8.1f} MB/s {:>6.2f}x"
    before = cpu_seconds()
    (t1, reference) = timed(lambda: one_process(1), args.rounds)
    cpu["one process, threads=1"] = (cpu_seconds() - before) / args.rounds
    expected = dump_bytes(reference)
    results["one process, threads=1"] = t1
    (t, model) = timed(lambda: one_process(2), args.rounds)
    assert dump_bytes(model) == expected
    results["one process, threads=2"] = t

    import dask_bm25
    from distributed import Client

    # Four blocks per worker, of equal size: the two workers get equal shares, and each block
    # costs a task, and a model to ship and merge, of its own (a block size in whole MiB left a
    # last block of under a megabyte; in one A/B of 12 rounds sixteen blocks took 7% longer
    # than eight).
    blocksize = -(-corpus.stat().st_size // 8)

    def dask_job():
        # The tasks' keys depend only on their inputs, so a job that starts while the cluster
        # still holds the last job's result would be handed that result in a few milliseconds:
        # wait until the scheduler has let go of every task (not timed: it is this loop's
        # artefact, not part of a job).
        client = dask_bm25._client()
        deadline = time.perf_counter() + 10
        while client.run_on_scheduler(lambda dask_scheduler: len(dask_scheduler.tasks)):
            if time.perf_counter() > deadline:
                raise RuntimeError("the cluster still holds the last job's tasks")
            time.sleep(0.01)
        started = time.perf_counter()
        result = dask_bm25.train_bm25(dask_bm25.read_corpus(str(corpus), "text", blocksize), jieba)
        return time.perf_counter() - started, result

    def timed_dask(rounds):
        times = []
        for _ in range(rounds):
            (seconds, result) = dask_job()
            times.append(seconds)
        return spread(times), result

    def dask_figures(label, tuned):
        """Times the Dask job on a fresh dask_bm25.local_cluster of two workers, with Dask's own
        settings or the ones the example recommends."""
        started = time.perf_counter()
        cluster = dask_bm25.local_cluster(2, None if tuned else {}, dashboard_address=":0")
        client = Client(cluster)
        startup = time.perf_counter() - started

        def all_cpu_seconds():  # this process (client and scheduler) and every worker
            return cpu_seconds() + sum(client.run(cpu_seconds).values())

        # The cluster's processes spend CPU time even when idle (heartbeats, event loops); on
        # a busy machine a job takes long and that share grows, so it is measured and set apart.
        before = all_cpu_seconds()
        time.sleep(5)
        idle_rate = (all_cpu_seconds() - before) / 5
        (warm_up, _) = timed_dask(1)
        before = all_cpu_seconds()
        started = time.perf_counter()
        (t, (model, _)) = timed_dask(args.rounds)
        total_cpu = all_cpu_seconds() - before
        idle_cpu = idle_rate * (time.perf_counter() - started)
        cpu[label] = (total_cpu - idle_cpu) / args.rounds
        cpu[label + " idle"] = idle_cpu / args.rounds
        assert dump_bytes(model) == expected, "Dask model differs"
        results[label] = t
        # Other work on a shared machine comes and goes within a run; rounds of one process
        # and of Dask in turn, each pair a few seconds apart, see about the same load, so the
        # ratio within each pair is steadier than the ratio of medians taken a minute apart.
        # (The idle cluster takes a few percent of the second core meanwhile.)
        ones, others = [], []
        for _ in range(args.rounds):
            ones.append(timed(lambda: one_process(1), 1)[0][0])
            others.append(timed_dask(1)[0][0])
        ratios = [one / other for one, other in zip(ones, others)]
        paired[label] = (spread(ratios), spread(ones), spread(others))
        client.close()
        cluster.close()
        notes.append(f"{label}: cluster start-up {startup:.1f} s, and a first job "
                     f"{warm_up[0]:.2f} s that also builds the Jieba on each worker "
                     "(neither is in the figures)")

    notes = []
    paired = {}
    dask_default = "Dask, 2 workers x 1 thread"
    dask_figures(dask_default, tuned=False)
    # Dask's defaults pin glibc's mmap threshold at 128 KiB and keep every process busy with
    # the dashboard's sampling; the example's recommended settings lift both (see dask_bm25).
    dask_tuned = "Dask, dask_bm25.local_cluster()"
    dask_figures(dask_tuned, tuned=True)

    if not args.no_spark:
        try:
            os.environ.setdefault("PYSPARK_PYTHON", sys.executable)
            import spark_bm25
            from pyspark.sql import SparkSession

            started = time.perf_counter()
            spark = (SparkSession.builder.master("local[2]").appName("bench")
                     .config("spark.ui.enabled", "false")
                     .config("spark.ui.showConsoleProgress", "false").getOrCreate())
            spark.sparkContext.setLogLevel("ERROR")
            startup = time.perf_counter() - started
            # Two per core: each partition's model goes through the JVM to be merged, a cost
            # per partition that made 16 partitions slower than 4 here.
            partitions = 4

            def spark_job():
                return spark_bm25.train_bm25(
                    spark_bm25.text_file_lines(spark.sparkContext, str(corpus), partitions),
                    jieba)

            (warm_up, _) = timed(spark_job, 1)
            (t, (model, _)) = timed(spark_job, args.rounds)
            assert dump_bytes(model) == expected, "Spark model differs"
            results["Spark, local[2]"] = t
            spark.stop()
            notes.append(f"Spark session start-up {startup:.1f} s, and a first job "
                         f"{warm_up[0]:.2f} s (neither is in the figures)")
        except ImportError as error:
            notes.append(f"Spark skipped: {error}")

    print("  {:<34} {:>8} {:>8} {:>8} {:>13} {:>7}".format(
        "", "min", "median", "max", "median", "vs 1"))
    for label, (low, middle, high) in results.items():
        print(row.format(label, low, middle, high, megabytes / middle, t1[1] / middle))
    print("  every model equal to the one-process model: yes")
    for label, ((low, middle, high), ones, others) in paired.items():
        print(f"  {label}: speed-up over one process in rounds taken in turn, min / median / max "
              f"{low:.2f}x / {middle:.2f}x / {high:.2f}x (one process "
              "{:.2f} / {:.2f} / {:.2f} s, Dask {:.2f} / {:.2f} / {:.2f} s)".format(*ones, *others))
    # On a busy machine the wall-clock ratio says little; the CPU time each job spends does
    # not depend on other work. With two idle cores and equal shares, a job of C CPU seconds
    # on two workers takes about C / 2.
    one = cpu["one process, threads=1"]
    for label in (dask_default, dask_tuned):
        print(f"  CPU seconds per run: one process {one:.2f}, {label} (all processes) "
              f"{cpu[label]:.2f} besides {cpu[label + ' idle']:.2f} the idle cluster spends in "
              f"that time; projected speed-up on 2 idle cores {2 * one / cpu[label]:.2f}x")
    for note in notes:
        print(f"  {note}")
    print(f"load average {os.getloadavg()[0]:.2f} at the end")
    work.cleanup()


if __name__ == "__main__":
    main()
