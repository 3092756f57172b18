// The rounds of CAST-128 on blocks held as two 32-bit halves, inline so that
// the block routines (cast128.cpp) and the chained loops of the record
// transform keep their blocks and chaining values in registers.
//
// A block's halves are the big-endian words of its bytes 0-3 (l) and 4-7
// (r). Each routine leaves the halves of the output block in l and r.
#pragma once

#include <cstdint>

#include "crypto/cast128.h"
#include "crypto/cast128_sboxes.h"

namespace cast128 {

// The rounds must become part of their callers' loops: called, the blocks'
// halves would pass through memory.
#define CAST_INLINE inline __attribute__((always_inline))

CAST_INLINE uint32_t rotl(uint32_t x, uint32_t n) { return (x << n) | (x >> ((32 - n) & 31)); }

// S1 to S4 side by side, so that the rounds reach all four from one base
// address: four separate tables would each hold a register in
// position-independent code, and the interleaved rounds need every register.
struct RoundBoxes {
  uint32_t s[4][256];
};

constexpr RoundBoxes round_boxes() {
  RoundBoxes boxes{};
  for (int i = 0; i < 256; ++i) {
    boxes.s[0][i] = kS1[i];
    boxes.s[1][i] = kS2[i];
    boxes.s[2][i] = kS3[i];
    boxes.s[3][i] = kS4[i];
  }
  return boxes;
}

alignas(64) inline constexpr RoundBoxes kRoundBoxes = round_boxes();

// The S-box words of a round: box n takes byte n of i = rotl(x, kr), byte 1
// being the most significant.
CAST_INLINE uint32_t s1(uint32_t i) { return kRoundBoxes.s[0][i >> 24]; }
CAST_INLINE uint32_t s3(uint32_t i) { return kRoundBoxes.s[2][(i >> 8) & 0xff]; }
CAST_INLINE uint32_t s4(uint32_t i) { return kRoundBoxes.s[3][i & 0xff]; }

// Byte 2 takes two operations to extract, one more than the others. A lone
// block, whose rounds wait on each lookup, takes it instead as byte 1 of a
// second rotation, rotl(x, kr + 8), that runs beside the first; interleaved
// blocks, whose speed is the number of operations, extract it.
template <bool kLone>
CAST_INLINE uint32_t s2(uint32_t x, uint32_t i, uint32_t kr) {
  if (kLone) return kRoundBoxes.s[1][rotl(x, (kr + 8) & 31) >> 24];
  return kRoundBoxes.s[1][(i >> 16) & 0xff];
}

// Keeps the compiler from folding a partial result back into one chain of
// operations.
CAST_INLINE uint32_t as_computed(uint32_t x) {
  asm("" : "+r"(x));
  return x;
}

// The three round functions; the rounds use them in the order 1, 2, 3, 1, ...
// The S-box words are combined in a tree where the order of operations
// allows, so that fewer operations wait for the last lookup: f1's
// ((S1 ^ S2) - S3) + S4 is computed as (S1 ^ S2) + (S4 - S3), f2's
// ((S1 - S2) + S3) ^ S4 as ((S1 + S3) - S2) ^ S4 (the same sums modulo 2^32).
template <bool kLone>
CAST_INLINE uint32_t f1(uint32_t d, uint32_t km, uint32_t kr) {
  const uint32_t x = km + d;
  const uint32_t i = rotl(x, kr);
  return as_computed(s1(i) ^ s2<kLone>(x, i, kr)) + as_computed(s4(i) - s3(i));
}

template <bool kLone>
CAST_INLINE uint32_t f2(uint32_t d, uint32_t km, uint32_t kr) {
  const uint32_t x = km ^ d;
  const uint32_t i = rotl(x, kr);
  return (as_computed(s1(i) + s3(i)) - s2<kLone>(x, i, kr)) ^ s4(i);
}

template <bool kLone>
CAST_INLINE uint32_t f3(uint32_t d, uint32_t km, uint32_t kr) {
  const uint32_t x = km - d;
  const uint32_t i = rotl(x, kr);
  return ((s1(i) + s2<kLone>(x, i, kr)) ^ s3(i)) - s4(i);
}

// Round i (0-based) XORs f of one half into the other, for each of the N
// blocks, with round i's subkeys read once for all of them. With the roles
// alternating, after an even number of rounds |l| and |r| hold L and R of
// the last round; the output block is (R, L).
#define CAST_ROUNDS(f, into, from, i)                                                          \
  do {                                                                                         \
    const uint32_t km = s->mask[i];                                                            \
    const uint32_t kr = s->rotate[i];                                                          \
    _Pragma("GCC unroll 8") for (int k = 0; k < N; ++k) into[k] ^= f<N == 1>(from[k], km, kr); \
  } while (0)

// Encrypts N independent blocks. Their rounds are interleaved: every round
// of one block waits for the S-box words of the round before, and the other
// blocks' lookups fill that wait.
template <int N>
CAST_INLINE void encrypt(const a_cast_schedule* s, uint32_t (&l)[N], uint32_t (&r)[N]) {
  CAST_ROUNDS(f1, l, r, 0);
  CAST_ROUNDS(f2, r, l, 1);
  CAST_ROUNDS(f3, l, r, 2);
  CAST_ROUNDS(f1, r, l, 3);
  CAST_ROUNDS(f2, l, r, 4);
  CAST_ROUNDS(f3, r, l, 5);
  CAST_ROUNDS(f1, l, r, 6);
  CAST_ROUNDS(f2, r, l, 7);
  CAST_ROUNDS(f3, l, r, 8);
  CAST_ROUNDS(f1, r, l, 9);
  CAST_ROUNDS(f2, l, r, 10);
  CAST_ROUNDS(f3, r, l, 11);
  if (s->rounds > 12) {
    CAST_ROUNDS(f1, l, r, 12);
    CAST_ROUNDS(f2, r, l, 13);
    CAST_ROUNDS(f3, l, r, 14);
    CAST_ROUNDS(f1, r, l, 15);
  }
  _Pragma("GCC unroll 8") for (int k = 0; k < N; ++k) {
    const uint32_t left = r[k];
    r[k] = l[k];
    l[k] = left;
  }
}

// Decrypts one block: the same rounds with the subkeys taken last to first.
CAST_INLINE void decrypt(const a_cast_schedule* s, uint32_t& left, uint32_t& right) {
  constexpr int N = 1;
  uint32_t l[N] = {left};
  uint32_t r[N] = {right};
  if (s->rounds > 12) {
    CAST_ROUNDS(f1, l, r, 15);
    CAST_ROUNDS(f3, r, l, 14);
    CAST_ROUNDS(f2, l, r, 13);
    CAST_ROUNDS(f1, r, l, 12);
  }
  CAST_ROUNDS(f3, l, r, 11);
  CAST_ROUNDS(f2, r, l, 10);
  CAST_ROUNDS(f1, l, r, 9);
  CAST_ROUNDS(f3, r, l, 8);
  CAST_ROUNDS(f2, l, r, 7);
  CAST_ROUNDS(f1, r, l, 6);
  CAST_ROUNDS(f3, l, r, 5);
  CAST_ROUNDS(f2, r, l, 4);
  CAST_ROUNDS(f1, l, r, 3);
  CAST_ROUNDS(f3, r, l, 2);
  CAST_ROUNDS(f2, l, r, 1);
  CAST_ROUNDS(f1, r, l, 0);
  left = r[0];
  right = l[0];
}

#undef CAST_ROUNDS
#undef CAST_INLINE

}  // namespace cast128
