// Byte order: the only place that reverses or assembles multi-byte values.
//
// Archives are written in the writer's native byte order; a reader that
// finds the other order reverses every numeric field. The published
// algorithms (SHA-256, CAST-128) read and write big-endian words; zstd's
// frames are little-endian.
#pragma once

#include <cstdint>

inline uint64_t reverse_bytes(uint64_t v) { return __builtin_bswap64(v); }
inline uint32_t reverse_bytes(uint32_t v) { return __builtin_bswap32(v); }

template <typename T>
inline void reverse_in_place(T& v) {
  v = reverse_bytes(v);
}

// Bytes are widened to 32 bits before shifting, so no shift reaches an int's
// sign bit.
inline uint32_t load_be32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store_be32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

inline uint32_t load_le32(const unsigned char* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline uint32_t load_le24(const unsigned char* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16); }

inline void store_le32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
