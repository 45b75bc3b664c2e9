// The analyzer's engine speeds on distinct real text, next to the HMM cut of the same run:
// the cut without HMM and full mode against the mixed cut, the time to add 10,000 words one
// by one and as one batch, and a cut while another thread adds words against a cut without
// (whole passes, then in turns).
//
//   analyzer_engine_bench DATA_DIR CORPUS_FILE [CORPUS_MB] [ROUNDS]
//
// DATA_DIR holds the five data files (user dictionary user.dict.utf8); CORPUS_FILE is text with
// one sentence per line, of which the first CORPUS_MB (default 2) MB of distinct lines are cut,
// each once per round. Rates are MB (10^6 bytes) of input per wall-clock second; min, median and
// max over ROUNDS (default 5) rounds.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

#include "tokenizer/jieba/jieba.h"

namespace {

using orvel::tokenizer::jieba::Jieba;
using orvel::tokenizer::jieba::WordSpan;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> DistinctLines(const std::string& path, double megabytes,
                                       std::size_t& bytes) {
  std::ifstream in(path, std::ios::binary);
  std::set<std::string> seen;
  std::vector<std::string> lines;
  bytes = 0;
  std::string line;
  while (bytes < megabytes * 1e6 && std::getline(in, line)) {
    if (line.empty() || !seen.insert(line).second) continue;
    bytes += line.size();
    lines.push_back(line);
  }
  return lines;
}

struct Stats {
  double min, median, max;
};

Stats Summarize(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {values.front(), values[values.size() / 2], values.back()};
}

// New words that occur nowhere in Chinese text: two private-use characters and a number.
std::string NewWord(int i) {
  return "\xEE\x80\x80\xEE\x80\x81" + std::to_string(i);
}

// The CPUs this thread may run on (those the process started with, when asked first).
std::vector<int> AllowedCpus() {
  std::vector<int> cpus;
#if defined(__linux__)
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &allowed)) cpus.push_back(cpu);
    }
  }
#endif
  return cpus;
}

