#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// Bytes of working memory for `rune_count` runes; see CutWorkspace.
constexpr std::size_t CutWorkspaceBytes(std::size_t rune_count) {
  return (rune_count + 1) * (sizeof(std::size_t) + sizeof(double)) +
         rune_count * (sizeof(Rune) + 4 * sizeof(std::uint32_t)) + HmmScratchBytes(rune_count);
}

// Working memory of one cut call, carved from a single block: an in-object buffer for the
// usual short sentence, one heap block for longer ones, so no call allocates per rune or per
// word and none shares memory with another call.
class CutWorkspace {
 public:
  // Runes that fit the in-object buffer.
  static constexpr std::size_t kLocalRunes = 240;

  explicit CutWorkspace(std::size_t rune_count) {
    const std::size_t bytes = CutWorkspaceBytes(rune_count);
    unsigned char* block = local_;
    if (bytes > sizeof(local_)) {
      heap_.reset(new std::uint64_t[(bytes + 7) / 8]);
      block = reinterpret_cast<unsigned char*>(heap_.get());
    }
    // Most strictly aligned arrays first, so each starts suitably aligned.
    offsets = reinterpret_cast<std::size_t*>(block);
    best = reinterpret_cast<double*>(offsets + rune_count + 1);
    runes = reinterpret_cast<Rune*>(best + rune_count + 1);
    codes = reinterpret_cast<std::uint32_t*>(runes + rune_count);
    word_length = codes + rune_count;
    word_node = word_length + rune_count;
    separators = word_node + rune_count;
    hmm = reinterpret_cast<std::uint8_t*>(separators + rune_count);
  }
  CutWorkspace(const CutWorkspace&) = delete;
  CutWorkspace& operator=(const CutWorkspace&) = delete;

  std::size_t* offsets;        // rune_count + 1 byte offsets
  double* best;                // rune_count + 1 maximum-probability scores
  Rune* runes;                 // rune_count values
  std::uint32_t* codes;        // the runes' dictionary codes
  std::uint32_t* word_length;  // at each word's first rune, the word's length in runes
  std::uint32_t* word_node;    // there, its trie node, for the cuts that report nodes
  std::uint32_t* separators;   // indexes of the separator runes, for the cuts that list them
  std::uint8_t* hmm;           // HmmScratchBytes(rune_count)

 private:
  alignas(std::uint64_t) unsigned char local_[CutWorkspaceBytes(kLocalRunes)];
  std::unique_ptr<std::uint64_t[]> heap_;
};

}  // namespace orvel::tokenizer::jieba
