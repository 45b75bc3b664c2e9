#include "tokenizer/jieba/segmenter.h"

#include <cstdint>
#include <utility>

#include "tokenizer/jieba/cut_workspace.h"
#include "tokenizer/jieba/hmm_cutter.h"
#include "tokenizer/jieba/max_prob_cutter.h"
#include "tokenizer/jieba/separator_filter.h"
#include "tokenizer/jieba/single_rune_runs.h"
#include "tokenizer/jieba/utf8_decoder.h"

namespace orvel::tokenizer::jieba {
namespace {

// Sentences longer than this (in bytes) get a workspace sized by their exact rune count.
constexpr std::size_t kCountRunesFirstBytes = 2048;

// Sets codes[i] to the trie code of runes[i] for i < count, lists the indexes of the separators
// in `separators` and returns how many there are. One pass does both: every index is written
// and kept only where the rune is a separator, so the test costs no branch.
std::size_t LookUpCodes(const DictionaryTrie& trie, const Rune* runes, std::size_t count,
                        DictionaryTrie::Code* codes, std::uint32_t* separators) {
  std::size_t separator_count = 0;
  const DictionaryTrie::Code* flat = trie.FlatCodes();
  for (std::size_t i = 0; i < count; ++i) {
    const Rune rune = runes[i];
    codes[i] = rune < RuneMap::kFlatSize && flat != nullptr ? flat[rune] : trie.CodeOf(rune);
    separators[separator_count] = static_cast<std::uint32_t>(i);
    separator_count += IsSeparator(rune);
  }
  return separator_count;
}

// Mixed-mode cut of the separator-free range [begin, end): word_length gets the length of every
// word at its first rune, and with kWithNodes word_node its node (see CutWithNodes).
template <bool kWithNodes>
void CutRange(const Dictionary& dictionary, const HmmModel& model, std::size_t begin,
              std::size_t end, CutWorkspace& workspace) {
  const Rune* runes = workspace.runes + begin;
  std::uint32_t* word_length = workspace.word_length + begin;
  DictionaryTrie::Node* word_node = kWithNodes ? workspace.word_node + begin : nullptr;
  const std::size_t count = end - begin;
  CutMaxProbability(dictionary, workspace.codes + begin, count, workspace.best + begin, word_length,
                    word_node);
  CutSingleRuneRuns(dictionary, model, runes, 0, count, workspace.hmm, word_length,
                    [&](std::size_t run_begin, std::size_t run_end) {
                      if constexpr (kWithNodes) {
                        // The run's single runes keep the nodes the dictionary pass gave them;
                        // the words the HMM joined were never looked up.
                        for (std::size_t k = run_begin; k < run_end; k += word_length[k]) {
                          if (word_length[k] > 1) word_node[k] = DictionaryTrie::kNotFound;
                        }
                      }
                    });
}

// Search mode puts before each word its 2-rune and then its 3-rune windows that are dictionary
// words (any entry counts, whatever its weight). Nothing is de-duplicated.
template <typename Sink>
void EmitSearchWindows(const DictionaryTrie& trie, const DictionaryTrie::Code* codes,
                       std::size_t begin, std::size_t length, Sink& sink) {
  for (std::size_t window = 2; window <= 3 && window < length; ++window) {
    for (std::size_t start = begin; start + window <= begin + length; ++start) {
      const DictionaryTrie::Node node = trie.WordNode(codes + start, window);
      if (node != DictionaryTrie::kNotFound) sink(start, start + window, node);
    }
  }
}

// Sinks receive each word as a rune interval and its node; only those with kWithNodes ask the
// cut to find the node of every word, the others may get kNotFound instead. Begin(most) comes
// before the first word, with a bound on the number of words, and End() after the last. The
// span sinks size their vectors to the bound and write words by index: a push_back per word
// was a call (the compiler keeps the growth path out of line), 5% of a cut's instructions.
// Strings are not made ahead: constructing and destroying the unused ones costs more.
struct SpanSink {
  static constexpr bool kWithNodes = false;
  void Begin(std::size_t most) {
    words.resize(most);
    out = words.data();
  }
  void operator()(std::size_t begin, std::size_t end, DictionaryTrie::Node) {
    *out++ = {offsets[begin], offsets[end]};
  }
  void End() { words.resize(static_cast<std::size_t>(out - words.data())); }
  std::vector<WordSpan>& words;
  const std::size_t* offsets;
  WordSpan* out = nullptr;
};

// Out of line: the sink's hot path stays small enough to be inlined whole.
__attribute__((noinline)) void AppendWord(std::vector<std::string>& words, const char* word,
                                          std::size_t size) {
  words.emplace_back(word, size);
}

struct StringSink {
  static constexpr bool kWithNodes = false;
  void Begin(std::size_t most) { words.reserve(most); }
  void operator()(std::size_t begin, std::size_t end, DictionaryTrie::Node) {
    const std::size_t from = offsets[begin];
    const std::size_t size = offsets[end] - from;
    // Nearly every word fits a string's inline buffer. Copying a fixed kInline bytes and
    // cutting the string back compiles to two moves, where a copy of the word's own length is
    // a call to memcpy, which took 5% of the cut's instructions. Only where kInline bytes are
    // there to read.
    if (size <= kInline && from + kInline <= text_size) {
      words.emplace_back(text + from, kInline).erase(size);
    } else {
      AppendWord(words, text + from, size);
    }
  }
  void End() {}
  static constexpr std::size_t kInline = 15;  // std::string's inline capacity in libstdc++
  std::vector<std::string>& words;
  const char* text;
  std::size_t text_size;
  const std::size_t* offsets;
};

// A SpanSink that also keeps each word's node.
struct NodeSink : SpanSink {
  static constexpr bool kWithNodes = true;
  void Begin(std::size_t most) {
    SpanSink::Begin(most);
    nodes.resize(most);
    out_node = nodes.data();
  }
  void operator()(std::size_t begin, std::size_t end, DictionaryTrie::Node node) {
    SpanSink::operator()(begin, end, node);
    *out_node++ = node;
  }
  void End() {
    SpanSink::End();
    nodes.resize(words.size());
  }
  std::vector<DictionaryTrie::Node>& nodes;
  DictionaryTrie::Node* out_node = nullptr;
};

}  // namespace

Segmenter::Segmenter(Dictionary dictionary, HmmModel model)
    : dictionary_(std::move(dictionary)), model_(std::move(model)) {}

// `sink(begin, end, node)` receives each word as a rune interval, in order; it reads the byte
// offsets through a pointer that CutInto sets before the first call. Nothing reaches it when the
// sentence holds a rune of `declined` (if not null).
template <typename Sink>
CutStatus Segmenter::CutInto(std::string_view sentence, CutMode mode, const RuneSet* declined,
                             Sink& sink) const {
  // A sentence has at most as many runes as bytes. Only long ones are counted first, to keep
  // their workspace to the size they need; for the rest a second decoding pass would cost more
  // than the unused part of a workspace sized by bytes.
  std::size_t capacity = sentence.size();
  if (capacity > kCountRunesFirstBytes) {
    capacity = CountRunes(sentence);
    if (capacity == kUndecodable) return CutStatus::kUndecodable;
  }
  CutWorkspace workspace(capacity);
  const std::size_t count = DecodeRunes(sentence, workspace.runes, workspace.offsets);
  if (count == kUndecodable) return CutStatus::kUndecodable;
  if (declined != nullptr) {
    // The bitset test first: it settles most sentences without the exact one.
    bool maybe = false;
    for (std::size_t i = 0; i < count; ++i) maybe |= declined->MayContain(workspace.runes[i]);
    if (maybe && declined->ContainsAny(workspace.runes, count)) return CutStatus::kDeclined;
  }
  const std::size_t separator_count =
      LookUpCodes(dictionary_.trie, workspace.runes, count, workspace.codes, workspace.separators);
  sink.offsets = workspace.offsets;

  std::size_t prefetched = 0;  // walks from the starts before it have been requested
  ForEachRangeBetween(
      workspace.separators, separator_count, count,
      [&](std::size_t begin, std::size_t end) {
        PrefetchWalks(dictionary_.trie, workspace.codes, count, end, prefetched);
        CutRange<Sink::kWithNodes>(dictionary_, model_, begin, end, workspace);
      },
      [&](std::size_t index) {
        workspace.word_length[index] = 1;
        if constexpr (Sink::kWithNodes) {
          workspace.word_node[index] = dictionary_.trie.RootChild(workspace.codes[index]);
        }
      });

  // A word takes at least one rune; in search mode a word of n > 2 runes comes after at most
  // n - 1 + n - 2 windows, so fewer than two entries per rune.
  sink.Begin(mode == CutMode::kSearch ? 2 * count : count);
  for (std::size_t i = 0; i < count;) {
    const std::size_t length = workspace.word_length[i];
    if (mode == CutMode::kSearch && length > 2) {
      EmitSearchWindows(dictionary_.trie, workspace.codes, i, length, sink);
    }
    sink(i, i + length, Sink::kWithNodes ? workspace.word_node[i] : DictionaryTrie::kNotFound);
    i += length;
  }
  sink.End();
  return CutStatus::kDone;
}

bool Segmenter::Cut(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words) const {
  words.clear();
  SpanSink sink{words, nullptr};
  return CutInto(sentence, mode, nullptr, sink) == CutStatus::kDone;
}

bool Segmenter::Cut(std::string_view sentence, CutMode mode,
                    std::vector<std::string>& words) const {
  words.clear();
  StringSink sink{words, sentence.data(), sentence.size(), nullptr};
  return CutInto(sentence, mode, nullptr, sink) == CutStatus::kDone;
}

bool Segmenter::CutWithNodes(std::string_view sentence, CutMode mode, std::vector<WordSpan>& words,
                             std::vector<DictionaryTrie::Node>& nodes) const {
  words.clear();
  nodes.clear();
  NodeSink sink{{words, nullptr}, nodes};
  return CutInto(sentence, mode, nullptr, sink) == CutStatus::kDone;
}

CutStatus Segmenter::CutUnless(const RuneSet& declined, std::string_view sentence, CutMode mode,
                               std::vector<WordSpan>& words) const {
  words.clear();
  SpanSink sink{words, nullptr};
  return CutInto(sentence, mode, &declined, sink);
}

CutStatus Segmenter::CutUnless(const RuneSet& declined, std::string_view sentence, CutMode mode,
                               std::vector<std::string>& words) const {
  words.clear();
  StringSink sink{words, sentence.data(), sentence.size(), nullptr};
  return CutInto(sentence, mode, &declined, sink);
}

}  // namespace orvel::tokenizer::jieba
