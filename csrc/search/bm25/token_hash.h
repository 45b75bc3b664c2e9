#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvel::typing::text {
namespace murmur_hash3 {

constexpr std::uint32_t kC1 = 0xcc9e2d51;
constexpr std::uint32_t kC2 = 0x1b873593;

inline std::uint32_t RotateLeft(std::uint32_t x, int r) {
  return (x << r) | (x >> (32 - r));
}

// One 4-byte block or the zero-padded tail, scrambled before it is mixed into the state.
inline std::uint32_t Scramble(std::uint32_t k) {
  k *= kC1;
  k = RotateLeft(k, 15);
  return k * kC2;
}

// The final avalanche, so that every input bit affects every output bit.
inline std::uint32_t Finalize(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6b;
  h ^= h >> 13;
  h *= 0xc2b2ae35;
  h ^= h >> 16;
  return h;
}

}  // namespace murmur_hash3

// MurmurHash3 x86_32 of `key` (Austin Appleby's public-domain hash): the 32-bit id that
// sparse vector stores such as Pinecone's and Qdrant's clients commonly give a token, so ids
// made here match ids made elsewhere from the same token bytes. Inline: it runs once per token
// of every encoded document, and its tokens are a few bytes, so a call cost a fair part of it.
inline std::uint32_t MurmurHash3X86_32(std::string_view key, std::uint32_t seed = 0) {
  using murmur_hash3::Finalize;
  using murmur_hash3::RotateLeft;
  using murmur_hash3::Scramble;
  const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
  const std::size_t length = key.size();
  const std::size_t blocks = length / 4;
  std::uint32_t h = seed;
  for (std::size_t i = 0; i < blocks; ++i) {
    // Blocks are read little-endian whatever the machine, so ids agree across platforms.
    const unsigned char* p = bytes + 4 * i;
    const std::uint32_t k =
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    h ^= Scramble(k);
    h = RotateLeft(h, 13);
    h = h * 5 + 0xe6546b64;
  }
  const unsigned char* tail = bytes + 4 * blocks;
  std::uint32_t k = 0;
  switch (length & 3) {
    case 3:
      k ^= static_cast<std::uint32_t>(tail[2]) << 16;
      [[fallthrough]];
    case 2:
      k ^= static_cast<std::uint32_t>(tail[1]) << 8;
      [[fallthrough]];
    case 1:
      k ^= tail[0];
      h ^= Scramble(k);
  }
  h ^= static_cast<std::uint32_t>(length);
  return Finalize(h);
}

}  // namespace orvel::typing::text