// Lets the calling thread run on `cpus` only; false where that is not supported.
bool PinTo(const std::vector<int>& cpus) {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  for (const int cpu : cpus) CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
#else
  (void)cpus;
  return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DATA_DIR CORPUS_FILE [CORPUS_MB] [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const double megabytes = argc > 3 ? std::atof(argv[3]) : 2.0;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
  std::size_t bytes = 0;
  const std::vector<std::string> lines = DistinctLines(argv[2], megabytes, bytes);
  const auto make = [&] {
    return std::make_unique<Jieba>(dir + "jieba.dict.utf8", dir + "hmm_model.utf8",
                                   dir + "user.dict.utf8", dir + "idf.utf8",
                                   dir + "stop_words.utf8");
  };
  auto engine = make();
  std::printf("corpus: %.2f MB, %zu distinct lines, %d rounds\n", bytes / 1e6, lines.size(),
              rounds);

  std::vector<WordSpan> spans;
  const std::vector<std::pair<const char*, std::function<void(const std::string&)>>> calls = {
      {"cut (HMM)", [&](const std::string& s) { engine->CutSpans(s, spans); }},
      {"cut hmm=false", [&](const std::string& s) { engine->CutSpans(s, false, spans); }},
      {"cut_for_search hmm=false",
       [&](const std::string& s) { engine->CutForSearchSpans(s, false, spans); }},
      {"cut_all", [&](const std::string& s) { engine->CutAllSpans(s, spans); }},
  };
  std::vector<std::vector<double>> rates(calls.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t c = 0; c < calls.size(); ++c) {
      const auto start = Clock::now();
      for (const std::string& line : lines) calls[c].second(line);
      rates[c].push_back(bytes / 1e6 / SecondsSince(start));
    }
  }
  const double hmm_median = Summarize(rates[0]).median;
  std::printf("\n%-26s %9s %9s %9s  MB/s  median vs HMM cut\n", "engine call", "min", "median",
              "max");
  for (std::size_t c = 0; c < calls.size(); ++c) {
    const Stats s = Summarize(rates[c]);
    std::printf("%-26s %9.2f %9.2f %9.2f  %.2fx\n", calls[c].first, s.min, s.median, s.max,
                s.median / hmm_median);
  }

  // Adding words: one call per word (the trie rebuilt once, past the merge threshold), then
  // one batch.
  constexpr int kWords = 10000;
  {
    auto fresh = make();
    auto start = Clock::now();
    for (int i = 0; i < kWords; ++i) fresh->InsertWord(NewWord(i), 5, "nz");
    const double one_by_one = SecondsSince(start);
    auto batch_engine = make();
    std::vector<orvel::tokenizer::jieba::DictionaryChange> batch;
    for (int i = 0; i < kWords; ++i) {
      batch.push_back({orvel::tokenizer::jieba::DictionaryChange::Op::kAdd, NewWord(i), 5, "nz"});
    }
    start = Clock::now();
    batch_engine->ApplyChanges(batch);
    const double batched = SecondsSince(start);
    std::printf("\nadd_word x %d: %.3f s one by one, %.3f s as one add_words batch\n", kWords,
                one_by_one, batched);
  }

  // The cut's own cost of pending run-time words (an overlay not yet merged into the trie).
  {
    auto pending = make();
    for (int i = 0; i < 500; ++i) pending->InsertWord(NewWord(i), 5, "nz");
    pending->InsertWord("\xE6\x9D\xAD\xE7\xA0\x94", std::nullopt, "nz");  // a common first rune
    std::vector<double> plain_rates, pending_rates;
    std::vector<WordSpan> own;
    for (int round = 0; round < rounds; ++round) {
      auto start = Clock::now();
      for (const std::string& line : lines) engine->CutSpans(line, own);
      plain_rates.push_back(bytes / 1e6 / SecondsSince(start));
      start = Clock::now();
      for (const std::string& line : lines) pending->CutSpans(line, own);
      pending_rates.push_back(bytes / 1e6 / SecondsSince(start));
    }
    const Stats plain = Summarize(plain_rates);
    const Stats with = Summarize(pending_rates);
    std::printf("cut (HMM), no pending word   %8.2f %9.2f %9.2f  MB/s\n", plain.min, plain.median,
                plain.max);
    std::printf("cut (HMM), 501 pending words %8.2f %9.2f %9.2f  MB/s  %.2fx\n", with.min,
                with.median, with.max, with.median / plain.median);
  }

  // A cutting thread with and without another thread adding words one by one meanwhile.
  std::vector<double> quiet_rates, busy_rates, added_counts;
  for (int round = 0; round < rounds; ++round) {
    auto subject = make();
    std::vector<WordSpan> own;
    auto start = Clock::now();
    for (const std::string& line : lines) subject->CutSpans(line, own);
    quiet_rates.push_back(bytes / 1e6 / SecondsSince(start));
    std::atomic<bool> stop{false};
    std::atomic<int> added{0};
    std::thread writer([&] {
      for (int i = 0; !stop.load(); ++i) {
        subject->InsertWord(NewWord(round * 1000000 + i), 5, "nz");
        ++added;
      }
    });
    start = Clock::now();
    for (const std::string& line : lines) subject->CutSpans(line, own);
    busy_rates.push_back(bytes / 1e6 / SecondsSince(start));
    stop = true;
    writer.join();
    added_counts.push_back(added.load());
  }
  // Past the merge threshold the writer spends the rest of a pass rebuilding the trie rather
  // than publishing changes, so these say how much of the pass saw changes arrive.
  const Stats added = Summarize(added_counts);
  std::printf("words added during one cutting pass: %.0f %.0f %.0f (merge threshold %zu)\n",
              added.min, added.median, added.max,
              orvel::tokenizer::jieba::RuntimeDictionary::kDefaultMergeThreshold);
  const Stats quiet = Summarize(quiet_rates);
  const Stats busy = Summarize(busy_rates);
  std::printf("cut (HMM) without a writer  %9.2f %9.2f %9.2f  MB/s\n", quiet.min, quiet.median,
              quiet.max);
  std::printf("cut (HMM) while adding words %8.2f %9.2f %9.2f  MB/s  %.2fx\n", busy.min,
              busy.median, busy.max, busy.median / quiet.median);

  // The same in turns: chunks of lines cut alternately with the writer changing words and
  // waiting, twice with the turns swapped, so that every line is cut both ways and the speed
  // of a shared machine, which drifts from second to second, falls on both alike. The writer
  // cycles over 4,096 words (adding new ones, then changing their frequency), so that every
  // turn sees changes arrive and none a merge. Where it can, the cutter runs on one CPU and
  // the writer on another, so that other work on the machine cannot put both on one core and
  // what is measured is what the writer's changes cost the cutter.
  constexpr std::size_t kTurnLines = 256;
  constexpr int kCycledWords = 4096;
  std::vector<double> turn_ratios;
  const std::vector<int> cpus = AllowedCpus();
  const bool pinned = cpus.size() >= 2 && PinTo({cpus[0]});
  for (int round = 0; round < rounds; ++round) {
    auto subject = make();
    std::mutex mutex;
    std::condition_variable wake;
    bool writing = false, done = false;
    std::thread writer([&] {
      if (pinned) PinTo({cpus[1]});
      for (int i = 0;; ++i) {
        {
          std::unique_lock<std::mutex> lock(mutex);
          wake.wait(lock, [&] { return writing || done; });
          if (done) return;
        }
        subject->InsertWord(NewWord(i % kCycledWords), 1 + i / kCycledWords, "nz");
      }
    });
    const auto set_writing = [&](bool on) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        writing = on;
      }
      wake.notify_all();
    };
    double with_writer = 0.0, without = 0.0;
    std::vector<WordSpan> own;
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t turn = 0; turn * kTurnLines < lines.size(); ++turn) {
        const bool on = (turn + pass) % 2 == 0;
        set_writing(on);
        const auto start = Clock::now();
        const std::size_t end = std::min(lines.size(), (turn + 1) * kTurnLines);
        for (std::size_t i = turn * kTurnLines; i < end; ++i) subject->CutSpans(lines[i], own);
        (on ? with_writer : without) += SecondsSince(start);
      }
    }
    {
      const std::lock_guard<std::mutex> lock(mutex);
      done = true;
    }
    wake.notify_all();
    writer.join();
    turn_ratios.push_back(without / with_writer);
  }
  if (pinned) PinTo(cpus);
  const Stats turns = Summarize(turn_ratios);
  std::printf(
      "cut (HMM) while changing words, in turns of %zu lines%s: %.2fx %.2fx %.2fx of without\n",
      kTurnLines, pinned ? ", on two pinned CPUs" : "", turns.min, turns.median, turns.max);
  return 0;
}
