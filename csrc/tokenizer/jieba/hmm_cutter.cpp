#include "tokenizer/jieba/hmm_cutter.h"

namespace orvel::tokenizer::jieba {
namespace {

bool IsAsciiDigit(Rune rune) {
  return rune >= '0' && rune <= '9';
}

bool IsAsciiLetterOrDigit(Rune rune) {
  return IsAsciiDigit(rune) || (rune >= 'a' && rune <= 'z') || (rune >= 'A' && rune <= 'Z');
}

// Most likely B/E/M/S labelling of runes[0..count) (count >= 2); a word ends after every E or
// S rune. Sums keep the reference's grouping, (previous + transition) + emission, and its
// strict comparisons, so ties and the saturation at kMinLogProb come out the same. With
// kWordTransitionsOnly (for a model with word_transitions_only) each state tries just its two
// predecessors of kWordTransitions, in the ascending order in which the reference tries all
// four: the others could not have won.
template <bool kWordTransitionsOnly>
void CutWithViterbi(const HmmModel& model, const Rune* runes, std::size_t count,
                    std::uint8_t* scratch, std::uint32_t* word_length) {
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
      for (int k = 0; k < (kWordTransitionsOnly ? 2 : kHmmStateCount); ++k) {
        const int from = kWordTransitionsOnly ? kWordTransitions[state][k] : k;
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
      word_length[word_begin] = static_cast<std::uint32_t>(t + 1 - word_begin);
      word_begin = t + 1;
    }
  }
  if (word_begin < count) word_length[word_begin] = static_cast<std::uint32_t>(count - word_begin);
}

void CutNonAscii(const HmmModel& model, const Rune* runes, std::size_t count, std::uint8_t* scratch,
                 std::uint32_t* word_length) {
  // One rune is one word whatever its labels.
  if (count == 1) {
    word_length[0] = 1;
  } else if (model.word_transitions_only) {
    CutWithViterbi<true>(model, runes, count, scratch, word_length);
  } else {
    CutWithViterbi<false>(model, runes, count, scratch, word_length);
  }
}

}  // namespace

void CutWithHmm(const HmmModel& model, const Rune* runes, std::size_t count, std::uint8_t* scratch,
                std::uint32_t* word_length) {
  std::size_t pending = 0;  // first non-ASCII rune not yet cut
  std::size_t i = 0;
  while (i < count) {
    if (runes[i] >= 0x80) {
      ++i;
      continue;
    }
    if (pending < i) {
      CutNonAscii(model, runes + pending, i - pending, scratch, word_length + pending);
    }
    std::size_t end = i + 1;
    if (IsAsciiLetterOrDigit(runes[i])) {
      while (end < count && IsAsciiLetterOrDigit(runes[end])) ++end;
      // A decimal part joins only when a digit follows the point, and takes digits only.
      if (end + 1 < count && runes[end] == '.' && IsAsciiDigit(runes[end + 1])) {
        end += 2;
        while (end < count && IsAsciiDigit(runes[end])) ++end;
      }
    }
    word_length[i] = static_cast<std::uint32_t>(end - i);
    i = end;
    pending = end;
  }
  if (pending < count) {
    CutNonAscii(model, runes + pending, count - pending, scratch, word_length + pending);
  }
}

}  // namespace orvel::tokenizer::jieba
