#include "tokenizer/jieba/hmm_cutter.h"

namespace orvel::tokenizer::jieba {
namespace {

bool IsAsciiDigit(Rune rune) {
  return rune >= '0' && rune <= '9';
}

bool IsAsciiLetterOrDigit(Rune rune) {
  return IsAsciiDigit(rune) || (rune >= 'a' && rune <= 'z') || (rune >= 'A' && rune <= 'Z');
}

// Most likely B/E/M/S labelling of runes[0..count) (count >= 2), emitting a word after every
// E or S rune. Sums keep the reference's grouping, (previous + transition) + emission, and its
// strict comparisons, so ties and the saturation at kMinLogProb come out the same.
void CutWithViterbi(const HmmModel& model, const Rune* runes, std::size_t count,
                    std::size_t first_index, std::uint8_t* scratch, std::vector<WordSpan>& words) {
  std::uint8_t* previous_state = scratch;                   // [t * 4 + state], t >= 1
  std::uint8_t* states = scratch + count * kHmmStateCount;  // best path

  StateScores scores;
  const StateScores& first_emission = model.Emission(runes[0]);
  for (int state = 0; state < kHmmStateCount; ++state) {
    scores[state] = model.start[state] + first_emission[state];
  }
  for (std::size_t t = 1; t < count; ++t) {
    const StateScores& emission = model.Emission(runes[t]);
    StateScores next;
    for (int state = 0; state < kHmmStateCount; ++state) {
      double best = kMinLogProb;
      std::uint8_t best_from = kStateE;
      for (int from = 0; from < kHmmStateCount; ++from) {
        const double value = (scores[from] + model.transition[from][state]) + emission[state];
        if (value > best) {
          best = value;
          best_from = static_cast<std::uint8_t>(from);
        }
      }
      next[state] = best;
      previous_state[t * kHmmStateCount + state] = best_from;
    }
    scores = next;
  }

  std::uint8_t state = scores[kStateE] >= scores[kStateS] ? kStateE : kStateS;
  for (std::size_t t = count; t-- > 0;) {
    states[t] = state;
    if (t > 0) state = previous_state[t * kHmmStateCount + state];
  }
  std::size_t word_begin = 0;
  for (std::size_t t = 0; t < count; ++t) {
    if (states[t] == kStateE || states[t] == kStateS) {
      words.push_back({first_index + word_begin, first_index + t + 1});
      word_begin = t + 1;
    }
  }
  if (word_begin < count) words.push_back({first_index + word_begin, first_index + count});
}

void CutNonAscii(const HmmModel& model, const Rune* runes, std::size_t count,
                 std::size_t first_index, std::uint8_t* scratch, std::vector<WordSpan>& words) {
  // One rune is one word whatever its labels.
  if (count == 1) {
    words.push_back({first_index, first_index + 1});
  } else {
    CutWithViterbi(model, runes, count, first_index, scratch, words);
  }
}

}  // namespace

void CutWithHmm(const HmmModel& model, const Rune* runes, std::size_t count,
                std::size_t first_index, std::uint8_t* scratch, std::vector<WordSpan>& words) {
  std::size_t pending = 0;  // first non-ASCII rune not yet cut
  std::size_t i = 0;
  while (i < count) {
    if (runes[i] >= 0x80) {
      ++i;
      continue;
    }
    if (pending < i)
      CutNonAscii(model, runes + pending, i - pending, first_index + pending, scratch, words);
    std::size_t end = i + 1;
    if (IsAsciiLetterOrDigit(runes[i])) {
      while (end < count && IsAsciiLetterOrDigit(runes[end])) ++end;
      // A decimal part joins only when a digit follows the point, and takes digits only.
      if (end + 1 < count && runes[end] == '.' && IsAsciiDigit(runes[end + 1])) {
        end += 2;
        while (end < count && IsAsciiDigit(runes[end])) ++end;
      }
    }
    words.push_back({first_index + i, first_index + end});
    i = end;
    pending = end;
  }
  if (pending < count) {
    CutNonAscii(model, runes + pending, count - pending, first_index + pending, scratch, words);
  }
}

}  // namespace orvel::tokenizer::jieba
