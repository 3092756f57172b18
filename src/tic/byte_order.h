// Byte order of archive records.
//
// Archives are written in the writer's native byte order; a reader that
// finds the other order reverses every numeric field. These are the only
// byte-reversal primitives of the archive module.
#pragma once

#include <cstdint>

inline uint64_t reverse_bytes(uint64_t v) { return __builtin_bswap64(v); }
inline uint32_t reverse_bytes(uint32_t v) { return __builtin_bswap32(v); }

template <typename T>
inline void reverse_in_place(T& v) {
  v = reverse_bytes(v);
}
