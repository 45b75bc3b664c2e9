"""Stress: threads cutting with one shared Jieba while other threads train, encode, dump and
load BM25 models, some of them sharing one model. Every result equals the sequential one."""
import threading

import pyorveltext

SENTENCES = [
    "我来到北京清华大学，研究生命科学。",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "他说的确实在理，结婚的和尚未结婚的都来了",
    "Python 3.10 和 C++17 一起写扩展模块，速度提高了 3.5 倍！",
    "ＡＢＣ全角字母、emoji😀和한국어混在一起",
    "南京市长江大桥于1968年12月29日建成通车" * 50,
    "",
    "中\0文\r\n测试",
]
ROUNDS = 100


def run_together(workers):
    """Starts every worker at once and re-raises the first exception any of them met."""
    start = threading.Barrier(len(workers))
    errors = []

    def wrap(work):
        def run():
            start.wait()
            try:
                work()
            except BaseException as error:  # reported to the test thread below
                errors.append(error)

        return run

    threads = [threading.Thread(target=wrap(work)) for work in workers]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]


def model_file(model, path):
    model.dump(str(path))
    return path.read_text(encoding="utf-8")


def train_and_encode(documents, queries, path):
    """One model's whole life: train, encode, dump and load into a second model."""
    model = pyorveltext.BM25()
    for document in documents:
        model.train(document)
    encoded = [(model.encode_document(q), model.encode_query(q)) for q in queries]
    text = model_file(model, path)
    restored = pyorveltext.BM25()
    restored.load(text)
    return encoded, text, [restored.encode_query(q) for q in queries]


def test_cutting_training_and_encoding_together_match_sequential(segmenter, tmp_path):
    modes = ("cut", "cut_for_search")
    cuts = {mode: [getattr(segmenter, mode)(s) for s in SENTENCES] for mode in modes}
    string_docs = [words for words in cuts["cut_for_search"] if words]
    integer_docs = [[len(w) * 1000 + i for i, w in enumerate(words)] for words in string_docs]
    jobs = {
        "strings": (string_docs, string_docs[:3]),
        "integers": (integer_docs, integer_docs[:3]),
    }
    expected = {
        name: train_and_encode(docs, queries, tmp_path / f"expected-{name}.json")
        for name, (docs, queries) in jobs.items()
    }
    mismatches = []

    def cutter(offset):
        def work():
            for round_number in range(ROUNDS):
                for i in range(len(SENTENCES)):
                    k = (i + offset + round_number) % len(SENTENCES)
                    for mode in modes:
                        if getattr(segmenter, mode)(SENTENCES[k]) != cuts[mode][k]:
                            mismatches.append((mode, SENTENCES[k]))

        return work

    def trainer(name, slot):
        def work():
            docs, queries = jobs[name]
            for round_number in range(ROUNDS // 3):
                path = tmp_path / f"{name}-{slot}-{round_number}.json"
                if train_and_encode(docs, queries, path) != expected[name]:
                    mismatches.append((name, slot, round_number))

        return work

    cutters = [cutter(0), cutter(3), cutter(5)]
    trainers = [trainer("strings", 0), trainer("strings", 1), trainer("integers", 0)]
    run_together(cutters + trainers)
    assert mismatches == []


def test_threads_training_one_shared_model_count_every_document(tmp_path):
    documents = [[f"t{(d * 7 + k) % 50}" for k in range(1 + d % 9)] for d in range(400)]
    sequential = pyorveltext.BM25()
    for document in documents:
        sequential.train(document)

    shared = pyorveltext.BM25()
    queries = documents[:20]
    snapshots = []

    def trainer(part):
        def work():
            for document in documents[part::4]:
                shared.train(document)

        return work

    def reader():
        # Reads interleave with training; each must see a consistent model (no error, no NaN).
        for _ in range(200):
            try:
                weights = shared.encode_query(queries[len(snapshots) % len(queries)])
            except RuntimeError:  # not trained yet
                continue
            snapshots.append(weights)
            assert all(w == w for w in weights.values())

    run_together([trainer(0), trainer(1), trainer(2), trainer(3), reader])
    # Counts and totals do not depend on the order of training, so neither do the file bytes.
    shared_text = model_file(shared, tmp_path / "shared.json")
    assert shared_text == model_file(sequential, tmp_path / "sequential.json")
