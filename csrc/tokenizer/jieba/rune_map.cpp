#include "tokenizer/jieba/rune_map.h"

namespace orvel::tokenizer::jieba {

RuneMap::RuneMap(std::vector<std::pair<Rune, std::uint32_t>> entries) {
  for (const auto& [rune, id] : entries) {
    if (rune < kFlatSize) {
      if (flat_.empty()) flat_.assign(kFlatSize, 0);
      flat_[rune] = id;
    } else {
      high_.emplace_back(rune, id);
    }
  }
  // Stable, so equal runes keep input order and the last of each group is the later entry.
  std::stable_sort(high_.begin(), high_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::pair<Rune, std::uint32_t>> unique;
  for (std::size_t i = 0; i < high_.size(); ++i) {
    if (i + 1 < high_.size() && high_[i + 1].first == high_[i].first) continue;
    unique.push_back(high_[i]);
  }
  high_ = std::move(unique);
}

}  // namespace orvel::tokenizer::jieba
