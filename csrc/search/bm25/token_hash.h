#pragma once

#include <cstdint>
#include <string_view>

namespace orvel::typing::text {

// MurmurHash3 x86_32 of `key` (Austin Appleby's public-domain hash): the 32-bit id that
// sparse vector stores such as Pinecone's and Qdrant's clients commonly give a token, so ids
// made here match ids made elsewhere from the same token bytes.
std::uint32_t MurmurHash3X86_32(std::string_view key, std::uint32_t seed = 0);

}  // namespace orvel::typing::text
