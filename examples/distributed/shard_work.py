"""The per-shard work both engine examples share: check rows, train a shard model, merge
models, encode a shard into sparse vectors (and write them to Parquet). Plain Python over
pyorveltext, no engine imports, so it runs unchanged inside a Dask task, a Spark partition or
a multiprocessing worker, and a worker that imports it loads nothing heavy.

A row is used when it is a ``str`` or UTF-8 ``bytes`` with at least one character. Any other
row is not silently dropped: it is counted in a :class:`RowReport` ("bad" for non-text or
undecodable bytes, "empty" for an empty text, which has no words to train on), and the first
few are described so that the user can find them.

Tasks carry a ``Jieba`` as its small pickled form and get it from :func:`cached_jieba`, which
builds it once per process and keeps it, so that an engine's worker builds it once for all its
tasks and jobs rather than once per task or job.
"""
from __future__ import annotations

import collections
import copy
import dataclasses
import pathlib
import pickle
import threading
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from pyorveltext import BM25, Jieba

# How many bad rows a report describes; the counts are always complete.
SAMPLE_LIMIT = 5


@dataclasses.dataclass
class RowReport:
    """Rows seen, used and set aside by a job (summed over shards with ``+``)."""

    rows: int = 0
    used: int = 0
    empty: int = 0
    bad: int = 0
    samples: List[str] = dataclasses.field(default_factory=list)

    def __add__(self, other: RowReport) -> RowReport:
        return RowReport(
            self.rows + other.rows,
            self.used + other.used,
            self.empty + other.empty,
            self.bad + other.bad,
            (self.samples + other.samples)[:SAMPLE_LIMIT],
        )

    def __str__(self) -> str:
        text = f"{self.rows} rows: {self.used} used, {self.empty} empty, {self.bad} bad"
        return text + "".join("\n  " + s for s in self.samples)


def jieba_from(data: pathlib.Path) -> Jieba:
    """The Jieba of the five data files in `data` (as pyorveltext-data writes them)."""
    # Absolute paths, so that workers with another working directory find the files.
    data = data.resolve()
    return Jieba(
        dict_path=str(data / "jieba.dict.utf8"),
        hmm_path=str(data / "hmm_model.utf8"),
        user_dict_path=str(data / "user.dict.utf8"),
        idf_path=str(data / "idf.utf8"),
        stop_word_path=str(data / "stop_words.utf8"),
    )


# The Jiebas this process has built, by their pickled form (the five paths and the word
# changes, a few hundred bytes). Building one reads and indexes about 12 MB of files (0.2 s or
# more); an engine sends the small pickled form with every task, and a worker builds the Jieba
# on its first task and reuses it in every later task and job. Each holds about 20 MB, so only
# the most recent few are kept.
KEPT_JIEBAS = 2
_jiebas: "collections.OrderedDict[bytes, Jieba]" = collections.OrderedDict()
_jiebas_lock = threading.Lock()
_jieba_builds = 0


def jieba_state(jieba: Jieba) -> bytes:
    """The small pickled form of `jieba` that tasks carry (see :func:`cached_jieba`). This
    process keeps `jieba` under it, so tasks that run here (Dask's local schedulers) use it
    without building another."""
    state = pickle.dumps(jieba, protocol=pickle.HIGHEST_PROTOCOL)
    with _jiebas_lock:
        _remember(state, copy.copy(jieba))  # a copy shares the loaded data: no file is read
    return state


def cached_jieba(state: bytes) -> Jieba:
    """The Jieba pickled as `state`, built by this process on first use and kept. Each call
    returns its own copy (sharing the immutable loaded data), so a caller that changes words
    does not change them for the next task."""
    global _jieba_builds
    with _jiebas_lock:  # also keeps two threads of one worker from building it twice
        jieba = _jiebas.get(state)
        if jieba is None:
            jieba = pickle.loads(state)
            _jieba_builds += 1
            _remember(state, jieba)
        else:
            _jiebas.move_to_end(state)
    return copy.copy(jieba)


def _remember(state: bytes, jieba: Jieba) -> None:
    _jiebas[state] = jieba
    _jiebas.move_to_end(state)
    while len(_jiebas) > KEPT_JIEBAS:
        _jiebas.popitem(last=False)


