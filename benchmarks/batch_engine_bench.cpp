// The batch path without Python: the engine's own cutting speed through the batch pool, and
// cutting plus counting as train_many does it, on 1 and 2 threads.
//
//   batch_engine_bench DATA_DIR CORPUS_TXT [ROUNDS]
//
// DATA_DIR holds the five data files; CORPUS_TXT is one text per line (data/bench/corpus.txt,
// distinct real text). Throughput is input bytes (1 MB = 10^6 bytes) per wall-clock second;
// each row gives min / median / max over ROUNDS (default 3) rounds. The "0.1 MB batches" rows
// cut and count the corpus as a series of batches of about 0.1 MB each, as a caller training
// on small lists would, so that fixed costs per batch (tables set up, threads started) show.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "search/bm25/batch_text.h"
#include "tokenizer/jieba/jieba.h"

namespace {

using orvel::tokenizer::jieba::Jieba;
using orvel::typing::text::CorpusCounts;
using orvel::typing::text::CountCorpus;
using orvel::typing::text::TextAnalysis;
using orvel::typing::text::TextBatch;
using Clock = std::chrono::steady_clock;

void Report(const char* label, int threads, std::size_t bytes, int rounds,
            const std::function<void()>& run) {
  std::vector<double> rates;
  for (int i = 0; i < rounds; ++i) {
    const Clock::time_point start = Clock::now();
    run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    rates.push_back(static_cast<double>(bytes) / seconds / 1e6);
  }
  std::sort(rates.begin(), rates.end());
  std::printf("%-24s %d thread(s) %8.1f %8.1f %8.1f MB/s (min median max)\n", label, threads,
              rates.front(), rates[rates.size() / 2], rates.back());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DATA_DIR CORPUS_TXT [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string data = std::string(argv[1]) + "/";
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  const Jieba jieba(data + "jieba.dict.utf8", data + "hmm_model.utf8", data + "user.dict.utf8",
                    data + "idf.utf8", data + "stop_words.utf8");
  std::ifstream file(argv[2]);
  std::vector<std::string> lines;
  std::size_t bytes = 0;
  for (std::string line; std::getline(file, line);) {
    bytes += line.size();
    lines.push_back(std::move(line));
  }
  TextBatch batch;
  batch.texts.assign(lines.begin(), lines.end());
  batch.unchecked.assign(lines.size(), false);
  std::printf("corpus: %zu texts, %.1f MB\n", lines.size(), static_cast<double>(bytes) / 1e6);
  constexpr std::size_t kSmallBatchBytes = 100000;
  std::vector<TextBatch> small_batches;
  std::size_t small_bytes = kSmallBatchBytes;  // of the last batch; full: start another
  for (const std::string& line : lines) {
    if (small_bytes >= kSmallBatchBytes) {
      small_batches.emplace_back();
      small_bytes = 0;
    }
    small_batches.back().texts.push_back(line);
    small_batches.back().unchecked.push_back(false);
    small_bytes += line.size();
  }
  for (int threads : {1, 2}) {
    Report("engine cut_for_search", threads, bytes, rounds, [&] {
      jieba.CutForSearchSpansMany(batch.texts, threads, true, [](std::size_t, auto&) {});
    });
    Report("cut_for_search + count", threads, bytes, rounds, [&] {
      TextAnalysis analysis;
      analysis.threads = threads;
      CorpusCounts counts;
      CountCorpus(jieba, batch, analysis, counts);
    });
    Report("engine, 0.1 MB batches", threads, bytes, rounds, [&] {
      for (const TextBatch& small : small_batches) {
        jieba.CutForSearchSpansMany(small.texts, threads, true, [](std::size_t, auto&) {});
      }
    });
    Report("+ count, 0.1 MB batches", threads, bytes, rounds, [&] {
      TextAnalysis analysis;
      analysis.threads = threads;
      for (const TextBatch& small : small_batches) {
        CorpusCounts counts;
        CountCorpus(jieba, small, analysis, counts);
      }
    });
  }
  return 0;
}
