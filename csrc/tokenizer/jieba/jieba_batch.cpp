// Batch cutting on several threads, and the stop-word test the batch encoders use.
#include <string>

#include "tokenizer/jieba/jieba.h"
#include "tokenizer/jieba/parallel_batch.h"

namespace orvel::tokenizer::jieba {
namespace {

using CutFunction = void (Jieba::*)(std::string_view, bool, std::vector<WordSpan>&) const;

void CutMany(const Jieba& jieba, CutFunction cut, const std::vector<std::string_view>& sentences,
             int threads, bool hmm, const Jieba::SpanConsumer& consume) {
  // One span buffer per thread, reused across its sentences and freed with the batch.
  std::vector<std::vector<WordSpan>> spans(
      static_cast<std::size_t>(BatchThreads(threads, sentences.size())));
  ForEachIndexInParallel(sentences.size(), threads, [&](std::size_t index, int worker) {
    std::vector<WordSpan>& buffer = spans[static_cast<std::size_t>(worker)];
    (jieba.*cut)(sentences[index], hmm, buffer);
    consume(index, buffer);
  });
}

}  // namespace

void Jieba::CutSpansMany(const std::vector<std::string_view>& sentences, int threads, bool hmm,
                         const SpanConsumer& consume) const {
  CutMany(*this, &Jieba::CutSpans, sentences, threads, hmm, consume);
}

void Jieba::CutForSearchSpansMany(const std::vector<std::string_view>& sentences, int threads,
                                  bool hmm, const SpanConsumer& consume) const {
  CutMany(*this, &Jieba::CutForSearchSpans, sentences, threads, hmm, consume);
}

bool Jieba::IsStopWord(std::string_view word) const {
  // Cutting never yields an empty word; the keyword table counts an empty line as one.
  return !word.empty() && keywords_->IsStopWord(word);
}

}  // namespace orvel::tokenizer::jieba
