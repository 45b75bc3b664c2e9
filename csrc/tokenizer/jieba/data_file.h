#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvel::tokenizer::jieba {

// Reads a whole data file into memory. Throws FileOpenError (errors.h) with the system error
// when the file cannot be opened or read: ENOENT for an empty path, EISDIR for a directory.
std::string ReadDataFile(const std::string& path);

// Opens and reads a data file to its end without keeping it, for files whose content cutting
// never uses but whose open and read errors still count. Throws like ReadDataFile.
void ReadDataFileDiscarding(const std::string& path);

// Throws DataFormatError with the message "path:line: problem" (line is 1-based).
[[noreturn]] void ThrowDataFormatError(const std::string& path, std::size_t line,
                                       std::string_view problem);

}  // namespace orvel::tokenizer::jieba
