// Throughput, construction time and resident memory of the segmentation engine.
//
//   segment_engine_bench DATA_DIR CORPUS [CORPUS_MB] [--rounds N] [--threads 1|2] [--quiet-setup]
//
// DATA_DIR holds the five data files (the user dictionary is user.dict.utf8). CORPUS is either
// a text file of distinct lines (data/bench/corpus.txt from tools/fetch_bench_corpus.py), read
// once and cut to its first CORPUS_MB MB when given, or a golden JSON-lines file whose "s"
// fields are repeated until they reach CORPUS_MB (default 20) MB: a few hundred lines that stay
// hot in cache, reported as such. Throughput is input bytes (1 MB = 10^6 bytes) per wall-clock
// second; each figure is the best of --rounds (default 3) runs. --threads 1 skips the two-thread
// figures; --quiet-setup skips the repeated constructions, for instruction counting. --cpu-time
// divides by the process's CPU time instead of wall-clock time, which a busy machine disturbs
// less when comparing two builds (one thread only).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
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

double CpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

bool use_cpu_time = false;

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

bool EndsWith(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The golden sentences repeated until they hold `target_bytes`.
std::vector<std::string> RepeatedGolden(const std::string& path, std::size_t target_bytes) {
  const std::vector<GoldenLine> lines = ReadGoldenFile(path);
  std::vector<std::string> corpus;
  std::size_t total_bytes = 0;
  while (total_bytes < target_bytes) {
    for (const GoldenLine& line : lines) {
      corpus.push_back(line.sentence);
      total_bytes += line.sentence.size();
    }
  }
  return corpus;
}

// The lines of a text file (split at LF only), up to `target_bytes` of them (0: all).
std::vector<std::string> TextLines(const std::string& path, std::size_t target_bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::vector<std::string> corpus;
  std::size_t total_bytes = 0;
  std::string line;
  while ((target_bytes == 0 || total_bytes < target_bytes) && std::getline(file, line)) {
    total_bytes += line.size();
    corpus.push_back(std::move(line));
  }
  return corpus;
}

using CutFunction = void (Jieba::*)(const std::string&, std::vector<std::string>&) const;

// Not inlined, so that an instruction counter can collect exactly the cutting.
__attribute__((noinline)) std::size_t CutAll(const Jieba& engine, CutFunction cut,
                                             const std::vector<std::string>& corpus) {
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
    const double cpu_start = CpuSeconds();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&] { CutAll(engine, cut, corpus); });
    }
    for (std::thread& worker : workers) worker.join();
    const double seconds = use_cpu_time ? CpuSeconds() - cpu_start : SecondsSince(start);
    best = std::max(best, threads * static_cast<double>(corpus_bytes) / 1e6 / seconds);
  }
  return best;
}

Jieba MakeEngine(const std::string& dir) {
  return Jieba(dir + "jieba.dict.utf8", dir + "hmm_model.utf8", dir + "user.dict.utf8",
               dir + "idf.utf8", dir + "stop_words.utf8");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  int rounds = 3;
  int max_threads = 2;
  bool quiet_setup = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--threads" && i + 1 < argc) {
      max_threads = std::clamp(std::atoi(argv[++i]), 1, 2);
    } else if (arg == "--cpu-time") {
      use_cpu_time = true;
      max_threads = 1;
    } else if (arg == "--quiet-setup") {
      quiet_setup = true;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() < 2) {
    std::fprintf(stderr,
                 "usage: %s DATA_DIR CORPUS [CORPUS_MB] [--rounds N] [--threads 1|2] "
                 "[--quiet-setup] [--cpu-time]\n",
                 argv[0]);
    return 2;
  }
  const std::string dir = positional[0] + "/";
  const std::string& corpus_path = positional[1];
  const bool hot_cache = EndsWith(corpus_path, ".jsonl");
  const double corpus_mb = positional.size() > 2 ? std::atof(positional[2].c_str())
                           : hot_cache           ? 20.0
                                                 : 0.0;

  const double rss_before = StatusMiB("VmRSS");
  auto start = Clock::now();
  const Jieba engine = MakeEngine(dir);
  const double construction = SecondsSince(start);
  const double rss_after = StatusMiB("VmRSS");
  const double peak_during = StatusMiB("VmHWM");
  if (!quiet_setup) {
    double best_construction = construction;
    for (int i = 0; i < 3; ++i) {
      start = Clock::now();
      const Jieba again = MakeEngine(dir);
      best_construction = std::min(best_construction, SecondsSince(start));
    }
    std::printf("construction: %.3f s first, %.3f s best of 4\n", construction, best_construction);
    std::printf(
        "resident memory: %.1f MiB before, %.1f MiB after construction (engine %.1f MiB), "
        "peak %.1f MiB\n",
        rss_before, rss_after, rss_after - rss_before, peak_during);
  }

  const auto target = static_cast<std::size_t>(corpus_mb * 1e6);
  const std::vector<std::string> corpus =
      hot_cache ? RepeatedGolden(corpus_path, target) : TextLines(corpus_path, target);
  std::size_t corpus_bytes = 0;
  for (const std::string& line : corpus) corpus_bytes += line.size();
  std::printf("corpus: %zu sentences, %.1f MB, %s\n", corpus.size(), corpus_bytes / 1e6,
              hot_cache ? "golden lines repeated (hot cache)" : "distinct lines");

  const struct {
    const char* name;
    CutFunction cut;
  } modes[] = {{"Cut", &Jieba::Cut}, {"CutForSearch", &Jieba::CutForSearch}};
  for (const auto& mode : modes) {
    const double one = Throughput(engine, mode.cut, corpus, corpus_bytes, 1, rounds);
    if (max_threads < 2) {
      std::printf("%-13s 1 thread %6.1f MB/s   words %zu\n", mode.name, one,
                  CutAll(engine, mode.cut, corpus));
      continue;
    }
    const double two = Throughput(engine, mode.cut, corpus, corpus_bytes, 2, rounds);
    std::printf("%-13s 1 thread %6.1f MB/s   2 threads %6.1f MB/s (%.2fx)   words %zu\n", mode.name,
                one, two, two / one, CutAll(engine, mode.cut, corpus));
  }
  return 0;
}
