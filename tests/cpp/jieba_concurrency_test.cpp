// Several threads cutting with one engine get exactly the sequential results. Runs in the
// ordinary suite and, built with -fsanitize=thread, as the engine's data-race check
// (tools/test_sanitized.sh).

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/jieba_check.h"
#include "tokenizer/jieba/jieba.h"

namespace {

using orvel::tokenizer::jieba::Jieba;
using orvel::tokenizer::jieba::WordSpan;

std::vector<std::string> Sentences() {
  using namespace std::string_literals;  // the NUL byte stays in
  std::vector<std::string> sentences = {
      "我来到北京清华大学，研究生命科学。",
      "小明硕士毕业于中国科学院计算所，后在日本京都大学深造",
      "他说的确实在理，结婚的和尚未结婚的都来了",
      "Python 3.10 和 C++17 一起写扩展模块，速度提高了 3.5 倍！",
      "ＡＢＣ全角字母、emoji😀和한국어混在一起",
      "",
      "中\0文\r\n测试"s,
  };
  std::string long_sentence;  // one long range: the workspace goes to the heap
  for (int i = 0; i < 200; ++i) long_sentence += "南京市长江大桥于1968年建成通车";
  sentences.push_back(long_sentence);
  return sentences;
}

struct Results {
  std::vector<std::vector<std::string>> mixed;
  std::vector<std::vector<std::string>> search;
  std::vector<std::vector<WordSpan>> spans;
};

Results CutAll(const Jieba& engine, const std::vector<std::string>& sentences) {
  Results results;
  for (const std::string& sentence : sentences) {
    results.mixed.emplace_back();
    engine.Cut(sentence, results.mixed.back());
    results.search.emplace_back();
    engine.CutForSearch(sentence, results.search.back());
    results.spans.emplace_back();
    engine.CutSpans(sentence, results.spans.back());
  }
  return results;
}

bool SameSpans(const std::vector<std::vector<WordSpan>>& a,
               const std::vector<std::vector<WordSpan>>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].size() != b[i].size()) return false;
    for (std::size_t j = 0; j < a[i].size(); ++j) {
      if (a[i][j].begin != b[i][j].begin || a[i][j].end != b[i][j].end) return false;
    }
  }
  return true;
}

TEST(JiebaConcurrency, ThreadsSharingOneEngineGetTheSequentialResults) {
  const Jieba& engine = orvel::fuzz::jieba_detail::FuzzEngine();
  const std::vector<std::string> sentences = Sentences();
  const Results expected = CutAll(engine, sentences);

  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        const Results got = CutAll(engine, sentences);
        mismatches[t] += got.mixed != expected.mixed || got.search != expected.search ||
                         !SameSpans(got.spans, expected.spans);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
