#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace orvel::tokenizer::jieba {

// A fixed number of small ids, each in the fewest whole bytes (1, 2 or 4) that hold the
// largest id the array is made for. Tables indexed by trie node hold one id per slot, most of
// them unused, and the ids (tags) are few: one byte each instead of four saves megabytes.
class NarrowIdArray {
 public:
  NarrowIdArray() = default;
  // `size` ids of 0, each of which may later be set to at most `max_id`.
  NarrowIdArray(std::size_t size, std::uint32_t max_id)
      : width_(max_id <= 0xFFu     ? 1
               : max_id <= 0xFFFFu ? 2
                                   : 4),
        max_id_(max_id) {
    bytes_.assign(size * width_, 0);
  }

  std::size_t size() const { return bytes_.size() / width_; }
  unsigned width() const { return width_; }

  std::uint32_t Get(std::size_t index) const {
    switch (width_) {
      case 1:
        return bytes_[index];
      case 2: {
        std::uint16_t id;
        std::memcpy(&id, &bytes_[index * 2], sizeof id);
        return id;
      }
      default: {
        std::uint32_t id;
        std::memcpy(&id, &bytes_[index * 4], sizeof id);
        return id;
      }
    }
  }

  // Throws std::out_of_range for an id above the array's maximum: cut to the width, it would
  // silently read back as another id.
  void Set(std::size_t index, std::uint32_t id) {
    if (id > max_id_) throw std::out_of_range("id above the maximum of a NarrowIdArray");
    switch (width_) {
      case 1:
        bytes_[index] = static_cast<std::uint8_t>(id);
        break;
      case 2: {
        const auto narrow = static_cast<std::uint16_t>(id);
        std::memcpy(&bytes_[index * 2], &narrow, sizeof narrow);
        break;
      }
      default:
        std::memcpy(&bytes_[index * 4], &id, sizeof id);
    }
  }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned width_ = 1;
  std::uint32_t max_id_ = 0;
};

}  // namespace orvel::tokenizer::jieba
