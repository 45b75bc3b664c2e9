#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "tokenizer/jieba/jieba.h"

namespace orvel::typing::text::pybind {

// Adds the analyzer methods (positions, full mode, tags, keywords, run-time words) to Jieba.
void BindJiebaAnalyzer(
    pybind11::class_<tokenizer::jieba::Jieba, std::shared_ptr<tokenizer::jieba::Jieba>>& cls);

}  // namespace orvel::typing::text::pybind
