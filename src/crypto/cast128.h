// The CAST-128 block cipher (RFC 2144).
//
// A block is 8 bytes read as two big-endian 32-bit halves, left half first,
// and is transformed in place. Keys of 5 to 16 bytes are meant; a shorter key
// is padded with zero bytes to 16, a longer one is cut to 16. Keys of at most
// 10 bytes run 12 rounds, longer keys 16.
#pragma once

#include <cstddef>
#include <cstdint>

struct a_cast_schedule {
  uint32_t rounds;      // 12 or 16
  uint32_t mask[16];    // Km1..Km16
  uint32_t rotate[16];  // Kr1..Kr16, already reduced to 5 bits
};

static_assert(sizeof(a_cast_schedule) == 132, "round count and 32 subkeys of 32 bits");
static_assert(offsetof(a_cast_schedule, mask) == 4);
static_assert(offsetof(a_cast_schedule, rotate) == 68);

void CASTSetKey(a_cast_schedule* schedule, const unsigned char* key, unsigned int length);
void CASTEncrypt(const a_cast_schedule* schedule, unsigned char* block);
void CASTDecrypt(const a_cast_schedule* schedule, unsigned char* block);
