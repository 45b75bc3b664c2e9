"""The examples run and the search demo ranks the document each query is about first."""
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"

# Built-in query -> the start of the document written to answer it.
EXPECTED_TOP = {
    "红烧肉怎么做": "红烧肉要先把五花肉焯水",
    "冬天去哈尔滨旅行要注意什么": "冬天去哈尔滨看冰雕",
    "手机电池续航": "新买的手机电池续航不太好",
    "马拉松比赛前的训练": "准备跑马拉松要循序渐进",
    "明天会下暴雨吗": "天气预报说明天有大到暴雨",
    "如何保护孩子的视力": "近视的孩子越来越多",
}


def run_example(*args):
    result = subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def top_documents(output):
    """{query: first ranked document} from the demo's printed results."""
    top, query = {}, None
    for line in output.splitlines():
        if line.startswith("query: "):
            query = line[len("query: "):].split("  (")[0]
        elif query and line.startswith("  ") and query not in top:
            top[query] = line.split()[1]
    return top


@pytest.fixture(scope="module")
def demo_output(jieba_paths):
    data = pathlib.Path(jieba_paths["dict_path"]).parent
    return run_example(EXAMPLES / "search_demo.py", "--data", data)


class TestSearchDemo:
    def test_each_query_finds_its_document(self, demo_output):
        top = top_documents(demo_output)
        assert top.keys() == EXPECTED_TOP.keys()
        for query, start in EXPECTED_TOP.items():
            assert top[query].startswith(start), (query, top[query])

    def test_model_went_through_its_file(self, demo_output):
        assert '"_doc_count" : 100,' in demo_output

    def test_queries_from_the_command_line(self, jieba_paths):
        data = pathlib.Path(jieba_paths["dict_path"]).parent
        output = run_example(EXAMPLES / "search_demo.py", "--data", data, "羽毛球步法")
        top = top_documents(output)
        assert list(top) == ["羽毛球步法"] and top["羽毛球步法"].startswith("学打羽毛球先练步法")


def test_bm25_demo_runs():
    assert "integer query weights:" in run_example(EXAMPLES / "bm25_demo.py")
