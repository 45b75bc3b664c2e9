"""Type stubs for the pyorveltext extension module.

Parameter types are as wide as the runtime accepts: token lists may be any sequence (a list,
a tuple, ...), string tokens may be bytes, and text arguments may be bytes. Return types use
the typing spellings the module itself renders in its docstrings, so the two can be compared.
"""

from typing import (
    Any, Dict, Iterable, List, Optional, Sequence, SupportsIndex, Tuple, Union, overload
)

# A string token or text argument: str is taken as UTF-8, bytes-like values byte for byte.
_Text = Union[str, bytes, bytearray]
# One item of a BM25 batch: a token list, or (with a tokenizer) a text.
_Document = Union[Sequence[_Text], Sequence[SupportsIndex], _Text]

class BM25:
    def __init__(self, b: float = 0.75, k1: float = 1.2) -> None: ...
    # The string form is tried first, so an empty sequence trains or encodes as strings.
    # A bare str is a Sequence too; the runtime rejects it with TypeError.
    @overload
    def train(self, tokens: Sequence[_Text], /) -> None: ...
    @overload
    def train(self, tokens: Sequence[SupportsIndex], /) -> None: ...
    def load(self, text: _Text, /) -> None: ...
    def dump(self, path: _Text, /) -> None: ...
    @overload
    def encode_document(self, tokens: Sequence[_Text], /) -> Dict[str, float]: ...
    @overload
    def encode_document(self, tokens: Sequence[SupportsIndex], /) -> Dict[int, float]: ...
    @overload
    def encode_query(self, tokens: Sequence[_Text], /) -> Dict[str, float]: ...
    @overload
    def encode_query(self, tokens: Sequence[SupportsIndex], /) -> Dict[int, float]: ...
    # Batches: token lists, or with tokenizer= raw str/bytes texts segmented natively.
    def train_many(
        self,
        documents: Sequence[_Document],
        tokenizer: Optional[Jieba] = None,
        mode: str = 'search',
        stop_words: bool = False,
        threads: Optional[int] = None,
        hmm: bool = True,
    ) -> None: ...
    # output="dict": List[Dict[str, float]] (Dict[int, float] for int tokens); "sparse":
    # List[Dict[str, list]] with "indices" and "values"; "csr": scipy.sparse.csr_array.
    def encode_documents(
        self,
        documents: Sequence[_Document],
        output: str = 'dict',
        tokenizer: Optional[Jieba] = None,
        mode: str = 'search',
        stop_words: bool = False,
        threads: Optional[int] = None,
        hmm: bool = True,
    ) -> Any: ...
    def encode_queries(
        self,
        queries: Sequence[_Document],
        output: str = 'dict',
        tokenizer: Optional[Jieba] = None,
        mode: str = 'search',
        stop_words: bool = False,
        threads: Optional[int] = None,
        hmm: bool = True,
    ) -> Any: ...
    # Read-only statistics; a merge or a load updates them.
    @property
    def b(self) -> float: ...
    @property
    def k1(self) -> float: ...
    @property
    def doc_count(self) -> int: ...
    @property
    def doc_length_average(self) -> float: ...
    @property
    def vocabulary_size(self) -> int: ...
    def merge(self, other: BM25) -> None: ...
    def __iadd__(self, other: BM25) -> BM25: ...
    # Pickling; the state is opaque bytes. copy.copy and copy.deepcopy copy the tables directly.
    def __getstate__(self) -> bytes: ...
    def __setstate__(self, state: bytes) -> None: ...
    def __copy__(self) -> BM25: ...
    def __deepcopy__(self, memo: Any) -> BM25: ...

class Jieba:
    def __init__(
        self,
        dict_path: _Text,
        hmm_path: _Text,
        user_dict_path: _Text,
        idf_path: _Text,
        stop_word_path: _Text,
    ) -> None: ...
    def cut(self, sentence: _Text) -> List[str]: ...
    def cut_for_search(self, sentence: _Text) -> List[str]: ...
    # Batch cuts: one word list per sentence, on `threads` threads (None: every usable core).
    # The batch calls share one str between equal words of a batch (and encode_documents /
    # encode_queries one object between equal keys, ids and weights) to keep results small.
    def cut_many(
        self, sentences: Sequence[_Text], threads: Optional[int] = None, hmm: bool = True
    ) -> List[List[str]]: ...
    def cut_for_search_many(
        self, sentences: Sequence[_Text], threads: Optional[int] = None, hmm: bool = True
    ) -> List[List[str]]: ...
    # Pickling sends the five paths and the run-time word changes, which a worker replays on
    # the engine it builds from the files. copy.copy and copy.deepcopy give a separate object
    # that shares the loaded data with this one.
    def __getstate__(
        self,
    ) -> Tuple[
        int, bytes, bytes, bytes, bytes, bytes, List[Tuple[int, bytes, Optional[int], bytes]]
    ]: ...
    def __setstate__(self, state: Tuple[Any, ...]) -> None: ...
    def __copy__(self) -> Jieba: ...
    def __deepcopy__(self, memo: Any) -> Jieba: ...
    # Positions count code points for a str and bytes for bytes; mode is "default" or "search".
    def tokenize(
        self, sentence: _Text, mode: str = 'default', hmm: bool = True
    ) -> List[Tuple[str, int, int]]: ...
    def cut_all(self, sentence: _Text) -> List[str]: ...
    def tag(self, sentence: _Text, hmm: bool = True) -> List[Tuple[str, str]]: ...
    # Words only, or (word, weight) pairs with with_weights=True.
    def extract_keywords(
        self, sentence: _Text, top_k: int = 20, with_weights: bool = False
    ) -> Union[List[str], List[Tuple[str, float]]]: ...
    def add_word(
        self, word: _Text, freq: Optional[int] = None, tag: Optional[_Text] = None
    ) -> bool: ...
    # Items: a word, or a (word,), (word, freq) or (word, freq, tag) tuple.
    def add_words(
        self,
        words: Iterable[
            Union[_Text, Tuple[_Text], Tuple[_Text, Optional[int]],
                  Tuple[_Text, Optional[int], Optional[_Text]]]
        ],
    ) -> None: ...
    def del_word(self, word: _Text) -> bool: ...
    def find_word(self, word: _Text) -> bool: ...
    def word_tag(self, word: _Text) -> str: ...
