#include "tokenizer/jieba/jieba.h"

#include <exception>
#include <future>
#include <iostream>
#include <type_traits>

#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/memory_release.h"
#include "tokenizer/jieba/pos_tagger.h"
#include "tokenizer/jieba/segmenter.h"

namespace orvel::tokenizer::jieba {
namespace {

void ReportUndecodableSentence() {
  // One write of one whole line, so lines from concurrent calls do not interleave.
  std::cerr << std::string("[pyorveltext.jieba] ERROR UTF-8 decode failed for input sentence\n")
            << std::flush;
}

TokenMode ModeOf(CutMode mode) {
  return mode == CutMode::kSearch ? TokenMode::kSearch : TokenMode::kMixed;
}

// The specified cuts go through the segmenter directly while no run-time change is pending,
// which keeps them exactly as fast as without run-time changes, and so does a sentence that no
// pending change concerns (added words are usually rare ones): the segmenter declines only
// sentences holding the first rune of a changed word, found as it decodes them.
template <typename Word>
void CutInto(const DictionarySnapshot& snapshot, std::string_view sentence, CutMode mode,
             std::vector<Word>& words) {
  if (!snapshot.overlay) {
    if (!snapshot.segmenter->Cut(sentence, mode, words)) ReportUndecodableSentence();
    return;
  }
  const CutStatus status =
      snapshot.segmenter->CutUnless(snapshot.overlay->first_runes(), sentence, mode, words);
  if (status == CutStatus::kUndecodable) ReportUndecodableSentence();
  if (status != CutStatus::kDeclined) return;
  std::vector<Token> tokens;
  if (!CutTokens(snapshot, sentence, ModeOf(mode), true, tokens)) ReportUndecodableSentence();
  for (const Token& token : tokens) {
    if constexpr (std::is_same_v<Word, WordSpan>) {
      words.push_back({token.byte_begin, token.byte_end});
    } else {
      words.emplace_back(sentence.substr(token.byte_begin, token.byte_end - token.byte_begin));
    }
  }
}

void TokensToSpans(const std::vector<Token>& tokens, std::vector<WordSpan>& spans) {
  spans.clear();
  spans.reserve(tokens.size());
  for (const Token& token : tokens) spans.push_back({token.byte_begin, token.byte_end});
}

}  // namespace

Jieba::Jieba(const std::string& dict_path, const std::string& hmm_path,
             const std::string& user_dict_path, const std::string& idf_path,
             const std::string& stop_word_path)
    : data_paths_{dict_path, hmm_path, user_dict_path, idf_path, stop_word_path} {
  {
    // The keyword tables share nothing with the dictionary, and loading them is about a
    // quarter of construction: on a second thread they are ready by the time the trie is.
    // Where no thread can start, they load in this one when asked for below. An error of the
    // dictionary's files leaves here first, the future waiting for the thread as it goes.
    std::future<std::shared_ptr<const KeywordTables>> keywords =
        std::async(std::launch::async | std::launch::deferred, [&idf_path, &stop_word_path] {
          return std::make_shared<const KeywordTables>(idf_path, stop_word_path);
        });
    DictionaryEntries entries = ReadDictionaryEntries(dict_path, user_dict_path);
    HmmModel model = LoadHmmModel(hmm_path);
    // Indexing overlaps the keyword tables, but their files' errors still come before any of
    // indexing's, as when every file was read before indexing began.
    std::unique_ptr<RuntimeDictionary> dictionary;
    std::exception_ptr indexing_error;
    try {
      dictionary = std::make_unique<RuntimeDictionary>(std::move(entries), std::move(model));
    } catch (...) {
      indexing_error = std::current_exception();
    }
    keywords_ = keywords.get();
    if (indexing_error) std::rethrow_exception(indexing_error);
    dictionary_ = std::move(dictionary);
  }
  // Loading left tens of megabytes of freed temporaries in the heap, below what it keeps.
  ReleaseFreedMemory();
}

Jieba::~Jieba() = default;

Jieba::Jieba(const Jieba& other)
    : data_paths_(other.data_paths_),
      dictionary_(std::make_unique<RuntimeDictionary>(*other.dictionary_)),
      keywords_(other.keywords_) {}

void Jieba::Cut(const std::string& sentence, std::vector<std::string>& words) const {
  CutInto(*dictionary_->Current(), sentence, CutMode::kMixed, words);
}

void Jieba::CutForSearch(const std::string& sentence, std::vector<std::string>& words) const {
  CutInto(*dictionary_->Current(), sentence, CutMode::kSearch, words);
}

void Jieba::CutSpans(std::string_view sentence, std::vector<WordSpan>& spans) const {
  CutInto(*dictionary_->Current(), sentence, CutMode::kMixed, spans);
}

void Jieba::CutForSearchSpans(std::string_view sentence, std::vector<WordSpan>& spans) const {
  CutInto(*dictionary_->Current(), sentence, CutMode::kSearch, spans);
}

void Jieba::CutSpans(std::string_view sentence, bool hmm, std::vector<WordSpan>& spans) const {
  if (hmm) return CutSpans(sentence, spans);
  std::vector<Token> tokens;
  Tokenize(sentence, TokenMode::kMixed, false, tokens);
  TokensToSpans(tokens, spans);
}

void Jieba::CutForSearchSpans(std::string_view sentence, bool hmm,
                              std::vector<WordSpan>& spans) const {
  if (hmm) return CutForSearchSpans(sentence, spans);
  std::vector<Token> tokens;
  Tokenize(sentence, TokenMode::kSearch, false, tokens);
  TokensToSpans(tokens, spans);
}

void Jieba::CutAllSpans(std::string_view sentence, std::vector<WordSpan>& spans) const {
  std::vector<Token> tokens;
  Tokenize(sentence, TokenMode::kFull, false, tokens);
  TokensToSpans(tokens, spans);
}

void Jieba::Tokenize(std::string_view sentence, TokenMode mode, bool hmm,
                     std::vector<Token>& tokens) const {
  if (!CutTokens(*dictionary_->Current(), sentence, mode, hmm, tokens)) {
    ReportUndecodableSentence();
  }
}

void Jieba::Tag(std::string_view sentence, bool hmm, std::vector<TaggedWord>& words) const {
  words.clear();
  // One snapshot for the cut and the tags, so both see the same dictionary.
  const std::shared_ptr<const DictionarySnapshot> snapshot = dictionary_->Current();
  std::vector<Token> tokens;
  if (!CutTokens(*snapshot, sentence, TokenMode::kMixed, hmm, tokens)) {
    ReportUndecodableSentence();
    return;
  }
  words.reserve(tokens.size());
  // The sentence decoded once more, so that each word's tag is found by a walk over codes.
  std::vector<Rune> runes(sentence.size());
  std::vector<std::size_t> offsets(sentence.size() + 1);
  const std::size_t count = DecodeRunes(sentence, runes.data(), offsets.data());
  const DictionaryTrie& trie = snapshot->segmenter->dictionary().trie;
  std::vector<DictionaryTrie::Code> codes(count);
  for (std::size_t i = 0; i < count; ++i) codes[i] = trie.CodeOf(runes[i]);
  for (const Token& token : tokens) {
    const std::size_t length = token.rune_end - token.rune_begin;
    words.push_back({{token.byte_begin, token.byte_end},
                     std::string(jieba::LookupTag(*snapshot, runes.data() + token.rune_begin,
                                                  codes.data() + token.rune_begin, length))});
  }
}

std::string Jieba::LookupTag(std::string_view word) const {
  std::vector<Rune> runes;
  if (!AppendRunes(word, runes)) return "x";
  return std::string(
      jieba::LookupTag(*dictionary_->Current(), runes.data(), nullptr, runes.size()));
}

bool Jieba::Find(std::string_view word) const {
  std::vector<Rune> runes;
  if (!AppendRunes(word, runes) || runes.empty()) return false;
  return dictionary_->Current()->HasEntry(runes.data(), runes.size());
}

void Jieba::ExtractKeywords(std::string_view sentence, std::size_t top_n,
                            std::vector<Keyword>& keywords, bool with_offsets) const {
  std::vector<Token> tokens;
  keywords.clear();
  Tokenize(sentence, TokenMode::kMixed, true, tokens);
  jieba::ExtractKeywords(*keywords_, sentence, tokens, top_n, keywords, with_offsets);
}

bool Jieba::InsertWord(std::string_view word, std::optional<std::int32_t> frequency,
                       std::string_view tag) {
  DictionaryChange change{DictionaryChange::Op::kAdd, std::string(word), frequency,
                          std::string(tag)};
  return dictionary_->Apply({std::move(change)})[0];
}

bool Jieba::DeleteWord(std::string_view word) {
  DictionaryChange change{DictionaryChange::Op::kDelete, std::string(word), std::nullopt, {}};
  return dictionary_->Apply({std::move(change)})[0];
}

std::vector<bool> Jieba::ApplyChanges(const std::vector<DictionaryChange>& changes) {
  return dictionary_->Apply(changes);
}

std::shared_ptr<const Segmenter> Jieba::PlainSegmenter() const {
  const std::shared_ptr<const DictionarySnapshot> snapshot = dictionary_->Current();
  return snapshot->overlay ? nullptr : snapshot->segmenter;
}

std::vector<DictionaryChange> Jieba::Changes() const {
  return dictionary_->Changes();
}

}  // namespace orvel::tokenizer::jieba
