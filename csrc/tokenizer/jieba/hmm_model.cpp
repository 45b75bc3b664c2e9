#include "tokenizer/jieba/hmm_model.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "tokenizer/jieba/data_file.h"
#include "tokenizer/jieba/text_fields.h"

namespace orvel::tokenizer::jieba {
namespace {

constexpr std::size_t kScoreLines = 1 + kHmmStateCount;           // start row, then transition rows
constexpr std::size_t kDataLines = kScoreLines + kHmmStateCount;  // then emission tables

StateScores ParseScoreRow(const std::string& path, std::size_t line_number, std::string_view line) {
  std::string_view fields[kHmmStateCount];
  const std::size_t count = SplitFields(line, ' ', fields, kHmmStateCount);
  if (count != kHmmStateCount) {
    ThrowDataFormatError(path, line_number,
                         "expected 4 space-separated scores, found " + std::to_string(count));
  }
  StateScores row;
  for (int state = 0; state < kHmmStateCount; ++state) row[state] = ParseCDouble(fields[state]);
  return row;
}

// Reads "rune:score,rune:score,..." into per-rune rows of the emission table, creating rows on
// first sight; a later item for the same rune and state overwrites the earlier one.
void ParseEmissionLine(const std::string& path, std::size_t line_number, std::string_view line,
                       int state, std::unordered_map<Rune, std::uint32_t>& row_of,
                       std::vector<StateScores>& rows) {
  std::vector<std::string_view> items(SplitFields(line, ',', nullptr, 0));
  SplitFields(line, ',', items.data(), items.size());
  std::vector<Rune> key;
  for (const std::string_view item : items) {
    std::string_view kv[2];
    if (SplitFields(item, ':', kv, 2) != 2) {
      ThrowDataFormatError(path, line_number,
                           "emission item '" + std::string(item) + "' is not 'rune:score'");
    }
    key.clear();
    if (!AppendRunes(kv[0], key) || key.size() != 1) {
      ThrowDataFormatError(path, line_number,
                           "emission key '" + std::string(kv[0]) + "' is not exactly one rune");
    }
    const auto [it, is_new] = row_of.try_emplace(key[0], static_cast<std::uint32_t>(rows.size()));
    if (is_new) {
      rows.emplace_back();
      rows.back().fill(kMinLogProb);
    }
    rows[it->second][state] = ParseCDouble(kv[1]);
  }
}

}  // namespace

HmmModel LoadHmmModel(const std::string& path) {
  const std::string content = ReadDataFile(path);
  std::vector<std::pair<std::size_t, std::string_view>> data_lines;  // (line number, text)
  std::size_t line_number = 0;
  ForEachLine(content, [&](std::string_view line) {
    ++line_number;
    line = TrimAsciiSpace(line);
    if (line.empty() || line.front() == '#' || data_lines.size() == kDataLines) return;
    data_lines.emplace_back(line_number, line);
  });
  if (data_lines.size() < kDataLines) {
    ThrowDataFormatError(path, line_number + 1,
                         "unexpected end of file: found " + std::to_string(data_lines.size()) +
                             " of 9 data lines (start, 4 transition rows, 4 emission tables)");
  }

  HmmModel model;
  model.start = ParseScoreRow(path, data_lines[0].first, data_lines[0].second);
  for (int from = 0; from < kHmmStateCount; ++from) {
    const auto& [number, text] = data_lines[1 + from];
    model.transition[from] = ParseScoreRow(path, number, text);
  }
  std::unordered_map<Rune, std::uint32_t> row_of;
  model.emissions.emplace_back();
  model.emissions.back().fill(kMinLogProb);
  for (int state = 0; state < kHmmStateCount; ++state) {
    const auto& [number, text] = data_lines[kScoreLines + state];
    ParseEmissionLine(path, number, text, state, row_of, model.emissions);
  }
  model.emission_ids = RuneMap({row_of.begin(), row_of.end()});
  FindWordTransitions(model);
  return model;
}

void FindWordTransitions(HmmModel& model) {
  bool non_positive = true;
  const auto check = [&](const StateScores& scores) {
    for (const double score : scores) non_positive &= !(score > 0.0);
  };
  check(model.start);
  for (const StateScores& row : model.transition) check(row);
  for (const StateScores& row : model.emissions) check(row);
  bool others_lose = true;
  for (int to = 0; to < kHmmStateCount; ++to) {
    for (int from = 0; from < kHmmStateCount; ++from) {
      const bool allowed = from == kWordTransitions[to][0] || from == kWordTransitions[to][1];
      others_lose &= allowed || model.transition[from][to] <= kMinLogProb;
    }
  }
  model.word_transitions_only = non_positive && others_lose;
}

}  // namespace orvel::tokenizer::jieba
