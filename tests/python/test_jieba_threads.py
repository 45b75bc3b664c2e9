"""Cutting from several threads: one Jieba shared by two threads gives the sequential
results, and other Python threads run while a cut is in the engine."""
import sys
import threading
import time

import pytest

SENTENCES = [
    "我来到北京清华大学，研究生命科学。",
    "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
    "他说的确实在理，结婚的和尚未结婚的都来了",
    "工信处女干事每月经过下属科室都要亲口交代24口交换机等技术性器件的安装工作",
    "Python 3.10 和 C++17 一起写扩展模块，速度提高了 3.5 倍！",
    "今天天气不错，我们去颐和园划船吧。",
    "永和服装饰品有限公司的员工在云原生和向量数据库方面很有经验",
    "南京市长江大桥于1968年12月29日建成通车",
    "",
    "ＡＢＣ全角字母、emoji😀和한국어混在一起",
    "欢迎使用大语言模型进行中文分词测试",
    "研究生命起源的科学家们发现了新的证据",
]
MODES = ["cut", "cut_for_search"]


def test_two_threads_sharing_one_object_get_the_sequential_results(segmenter):
    expected = {mode: [getattr(segmenter, mode)(s) for s in SENTENCES] for mode in MODES}
    start = threading.Barrier(2)
    results = [None, None]

    def work(slot, order):
        start.wait()
        got = {mode: [None] * len(SENTENCES) for mode in MODES}
        for _ in range(200):
            for i in order:
                for mode in MODES if slot == 0 else MODES[::-1]:
                    got[mode][i] = getattr(segmenter, mode)(SENTENCES[i])
                    if got[mode][i] != expected[mode][i]:
                        results[slot] = (mode, SENTENCES[i], got[mode][i])
                        return
        results[slot] = got

    forward = list(range(len(SENTENCES)))
    threads = [
        threading.Thread(target=work, args=(0, forward)),
        threading.Thread(target=work, args=(1, forward[::-1])),
    ]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == [expected, expected]


@pytest.mark.parametrize("mode", MODES)
def test_other_threads_run_during_a_long_cut(segmenter, mode):
    sentence = SENTENCES[0] * 40_000  # about 2 MB
    stamps = []
    stop = threading.Event()

    def counter():
        while not stop.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.0005)  # gives the lock back between stamps

    # With a long switch interval the cutting thread is never made to yield the lock, so a
    # stamp taken during the cut proves that the cut itself released it.
    previous = sys.getswitchinterval()
    sys.setswitchinterval(5.0)
    thread = threading.Thread(target=counter)
    try:
        thread.start()
        while not stamps:
            time.sleep(0.001)
        begin = time.perf_counter()
        words = getattr(segmenter, mode)(sentence)
        end = time.perf_counter()
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(previous)
    assert words
    assert end - begin < 5.0, "the cut outlasted the switch interval; the check proves nothing"
    during = [t for t in stamps if begin < t < end]
    assert len(during) >= 3, f"the counter thread ran {len(during)} times in {end - begin:.3f} s"
