#include <stdexcept>

#include "search/bm25/bm25.h"

// Placeholder until the JSON model file lands.
namespace orvel::typing::text {

void BM25::dump(const std::string&) const {
  throw std::runtime_error("dump is not available yet");
}
void BM25::load(const std::string&) {
  throw std::runtime_error("load is not available yet");
}

}  // namespace orvel::typing::text
