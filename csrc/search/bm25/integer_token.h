#pragma once

#include <charconv>
#include <string_view>

namespace orvel::typing::text {

// Decimal text of an integer token, the same text std::to_string gives, without allocating.
class IntegerTokenText {
 public:
  explicit IntegerTokenText(long long token) {
    length_ = static_cast<std::size_t>(std::to_chars(buffer_, buffer_ + sizeof buffer_, token).ptr -
                                       buffer_);
  }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  char buffer_[24];  // "-9223372036854775808" is 20 characters
  std::size_t length_;
};

}  // namespace orvel::typing::text
