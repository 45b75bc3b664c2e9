#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tokenizer/jieba/rune_map.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {

// The "minus infinity" of the HMM: the log-probability of anything the model has not seen.
inline constexpr double kMinLogProb = -3.14e+100;

// Word-position states of a rune: Begin, End, Middle, Single. The numbering fixes the order in
// which Viterbi visits states, which decides its ties.
enum HmmState : int { kStateB = 0, kStateE = 1, kStateM = 2, kStateS = 3 };
inline constexpr int kHmmStateCount = 4;

using StateScores = std::array<double, kHmmStateCount>;

// Start, transition and emission log-probabilities of the four-state word-position HMM.
struct HmmModel {
  StateScores start{};
  std::array<StateScores, kHmmStateCount> transition{};  // [from][to]

  // Emission log-probabilities of `rune` in each state, kMinLogProb where the model has none.
  const StateScores& Emission(Rune rune) const { return emissions[emission_ids.Find(rune)]; }

  RuneMap emission_ids;
  // Row 0 is all kMinLogProb and serves every rune absent from emission_ids.
  std::vector<StateScores> emissions;

  // Whether only the transitions of kWordTransitions can win in Viterbi (see
  // FindWordTransitions), which lets it try two predecessors per state instead of four.
  bool word_transitions_only = false;
};

// The transitions that keep words well formed, which the standard model alone allows: into B
// or S from the end of a word (E or S), into E or M from inside one (B or M). Indexed by the
// state entered; each pair ascending, the order in which Viterbi tries predecessors.
inline constexpr int kWordTransitions[kHmmStateCount][2] = {
    {kStateE, kStateS}, {kStateB, kStateM}, {kStateB, kStateM}, {kStateE, kStateS}};

// Sets model.word_transitions_only. A transition of score kMinLogProb or less can never win
// when no score of the model is positive: every path score is then <= 0, so (score +
// transition) + emission <= transition <= kMinLogProb (rounding is monotonic), which never
// beats Viterbi's starting best of kMinLogProb strictly; NaN never wins either. So when every
// transition outside kWordTransitions is that low, leaving them out changes no result.
void FindWordTransitions(HmmModel& model);

// Parses the model file: after dropping blank and '#' lines (each line trimmed), the first line
// holds the 4 start scores, the next 4 the transition rows and the next 4 the emission tables
// ("rune:score" items separated by ','). Throws FileOpenError or DataFormatError.
HmmModel LoadHmmModel(const std::string& path);

}  // namespace orvel::tokenizer::jieba
