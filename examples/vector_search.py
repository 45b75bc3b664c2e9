"""Chinese keyword search in a vector database: BM25 sparse vectors in Qdrant.

    python examples/vector_search.py [--data DIR] [--url URL] [--top N] [QUERY ...]

Documents (examples/data/corpus.txt, one per line) are segmented natively and encoded in one
call into sparse vectors ({"indices", "values"}, 32-bit MurmurHash3 token ids), upserted into
a Qdrant collection, and queried with vectors from encode_queries. Without --url, Qdrant runs
embedded in this process (qdrant-client's local mode: no server, nothing to install beyond
`pip install qdrant-client`); with --url, e.g. http://localhost:6333, a Qdrant server is used.
DIR holds the segmentation data files of tools/fetch_jieba_data.py (default: data/jieba).
"""
import argparse
import pathlib
import sys
from typing import Any

from qdrant_client import QdrantClient, models

from pyorveltext import BM25, Jieba

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_DATA = HERE.parent / "data" / "jieba"
CORPUS = HERE / "data" / "corpus.txt"
COLLECTION = "corpus"
VECTOR = "bm25"  # the name of the sparse vector in the collection

QUERIES = [
    "红烧肉怎么做",
    "冬天去哈尔滨旅行要注意什么",
    "手机电池续航",
    "马拉松比赛前的训练",
    "明天会下暴雨吗",
    "如何保护孩子的视力",
]

# One analysis for documents and queries, so their tokens (and so their ids) always match:
# search-mode words, without the stop words and white space.
ANALYSIS: dict[str, Any] = {"mode": "search", "stop_words": True}


def load_jieba(data: pathlib.Path) -> Jieba:
    return Jieba(
        dict_path=str(data / "jieba.dict.utf8"),
        hmm_path=str(data / "hmm_model.utf8"),
        user_dict_path=str(data / "user.dict.utf8"),
        idf_path=str(data / "idf.utf8"),
        stop_word_path=str(data / "stop_words.utf8"),
    )


def read_corpus() -> list[str]:
    return [line for line in CORPUS.read_text(encoding="utf-8").split("\n") if line.strip()]


def build_index(client: QdrantClient, model: BM25, jieba: Jieba, documents: list[str]) -> None:
    vectors = model.encode_documents(documents, output="sparse", tokenizer=jieba, **ANALYSIS)
    if client.collection_exists(COLLECTION):
        client.delete_collection(COLLECTION)
    # BM25 weights are already final: the score is the plain dot product of the two vectors.
    client.create_collection(
        COLLECTION,
        vectors_config={},
        sparse_vectors_config={VECTOR: models.SparseVectorParams()},
    )
    client.upsert(
        COLLECTION,
        points=[
            models.PointStruct(
                id=i,
                vector={VECTOR: models.SparseVector(**vector)},
                payload={"text": text},
            )
            for i, (text, vector) in enumerate(zip(documents, vectors))
        ],
    )


def search(
    client: QdrantClient, model: BM25, jieba: Jieba, queries: list[str], top: int
) -> list[list[models.ScoredPoint]]:
    vectors = model.encode_queries(queries, output="sparse", tokenizer=jieba, **ANALYSIS)
    return [
        client.query_points(
            COLLECTION,
            query=models.SparseVector(**vector),
            using=VECTOR,
            limit=top,
            with_payload=True,
        ).points
        for vector in vectors
    ]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("queries", nargs="*", help="queries (default: built-in examples)")
    parser.add_argument("--data", type=pathlib.Path, default=DEFAULT_DATA)
    parser.add_argument("--url", help="a Qdrant server; default: embedded local mode")
    parser.add_argument("--top", type=int, default=3)
    args = parser.parse_args()
    if not (args.data / "jieba.dict.utf8").is_file():
        sys.exit(f"no data in {args.data}: python tools/fetch_jieba_data.py --out {args.data}")

    jieba = load_jieba(args.data)
    documents = read_corpus()
    model = BM25()
    model.train_many(documents, tokenizer=jieba, **ANALYSIS)
    client = QdrantClient(url=args.url) if args.url else QdrantClient(location=":memory:")
    build_index(client, model, jieba, documents)
    print(f"{len(documents)} documents in Qdrant ({args.url or 'local mode'})")
    queries = args.queries or QUERIES
    for query, hits in zip(queries, search(client, model, jieba, queries, args.top)):
        print(f"query: {query}")
        for rank, hit in enumerate(hits, 1):
            text = (hit.payload or {}).get("text", "")
            print(f"  {rank}. id={hit.id} score={hit.score:.6f} {text}")


if __name__ == "__main__":
    main()
