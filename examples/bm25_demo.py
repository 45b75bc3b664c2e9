"""Sparse BM25 retrieval in a few lines: train on a corpus, encode, score by dot product."""
import re

from pyorveltext import BM25

CORPUS = [
    "The quick brown fox jumps over the lazy dog",
    "A fast brown fox leaps over sleeping dogs in the yard",
    "Sparse retrieval ranks documents by weighted term overlap",
    "Dense retrieval embeds queries and documents into vectors",
    "Hybrid search combines sparse and dense retrieval scores",
    "BM25 weights terms by frequency, saturation and document length",
    "Foxes are small omnivorous mammals found across the northern hemisphere",
    "Search engines tokenise text before building an inverted index",
]

QUERIES = ["brown fox", "sparse retrieval", "document length weighting", "integer tokens"]


def tokenize(text: str) -> list[str]:
    return re.findall(r"\w+", text.lower())


def score(query_vector: dict[str, float], document_vector: dict[str, float]) -> float:
    return sum(weight * document_vector.get(token, 0.0) for token, weight in query_vector.items())


def main() -> None:
    model = BM25(b=0.75, k1=1.2)
    for document in CORPUS:
        model.train(tokenize(document))
    document_vectors = [model.encode_document(tokenize(document)) for document in CORPUS]

    for query in QUERIES:
        query_vector = model.encode_query(tokenize(query))
        ranked = sorted(
            ((score(query_vector, vector), index) for index, vector in enumerate(document_vectors)),
            reverse=True,
        )
        print(f"query: {query!r}")
        for value, index in ranked[:3]:
            print(f"  {value:+.4f}  {CORPUS[index]}")

    # Integer tokens (for example ids from a subword vocabulary) feed the same kind of model.
    ids = BM25()
    ids.train([101, 7, 7, 42])
    ids.train([7, 55])
    print("integer query weights:", ids.encode_query([7, 42]))


if __name__ == "__main__":
    main()
