// The portable SHA-256 compression function: plain C++, on every processor.
#include "crypto/sha256.h"
#include "crypto/sha256_engine.h"

#include "platform/byte_order.h"

alignas(16) const uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

namespace {

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t big_sigma0(uint32_t x) { return rotr(x, 2) ^ rotr(x, 13) ^ rotr(x, 22); }
inline uint32_t big_sigma1(uint32_t x) { return rotr(x, 6) ^ rotr(x, 11) ^ rotr(x, 25); }
inline uint32_t small_sigma0(uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline uint32_t small_sigma1(uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }
inline uint32_t choose(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }

// One round with the working variables passed by role, so that eight
// consecutive rounds rotate the roles instead of moving the values. The
// majority of a, b, c is b ^ ((a ^ b) & (b ^ c)), and this round's b ^ c is
// the previous round's a ^ b: |bc| carries it from round to round.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, i, word)                                      \
  do {                                                                                     \
    const uint32_t t1 = h + big_sigma1(e) + choose(e, f, g) + kSha256RoundConstants[i] + (word); \
    const uint32_t ab = a ^ b;                                                             \
    d += t1;                                                                               \
    h = t1 + big_sigma0(a) + (b ^ (ab & bc));                                              \
    bc = ab;                                                                               \
  } while (0)

// Eight rounds from round |i| on, the word of round t given by W(t).
#define SHA256_EIGHT_ROUNDS(i, W)                          \
  do {                                                     \
    SHA256_ROUND(a, b, c, d, e, f, g, h, i, W(i));         \
    SHA256_ROUND(h, a, b, c, d, e, f, g, i + 1, W(i + 1)); \
    SHA256_ROUND(g, h, a, b, c, d, e, f, i + 2, W(i + 2)); \
    SHA256_ROUND(f, g, h, a, b, c, d, e, i + 3, W(i + 3)); \
    SHA256_ROUND(e, f, g, h, a, b, c, d, i + 4, W(i + 4)); \
    SHA256_ROUND(d, e, f, g, h, a, b, c, i + 5, W(i + 5)); \
    SHA256_ROUND(c, d, e, f, g, h, a, b, i + 6, W(i + 6)); \
    SHA256_ROUND(b, c, d, e, f, g, h, a, i + 7, W(i + 7)); \
  } while (0)

// The message schedule lives in a ring of the last 16 words: rounds 0 to 15
// take the block's words, and from round 16 on each round replaces the word
// of round t - 16 with its own, computed as it is needed.
#define SHA256_BLOCK_WORD(t) w[t]
#define SHA256_NEXT_WORD(t) \
  (w[(t) & 15] += small_sigma1(w[((t) - 2) & 15]) + w[((t) - 7) & 15] + small_sigma0(w[((t) - 15) & 15]))

}  // namespace

void sha256_compress_portable(uint32_t state[8], const unsigned char* data, size_t blocks) {
  uint32_t w[16];
  for (; blocks != 0; --blocks, data += UT_SHA256_BLOCK_LENGTH) {
    for (int t = 0; t < 16; ++t) w[t] = load_be32(data + 4 * t);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    uint32_t bc = b ^ c;
    SHA256_EIGHT_ROUNDS(0, SHA256_BLOCK_WORD);
    SHA256_EIGHT_ROUNDS(8, SHA256_BLOCK_WORD);
    for (int i = 16; i < 64; i += 8) SHA256_EIGHT_ROUNDS(i, SHA256_NEXT_WORD);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#undef SHA256_ROUND
#undef SHA256_EIGHT_ROUNDS
#undef SHA256_BLOCK_WORD
#undef SHA256_NEXT_WORD

