#include "crypto/cast128.h"

#include <cstring>

#include "crypto/cast128_rounds.h"
#include "platform/byte_order.h"

namespace {

using cast128::kS5;
using cast128::kS6;
using cast128::kS7;
using cast128::kS8;

// The key schedule works on the 16 key bytes x0..xF and a second set z0..zF,
// kept as four big-endian words each; |b| picks byte n of such a set.
struct KeyWords {
  uint32_t w[4];
  unsigned b(unsigned n) const { return (w[n / 4] >> (24 - 8 * (n % 4))) & 0xff; }
};

// z from x, and x from z: the two mixing steps of the schedule.
void mix_z(KeyWords& z, const KeyWords& x) {
  z.w[0] = x.w[0] ^ kS5[x.b(0xD)] ^ kS6[x.b(0xF)] ^ kS7[x.b(0xC)] ^ kS8[x.b(0xE)] ^ kS7[x.b(0x8)];
  z.w[1] = x.w[2] ^ kS5[z.b(0x0)] ^ kS6[z.b(0x2)] ^ kS7[z.b(0x1)] ^ kS8[z.b(0x3)] ^ kS8[x.b(0xA)];
  z.w[2] = x.w[3] ^ kS5[z.b(0x7)] ^ kS6[z.b(0x6)] ^ kS7[z.b(0x5)] ^ kS8[z.b(0x4)] ^ kS5[x.b(0x9)];
  z.w[3] = x.w[1] ^ kS5[z.b(0xA)] ^ kS6[z.b(0x9)] ^ kS7[z.b(0xB)] ^ kS8[z.b(0x8)] ^ kS6[x.b(0xB)];
}

void mix_x(KeyWords& x, const KeyWords& z) {
  x.w[0] = z.w[2] ^ kS5[z.b(0x5)] ^ kS6[z.b(0x7)] ^ kS7[z.b(0x4)] ^ kS8[z.b(0x6)] ^ kS7[z.b(0x0)];
  x.w[1] = z.w[0] ^ kS5[x.b(0x0)] ^ kS6[x.b(0x2)] ^ kS7[x.b(0x1)] ^ kS8[x.b(0x3)] ^ kS8[z.b(0x2)];
  x.w[2] = z.w[1] ^ kS5[x.b(0x7)] ^ kS6[x.b(0x6)] ^ kS7[x.b(0x5)] ^ kS8[x.b(0x4)] ^ kS5[z.b(0x1)];
  x.w[3] = z.w[3] ^ kS5[x.b(0xA)] ^ kS6[x.b(0x9)] ^ kS7[x.b(0xB)] ^ kS8[x.b(0x8)] ^ kS6[z.b(0x3)];
}

// Four subkeys from one key set |k|; the index rows are the standard's.
void derive(uint32_t* out, const KeyWords& k, const unsigned (&rows)[4][5]) {
  for (int i = 0; i < 4; ++i) {
    const unsigned* r = rows[i];
    out[i] = kS5[k.b(r[0])] ^ kS6[k.b(r[1])] ^ kS7[k.b(r[2])] ^ kS8[k.b(r[3])];
  }
  out[0] ^= kS5[k.b(rows[0][4])];
  out[1] ^= kS6[k.b(rows[1][4])];
  out[2] ^= kS7[k.b(rows[2][4])];
  out[3] ^= kS8[k.b(rows[3][4])];
}

constexpr unsigned kFromZ1[4][5] = {{0x8, 0x9, 0x7, 0x6, 0x2}, {0xA, 0xB, 0x5, 0x4, 0x6},
                                    {0xC, 0xD, 0x3, 0x2, 0x9}, {0xE, 0xF, 0x1, 0x0, 0xC}};
constexpr unsigned kFromX2[4][5] = {{0x3, 0x2, 0xC, 0xD, 0x8}, {0x1, 0x0, 0xE, 0xF, 0xD},
                                    {0x7, 0x6, 0x8, 0x9, 0x3}, {0x5, 0x4, 0xA, 0xB, 0x7}};
constexpr unsigned kFromZ3[4][5] = {{0x3, 0x2, 0xC, 0xD, 0x9}, {0x1, 0x0, 0xE, 0xF, 0xC},
                                    {0x7, 0x6, 0x8, 0x9, 0x2}, {0x5, 0x4, 0xA, 0xB, 0x6}};
constexpr unsigned kFromX4[4][5] = {{0x8, 0x9, 0x7, 0x6, 0x3}, {0xA, 0xB, 0x5, 0x4, 0x7},
                                    {0xC, 0xD, 0x3, 0x2, 0x8}, {0xE, 0xF, 0x1, 0x0, 0xD}};

}  // namespace

void CASTSetKey(a_cast_schedule* schedule, const unsigned char* key, unsigned int length) {
  unsigned char padded[16] = {};
  if (length > sizeof padded) length = sizeof padded;
  if (length != 0) std::memcpy(padded, key, length);

  KeyWords x;
  KeyWords z;
  for (int i = 0; i < 4; ++i) x.w[i] = load_be32(padded + 4 * i);

  // K1..K16 become the masking subkeys, K17..K32 the rotation subkeys; both
  // halves run the same eight steps on the evolving key sets.
  uint32_t k[32];
  for (int half = 0; half < 2; ++half) {
    uint32_t* out = k + 16 * half;
    mix_z(z, x);
    derive(out, z, kFromZ1);
    mix_x(x, z);
    derive(out + 4, x, kFromX2);
    mix_z(z, x);
    derive(out + 8, z, kFromZ3);
    mix_x(x, z);
    derive(out + 12, x, kFromX4);
  }
  for (int i = 0; i < 16; ++i) {
    schedule->mask[i] = k[i];
    schedule->rotate[i] = k[16 + i] & 31;
  }
  schedule->rounds = length <= 10 ? 12 : 16;
}

void CASTEncrypt(const a_cast_schedule* s, unsigned char* block) {
  uint32_t l[1] = {load_be32(block)};
  uint32_t r[1] = {load_be32(block + 4)};
  cast128::encrypt(s, l, r);
  store_be32(block, l[0]);
  store_be32(block + 4, r[0]);
}

void CASTDecrypt(const a_cast_schedule* s, unsigned char* block) {
  uint32_t l = load_be32(block);
  uint32_t r = load_be32(block + 4);
  cast128::decrypt(s, l, r);
  store_be32(block, l);
  store_be32(block + 4, r);
}
