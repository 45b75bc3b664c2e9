"""examples/vector_search.py in Qdrant's embedded local mode ranks as the "csr" matrices do."""
import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("qdrant_client")
pytest.importorskip("scipy")

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
HIT = re.compile(r"  (\d+)\. id=(\d+) score=([0-9.e+-]+) ")


def printed_hits(output):
    """{query: [(id, score), ...]} in printed rank order."""
    hits, query = {}, None
    for line in output.splitlines():
        if line.startswith("query: "):
            query = line[len("query: "):]
            hits[query] = []
        elif (match := HIT.match(line)) and query is not None:
            hits[query].append((int(match.group(2)), float(match.group(3))))
    return hits


def csr_scores(queries, documents):
    """queries @ documents.T as in the README: over the ids in use, since scipy would turn the
    2**32 columns into 2**32 row pointers to transpose them."""
    import numpy as np
    from scipy.sparse import csr_array

    used = np.concatenate([documents.indices, queries.indices])
    ids, columns = np.unique(used, return_inverse=True)
    n = len(documents.indices)
    docs = csr_array((documents.data, columns[:n], documents.indptr),
                     shape=(documents.shape[0], len(ids)))
    qs = csr_array((queries.data, columns[n:], queries.indptr), shape=(queries.shape[0], len(ids)))
    return (qs @ docs.T).toarray()


@pytest.fixture(scope="module")
def example(jieba_paths):
    sys.path.insert(0, str(EXAMPLES))
    try:
        import vector_search
    finally:
        sys.path.remove(str(EXAMPLES))
    return vector_search


def test_qdrant_ranking_equals_the_csr_product(example, jieba_paths):
    # Fault: ids or weights that Qdrant scores differently from the matrices (wrong id type,
    # unsorted or duplicate indices, a query/document analysis mismatch).
    data = pathlib.Path(jieba_paths["dict_path"]).parent
    top = 5
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / "vector_search.py"), "--data", str(data), "--top", str(top)],
        capture_output=True, text=True,
    )
    assert result.returncode == 0, result.stderr
    hits = printed_hits(result.stdout)
    assert list(hits) == example.QUERIES

    jieba = example.load_jieba(data)
    documents = example.read_corpus()
    model = example.BM25()
    model.train_many(documents, tokenizer=jieba, **example.ANALYSIS)
    matrix = model.encode_documents(documents, output="csr", tokenizer=jieba, **example.ANALYSIS)
    queries = model.encode_queries(example.QUERIES, output="csr", tokenizer=jieba,
                                   **example.ANALYSIS)
    scores = csr_scores(queries, matrix)
    for row, query in enumerate(example.QUERIES):
        expected = sorted(((-s, i) for i, s in enumerate(scores[row]) if s > 0))[:top]
        got = hits[query]
        # Same scores in the same order; ids equal wherever the score is not tied.
        # Qdrant scores in float32 and the example prints six decimals.
        assert [s for _, s in got] == pytest.approx([-s for s, _ in expected], abs=2e-6), query
        for (doc, score), (neg, expected_doc) in zip(got, expected):
            assert scores[row][doc] == pytest.approx(score, abs=2e-6)
            tied = sum(1 for s in scores[row] if abs(s + neg) < 1e-9) > 1
            assert tied or doc == expected_doc
