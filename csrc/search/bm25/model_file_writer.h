#pragma once

#include <cstdio>

#include "search/bm25/bm25.h"

namespace orvel::typing::text {

// Writes `model` as the model file's JSON text to `file` and closes it. The bytes are those the
// JSON writer gives for the model's tree, produced straight from the model: a tree of JSON
// values would cost about 100 bytes per token. False when any write, the flush or the close
// failed.
bool write_model_file(const BM25& model, std::FILE* file);

}  // namespace orvel::typing::text
