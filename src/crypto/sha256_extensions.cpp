// SHA-256 on the x86-64 SHA extensions.
//
// The instructions are enabled for this one function only (a target
// attribute), so the program keeps its baseline instruction set and runs on
// processors without them; sha256_extensions_supported() asks cpuid first.
#include "crypto/sha256_engine.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

namespace {

constexpr unsigned kLeaf1SSSE3 = 1u << 9;   // ecx
constexpr unsigned kLeaf1SSE41 = 1u << 19;  // ecx
constexpr unsigned kLeaf7SHA = 1u << 29;    // ebx, subleaf 0

}  // namespace

bool sha256_extensions_supported() {
  unsigned eax, ebx, ecx, edx;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  if ((ecx & kLeaf1SSSE3) == 0 || (ecx & kLeaf1SSE41) == 0) return false;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ebx & kLeaf7SHA) != 0;
}

// Four rounds on the message words in |w| (rounds 4j to 4j+3). The state is
// kept as the instructions want it: |abef| holds A, B, E, F and |cdgh| holds
// C, D, G, H, from the highest 32-bit lane down. Each sha256rnds2 runs two
// rounds on the two low lanes of its message operand and returns the new A,
// B, E, F; the old ones are then the C, D, G, H of the next two rounds.
#define SHA256_FOUR_ROUNDS(j, w)                                                                            \
  do {                                                                                                      \
    __m128i wk = _mm_add_epi32(w, _mm_load_si128(reinterpret_cast<const __m128i*>(kSha256RoundConstants) + (j))); \
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                                           \
    wk = _mm_shuffle_epi32(wk, 0x0E);                                                                       \
    abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);                                                           \
  } while (0)

// Completes the schedule vector |next| (already holding W(t-16) + s0(W(t-15))
// from sha256msg1) from the two vectors before it: adds W(t-7) and finishes
// with s1(W(t-2)).
#define SHA256_SCHEDULE_NEXT(next, cur, prev) \
  next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4)), cur)

__attribute__((target("sha,sse4.1"))) void sha256_compress_extensions(uint32_t state[8], const unsigned char* data,
                                                                      size_t blocks) {
  // Big-endian message words: reverse the bytes of every 32-bit lane.
  const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

  // From A..D and E..H in memory order to the lanes the instructions use
  // (vectors are named by their lanes from the highest down).
  const __m128i cdab = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; blocks != 0; --blocks, data += 64) {
    const __m128i saved_abef = abef;
    const __m128i saved_cdgh = cdgh;
    const auto* in = reinterpret_cast<const __m128i*>(data);

    // Rounds 0 to 15 take the block's words; from round 16 on, each vector of
    // four words is made from the four vectors before it, the sha256msg1 half
    // of it once the vector after the oldest one has been loaded.
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byte_swap);
    SHA256_FOUR_ROUNDS(0, m0);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byte_swap);
    SHA256_FOUR_ROUNDS(1, m1);
    m0 = _mm_sha256msg1_epu32(m0, m1);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byte_swap);
    SHA256_FOUR_ROUNDS(2, m2);
    m1 = _mm_sha256msg1_epu32(m1, m2);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byte_swap);
    SHA256_FOUR_ROUNDS(3, m3);
    SHA256_SCHEDULE_NEXT(m0, m3, m2);
    m2 = _mm_sha256msg1_epu32(m2, m3);

    // Vectors 4 to 15 rotate through m0..m3: vector j is m(j % 4).
    for (int j = 4; j < 16; j += 4) {
      SHA256_FOUR_ROUNDS(j, m0);
      if (j + 1 < 16) SHA256_SCHEDULE_NEXT(m1, m0, m3);
      if (j <= 12) m3 = _mm_sha256msg1_epu32(m3, m0);
      SHA256_FOUR_ROUNDS(j + 1, m1);
      if (j + 2 < 16) SHA256_SCHEDULE_NEXT(m2, m1, m0);
      if (j + 1 <= 12) m0 = _mm_sha256msg1_epu32(m0, m1);
      SHA256_FOUR_ROUNDS(j + 2, m2);
      if (j + 3 < 16) SHA256_SCHEDULE_NEXT(m3, m2, m1);
      if (j + 2 <= 12) m1 = _mm_sha256msg1_epu32(m1, m2);
      SHA256_FOUR_ROUNDS(j + 3, m3);
      if (j + 4 < 16) SHA256_SCHEDULE_NEXT(m0, m3, m2);
      if (j + 3 <= 12) m2 = _mm_sha256msg1_epu32(m2, m3);
    }

    abef = _mm_add_epi32(abef, saved_abef);
    cdgh = _mm_add_epi32(cdgh, saved_cdgh);
  }

  // Back to A..D and E..H.
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#undef SHA256_FOUR_ROUNDS
#undef SHA256_SCHEDULE_NEXT

#else  // not x86-64

bool sha256_extensions_supported() { return false; }

void sha256_compress_extensions(uint32_t state[8], const unsigned char* data, size_t blocks) {
  sha256_compress_portable(state, data, blocks);
}

#endif
