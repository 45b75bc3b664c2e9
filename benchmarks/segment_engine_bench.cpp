// Throughput, construction time and resident memory of the segmentation engine.
//
//   segment_engine_bench DATA_DIR GOLDEN_JSONL [CORPUS_MB]
//
// DATA_DIR holds the five data files (the user dictionary is user.dict.utf8); the inputs are the
// "s" fields of GOLDEN_JSONL, repeated until the corpus reaches CORPUS_MB (default 20) MB of
// UTF-8. Throughput is input bytes (1 MB = 10^6 bytes) per wall-clock second.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "cpp/golden_file.h"
#include "tokenizer/jieba/jieba.h"

namespace {

using orvel::tokenizer::jieba::Jieba;
using orvel::tokenizer::jieba::testing::GoldenLine;
using orvel::tokenizer::jieba::testing::ReadGoldenFile;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Resident set size in MiB from /proc/self/status ("VmRSS" now, "VmHWM" at its peak).
double StatusMiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0)
      return std::strtod(line.c_str() + line.find(':') + 1, nullptr) / 1024.0;
  }
  return -1.0;
}

std::vector<std::string> BuildCorpus(const std::string& golden_path, std::size_t target_bytes,
                                     std::size_t& total_bytes) {
  const std::vector<GoldenLine> lines = ReadGoldenFile(golden_path);
  std::vector<std::string> corpus;
  total_bytes = 0;
  while (total_bytes < target_bytes) {
    for (const GoldenLine& line : lines) {
      corpus.push_back(line.sentence);
      total_bytes += line.sentence.size();
    }
  }
  return corpus;
}

using CutFunction = void (Jieba::*)(const std::string&, std::vector<std::string>&) const;

std::size_t CutAll(const Jieba& engine, CutFunction cut, const std::vector<std::string>& corpus) {
  std::vector<std::string> words;
  std::size_t word_count = 0;
  for (const std::string& sentence : corpus) {
    (engine.*cut)(sentence, words);
    word_count += words.size();
  }
  return word_count;
}

// Best of `rounds` runs, in MB/s, with `threads` threads each cutting the whole corpus.
double Throughput(const Jieba& engine, CutFunction cut, const std::vector<std::string>& corpus,
                  std::size_t corpus_bytes, int threads, int rounds) {
  double best = 0.0;
  for (int round = 0; round < rounds; ++round) {
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] { CutAll(engine, cut, corpus); });
    }
    for (std::thread& worker : workers) worker.join();
    best = std::max(best, threads * static_cast<double>(corpus_bytes) / 1e6 / SecondsSince(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DATA_DIR GOLDEN_JSONL [CORPUS_MB]\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const double corpus_mb = argc > 3 ? std::atof(argv[3]) : 20.0;

  const double rss_before = StatusMiB("VmRSS");
  auto start = Clock::now();
  const Jieba engine(dir + "jieba.dict.utf8", dir + "hmm_model.utf8", dir + "user.dict.utf8",
                     dir + "idf.utf8", dir + "stop_words.utf8");
  const double construction = SecondsSince(start);
  const double rss_after = StatusMiB("VmRSS");
  const double peak_during = StatusMiB("VmHWM");
  double best_construction = construction;
  for (int i = 0; i < 3; ++i) {
    start = Clock::now();
    const Jieba again(dir + "jieba.dict.utf8", dir + "hmm_model.utf8", dir + "user.dict.utf8",
                      dir + "idf.utf8", dir + "stop_words.utf8");
    best_construction = std::min(best_construction, SecondsSince(start));
  }
  std::printf("construction: %.3f s first, %.3f s best of 4\n", construction, best_construction);
  std::printf(
      "resident memory: %.1f MiB before, %.1f MiB after construction (engine %.1f MiB), "
      "peak %.1f MiB\n",
      rss_before, rss_after, rss_after - rss_before, peak_during);

  std::size_t corpus_bytes = 0;
  const auto corpus = BuildCorpus(argv[2], static_cast<std::size_t>(corpus_mb * 1e6), corpus_bytes);
  std::printf("corpus: %zu sentences, %.1f MB\n", corpus.size(), corpus_bytes / 1e6);

  const struct {
    const char* name;
    CutFunction cut;
  } modes[] = {{"Cut", &Jieba::Cut}, {"CutForSearch", &Jieba::CutForSearch}};
  for (const auto& mode : modes) {
    const double one = Throughput(engine, mode.cut, corpus, corpus_bytes, 1, 3);
    const double two = Throughput(engine, mode.cut, corpus, corpus_bytes, 2, 3);
    std::printf("%-13s 1 thread %6.1f MB/s   2 threads %6.1f MB/s (%.2fx)   words %zu\n", mode.name,
                one, two, two / one, CutAll(engine, mode.cut, corpus));
  }
  return 0;
}
