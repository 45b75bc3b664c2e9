"""Chinese keyword search end to end: segment, train BM25, save and restore it, then rank.

    python examples/search_demo.py [--data DIR] [QUERY ...]

DIR holds the five segmentation data files that tools/fetch_jieba_data.py writes (default:
data/jieba in the checkout). The corpus is examples/data/corpus.txt, one document per line.
"""
import argparse
import pathlib
import tempfile
import time

from pyorveltext import BM25, Jieba

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_DATA = HERE.parent / "data" / "jieba"
CORPUS = HERE / "data" / "corpus.txt"

QUERIES = [
    "红烧肉怎么做",
    "冬天去哈尔滨旅行要注意什么",
    "手机电池续航",
    "马拉松比赛前的训练",
    "明天会下暴雨吗",
    "如何保护孩子的视力",
]
TOP = 3


class Tokenizer:
    """Search-mode words of a text, without punctuation, spaces and stop words.

    Search mode also yields the shorter dictionary words inside long ones, so a query for
    "手机" still meets a document that says "智能手机"."""

    def __init__(self, data: pathlib.Path) -> None:
        self.jieba = Jieba(
            dict_path=str(data / "jieba.dict.utf8"),
            hmm_path=str(data / "hmm_model.utf8"),
            user_dict_path=str(data / "user.dict.utf8"),
            idf_path=str(data / "idf.utf8"),
            stop_word_path=str(data / "stop_words.utf8"),
        )
        text = (data / "stop_words.utf8").read_text(encoding="utf-8")
        self.stop_words = set(text.split("\n"))

    def __call__(self, text: str) -> list[str]:
        return [
            word
            for word in self.jieba.cut_for_search(text)
            if any(ch.isalnum() for ch in word) and word not in self.stop_words
        ]


def train(documents: list[list[str]]) -> BM25:
    model = BM25(b=0.75, k1=1.2)
    for words in documents:
        model.train(words)
    return model


def save_and_restore(model: BM25) -> BM25:
    """Round trip through the model file, as a separate serving process would do it."""
    with tempfile.TemporaryDirectory() as directory:
        path = pathlib.Path(directory) / "bm25.json"
        model.dump(str(path))
        text = path.read_text(encoding="utf-8")
    print(f"model file: {len(text):,} bytes of JSON, first lines:")
    for line in text.split("\n")[:4]:
        print(f"    {line}")
    restored = BM25()
    restored.load(text)
    return restored


def dot(query: dict[str, float], document: dict[str, float]) -> float:
    return sum(weight * document.get(word, 0.0) for word, weight in query.items())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0] if __doc__ else None)
    parser.add_argument("--data", type=pathlib.Path, default=DEFAULT_DATA,
                        help="directory of the five segmentation data files")
    parser.add_argument("queries", nargs="*", help="queries to run instead of the built-in ones")
    args = parser.parse_args()

    started = time.perf_counter()
    tokenize = Tokenizer(args.data)
    texts = [line for line in CORPUS.read_text(encoding="utf-8").split("\n") if line.strip()]
    documents = [tokenize(text) for text in texts]
    print(f"segmented {len(texts)} documents into {sum(map(len, documents)):,} words")
    print(f"e.g. {texts[0]}\n  -> {' / '.join(documents[0])}\n")

    model = save_and_restore(train(documents))
    vectors = [model.encode_document(words) for words in documents]

    for query in args.queries or QUERIES:
        words = tokenize(query)
        weights = model.encode_query(words)
        ranked = sorted(((dot(weights, v), i) for i, v in enumerate(vectors)), reverse=True)
        print(f"\nquery: {query}  ({' / '.join(words)})")
        for score, index in ranked[:TOP]:
            if score > 0:
                print(f"  {score:.4f}  {texts[index]}")
    print(f"\ndone in {time.perf_counter() - started:.2f} s")


if __name__ == "__main__":
    main()