def jieba_builds() -> int:
    """How many Jiebas :func:`cached_jieba` has built in this process."""
    return _jieba_builds


def check_row(row: Any) -> Optional[str]:
    """Why a row cannot be used as a text, or None when it can."""
    if isinstance(row, str):
        try:
            row.encode("utf-8")  # lone surrogates cannot reach the engine
        except UnicodeEncodeError as error:
            return f"str that is not valid Unicode ({error.reason})"
        return None
    if isinstance(row, (bytes, bytearray)):
        try:
            bytes(row).decode("utf-8")
        except UnicodeDecodeError as error:
            return f"bytes that are not UTF-8 (at byte {error.start})"
        return None
    return f"{type(row).__name__}, not text"


def usable_rows(
    rows: Iterable[Any], shard: str
) -> Tuple[List[Optional[Any]], RowReport]:
    """Each row, or None where it is bad, and the shard's report."""
    report = RowReport()
    texts: List[Optional[Any]] = []
    for position, row in enumerate(rows):
        report.rows += 1
        problem = check_row(row)
        if problem is None and len(row) == 0:
            report.empty += 1
            texts.append(row)  # kept: it encodes to an empty vector, but trains nothing
        elif problem is not None:
            report.bad += 1
            if len(report.samples) < SAMPLE_LIMIT:
                report.samples.append(f"shard {shard}, row {position}: {problem}: {row!r:.60}")
            texts.append(None)
        else:
            report.used += 1
            texts.append(row)
    return texts, report


def lines_of(block: bytes) -> List[str]:
    """The lines of a block of a UTF-8 text file (one document per line), without line ends.
    Bytes that are not UTF-8 become lone surrogates, so that their line is counted as bad
    rather than failing the whole block."""
    lines = block.decode("utf-8", "surrogateescape").split("\n")
    if lines and lines[-1] == "":
        lines.pop()  # the block ends with a line end
    return lines


def line_block(path: str, start: int, end: int) -> bytes:
    """The bytes of the lines of a text file that start in [start, end): a line belongs to the
    block its first byte lies in, so blocks cut anywhere together hold every line once. The
    bytes before the first such line are skipped and the last line is read to its end, even
    past `end`."""
    with open(path, "rb") as file:
        if start > 0:
            # Whether the line at `start` begins there: only if the byte before is a line end.
            file.seek(start - 1)
            if file.read(1) != b"\n":
                file.readline()  # the rest of a line that began in the block before
        first = file.tell()
        if first >= end:
            return b""
        block = file.read(end - first)
        if block and not block.endswith(b"\n"):
            block += file.readline()
        return block


def range_lines(path: str, byte_range: Tuple[int, int]) -> List[str]:
    """The lines of a text file that start in byte_range, as lines_of gives them."""
    return lines_of(line_block(path, *byte_range))


@dataclasses.dataclass
class Analysis:
    """How texts become words: the same for training and for encoding, so they match."""

    b: float = 0.75
    k1: float = 1.2
    mode: str = "search"
    stop_words: bool = False
    # Threads per task: engines run one task per core, so one each by default.
    threads: int = 1

    def calls(self, jieba: Jieba) -> Dict[str, Any]:
        """The keyword arguments of train_many / encode_documents for raw texts."""
        return dict(
            tokenizer=jieba, mode=self.mode, stop_words=self.stop_words, threads=self.threads
        )


def _all_plain_texts(rows: List[Any]) -> bool:
    """Whether every row is a non-empty str: the common case, checked without the per-row
    work of usable_rows (a lone surrogate still fails, in the engine call, before it counts)."""
    return all(type(row) is str and row for row in rows)


def train_shard(
    rows: Iterable[Any], jieba: Jieba, analysis: Analysis, shard: str
) -> Tuple[BM25, RowReport]:
    """One model trained on the usable rows of a shard, in order."""
    rows = list(rows)
    if _all_plain_texts(rows):
        model = BM25(analysis.b, analysis.k1)
        try:
            model.train_many(rows, **analysis.calls(jieba))
            return model, RowReport(rows=len(rows), used=len(rows))
        except TypeError:
            pass  # a str that has no UTF-8 form: sort the rows out one by one below
    texts, report = usable_rows(rows, shard)
    model = BM25(analysis.b, analysis.k1)
    documents = [t for t in texts if t]
    if documents:
        model.train_many(documents, **analysis.calls(jieba))
    return model, report


