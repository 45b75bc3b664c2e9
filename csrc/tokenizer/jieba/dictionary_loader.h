#pragma once

#include <string>

#include "tokenizer/jieba/dictionary.h"

namespace orvel::tokenizer::jieba {

// Loads the main dictionary ("word frequency tag" lines), then each user dictionary named in
// `user_dict_paths` (paths separated by '|' or ';'; empty fields and an empty string mean none).
// User entries override main entries with the same runes, later ones override earlier ones.
// Throws FileOpenError or DataFormatError.
Dictionary LoadDictionary(const std::string& main_path, const std::string& user_dict_paths);

}  // namespace orvel::tokenizer::jieba
