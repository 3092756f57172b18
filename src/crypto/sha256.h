// SHA-256 (FIPS 180-4), incremental.
//
// Every stored byte of an archive passes through here on install (the per-file
// and whole-archive codes), so the compression function is written for speed.
// Each routine returns nonzero on success and 0 on failure: a null context,
// null data with a nonzero length, or a message longer than 2^64 - 1 bits.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t UT_SHA256_DIGEST_LENGTH = 32;
constexpr size_t UT_SHA256_BLOCK_LENGTH = 64;

struct UT_SHA256_CTX {
  uint32_t state[8];
  uint64_t length;                              // message bytes added so far
  unsigned char block[UT_SHA256_BLOCK_LENGTH];  // partial block awaiting data
  uint32_t used;                                // bytes of |block| in use
};

int UT_SHA256_Init(UT_SHA256_CTX* ctx);
int UT_SHA256_Update(UT_SHA256_CTX* ctx, const void* data, size_t length);
// Writes the 32-byte digest to |digest|; the context must be started again
// with UT_SHA256_Init before further use.
int UT_SHA256_Final(UT_SHA256_CTX* ctx, unsigned char* digest);
