#include "tokenizer/jieba/jieba.h"

#include <iostream>

#include "tokenizer/jieba/data_file.h"
#include "tokenizer/jieba/dictionary_loader.h"
#include "tokenizer/jieba/hmm_model.h"
#include "tokenizer/jieba/segmenter.h"
#include "tokenizer/jieba/stop_words.h"

namespace orvel::tokenizer::jieba {
namespace {

std::unique_ptr<const Segmenter> LoadSegmenter(
    const std::string& dict_path, const std::string& hmm_path, const std::string& user_dict_path,
    const std::string& idf_path, const std::string& stop_word_path, std::string& stop_word_text) {
  DictionaryEntries entries = ReadDictionaryEntries(dict_path, user_dict_path);
  HmmModel model = LoadHmmModel(hmm_path);
  // The IDF table serves keyword extraction, not cutting. It is still opened and read, so that
  // a missing or unreadable file fails construction as in the reference; its content cannot be
  // malformed (bad lines are skipped), so it is dropped. The stop words are kept for the batch
  // encoders, which can leave them out of BM25 vectors; cutting never consults them.
  ReadDataFileDiscarding(idf_path);
  stop_word_text = ReadDataFile(stop_word_path);
  // Indexing comes last, once every file has passed: its large temporaries are then the last
  // allocations and their memory goes back instead of sitting below longer-lived blocks.
  return std::make_unique<const Segmenter>(BuildDictionary(std::move(entries)), std::move(model));
}

void ReportUndecodableSentence() {
  // One write of one whole line, so lines from concurrent calls do not interleave.
  std::cerr << std::string("[pyorveltext.jieba] ERROR UTF-8 decode failed for input sentence\n")
            << std::flush;
}

template <typename Word>
void CutInto(const Segmenter& segmenter, std::string_view sentence, CutMode mode,
             std::vector<Word>& words) {
  if (!segmenter.Cut(sentence, mode, words)) ReportUndecodableSentence();
}

}  // namespace

Jieba::Jieba(const std::string& dict_path, const std::string& hmm_path,
             const std::string& user_dict_path, const std::string& idf_path,
             const std::string& stop_word_path)
    : data_paths_{dict_path, hmm_path, user_dict_path, idf_path, stop_word_path} {
  std::string stop_word_text;
  segmenter_ =
      LoadSegmenter(dict_path, hmm_path, user_dict_path, idf_path, stop_word_path, stop_word_text);
  stop_words_ = std::make_unique<const StopWords>(std::move(stop_word_text));
}

Jieba::~Jieba() = default;

void Jieba::Cut(const std::string& sentence, std::vector<std::string>& words) const {
  CutInto(*segmenter_, sentence, CutMode::kMixed, words);
}

void Jieba::CutForSearch(const std::string& sentence, std::vector<std::string>& words) const {
  CutInto(*segmenter_, sentence, CutMode::kSearch, words);
}

void Jieba::CutSpans(std::string_view sentence, std::vector<WordSpan>& spans) const {
  CutInto(*segmenter_, sentence, CutMode::kMixed, spans);
}

void Jieba::CutForSearchSpans(std::string_view sentence, std::vector<WordSpan>& spans) const {
  CutInto(*segmenter_, sentence, CutMode::kSearch, spans);
}

}  // namespace orvel::tokenizer::jieba
