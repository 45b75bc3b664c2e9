#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvel::tokenizer::jieba {

// Part-of-speech tags of dictionary entries, parallel to a WordEntries list: entry i has tag
// Tag(i). A dictionary uses a few dozen distinct tags, so each entry stores a 32-bit id into a
// table of names instead of a string of its own. Id 0 is the empty tag.
class WordTags {
 public:
  WordTags() { names_.emplace_back(); }

  std::uint32_t Intern(std::string_view tag) {
    if (tag.empty()) return 0;
    const auto [it, inserted] =
        index_.emplace(std::string(tag), static_cast<std::uint32_t>(names_.size()));
    if (inserted) names_.push_back(it->first);
    return it->second;
  }

  void Reserve(std::size_t count) { ids_.reserve(count); }
  void Add(std::string_view tag) { ids_.push_back(Intern(tag)); }
  void AddId(std::uint32_t id) { ids_.push_back(id); }
  void ShrinkToFit() { ids_.shrink_to_fit(); }

  std::size_t size() const { return ids_.size(); }
  // Number of distinct tags, the empty one included: ids are below it.
  std::size_t name_count() const { return names_.size(); }
  std::uint32_t Id(std::size_t word) const { return ids_[word]; }
  const std::string& Name(std::uint32_t id) const { return names_[id]; }
  const std::string& Tag(std::size_t word) const { return names_[ids_[word]]; }

 private:
  std::vector<std::uint32_t> ids_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, std::uint32_t> index_;
};

}  // namespace orvel::tokenizer::jieba