def train_partition(
    rows: Iterable[Any], index: Sequence[int], state: bytes, analysis: Analysis
) -> Tuple[BM25, RowReport]:
    """:func:`train_shard` as one task of an engine: the Jieba comes from its pickled form
    (built once per process, see :func:`cached_jieba`) and the shard is named by the only
    item of `index` (a partition of ``range``, so that an engine can zip it with the texts)."""
    (position,) = index
    return train_shard(rows, cached_jieba(state), analysis, str(position))


def merge_results(results: Sequence[Tuple[BM25, RowReport]]) -> Tuple[BM25, RowReport]:
    """The merged model and report of several shards' results.

    The inputs are never changed: an engine that runs a merge again after losing a worker
    hands it the same inputs, and merging into one of them would count that shard twice."""
    # A copy of the first (a copy of its tables, cheaper than adding its counts into an empty
    # model) takes the others' counts.
    model = copy.copy(results[0][0])
    report = results[0][1]
    for shard_model, shard_report in results[1:]:
        model += shard_model
        report = report + shard_report
    return model, report


def encode_shard(
    rows: Sequence[Any], model: BM25, jieba: Jieba, analysis: Analysis, shard: str
) -> Tuple[List[Optional[List[int]]], List[Optional[List[float]]], RowReport]:
    """Per row, the ids and weights of its sparse document vector (empty for an empty text),
    or None for both where the row is bad, so that rows keep their positions."""
    if _all_plain_texts(list(rows)):
        try:
            vectors = model.encode_documents(rows, output="sparse", **analysis.calls(jieba))
            return (
                [list(v["indices"]) for v in vectors],
                [list(v["values"]) for v in vectors],
                RowReport(rows=len(rows), used=len(rows)),
            )
        except TypeError:
            pass  # a str that has no UTF-8 form: sort the rows out one by one below
    texts, report = usable_rows(rows, shard)
    documents = [t for t in texts if t]
    vectors = (
        model.encode_documents(documents, output="sparse", **analysis.calls(jieba))
        if documents
        else []
    )
    found = iter(vectors)
    indices: List[Optional[List[int]]] = []
    values: List[Optional[List[float]]] = []
    for text in texts:
        if text is None:
            indices.append(None)
            values.append(None)
        elif not text:
            indices.append([])
            values.append([])
        else:
            vector = next(found)
            indices.append(list(vector["indices"]))
            values.append(list(vector["values"]))
    return indices, values, report


def write_parquet_shard(
    rows: Any, model: BM25, jieba: Union[Jieba, bytes], analysis: Analysis, path: str, shard: int
) -> RowReport:
    """Writes one shard's vectors to `path`/part-NNNNN.parquet: columns ``partition``, ``id``
    (a pandas partition's index, or the position in the shard), ``indices`` (uint32 token ids)
    and ``values``. `jieba` may be given as its pickled form (see :func:`cached_jieba`)."""
    if isinstance(jieba, bytes):
        jieba = cached_jieba(jieba)
    import os

    import pyarrow as pa
    import pyarrow.parquet as pq

    rows_list = list(rows)
    # A dataframe partition (pandas) has an index; a bag partition is a list.
    index = getattr(rows, "index", None)
    ids = list(range(len(rows_list))) if index is None or callable(index) else list(index)
    indices, values, report = encode_shard(rows_list, model, jieba, analysis, str(shard))
    table = pa.table(
        {
            "partition": pa.array([shard] * len(rows_list), pa.int32()),
            "id": pa.array(ids),
            "indices": pa.array(indices, pa.list_(pa.uint32())),
            "values": pa.array(values, pa.list_(pa.float64())),
        }
    )
    # Written whole under its final name at the end: a re-run task rewrites the same bytes.
    pq.write_table(table, os.path.join(path, f"part-{shard:05d}.parquet"))
    return report
