#include "crypto/sha256.h"

#include <algorithm>
#include <cstring>

#include "crypto/sha256_engine.h"
#include "platform/byte_order.h"

namespace {

constexpr uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// A message of 2^64 bits or more cannot have its length encoded.
constexpr uint64_t kMaxMessageBytes = (uint64_t{1} << 61) - 1;

}  // namespace

int UT_SHA256_Init(UT_SHA256_CTX* ctx) {
  if (ctx == nullptr) return 0;
  std::memcpy(ctx->state, kInitialState, sizeof ctx->state);
  ctx->length = 0;
  ctx->used = 0;
  return 1;
}

int UT_SHA256_Update(UT_SHA256_CTX* ctx, const void* data, size_t length) {
  if (ctx == nullptr || (data == nullptr && length != 0)) return 0;
  if (length > kMaxMessageBytes - ctx->length) return 0;
  ctx->length += length;
  const Sha256Compress compress = sha256_compress();
  const auto* in = static_cast<const unsigned char*>(data);

  if (ctx->used != 0) {
    const size_t take = std::min<size_t>(length, UT_SHA256_BLOCK_LENGTH - ctx->used);
    std::memcpy(ctx->block + ctx->used, in, take);
    ctx->used += static_cast<uint32_t>(take);
    in += take;
    length -= take;
    if (ctx->used < UT_SHA256_BLOCK_LENGTH) return 1;
    compress(ctx->state, ctx->block, 1);
    ctx->used = 0;
  }
  // Whole blocks are hashed straight from the caller's buffer.
  const size_t blocks = length / UT_SHA256_BLOCK_LENGTH;
  if (blocks != 0) {
    compress(ctx->state, in, blocks);
    in += blocks * UT_SHA256_BLOCK_LENGTH;
    length -= blocks * UT_SHA256_BLOCK_LENGTH;
  }
  if (length != 0) {
    std::memcpy(ctx->block, in, length);
    ctx->used = static_cast<uint32_t>(length);
  }
  return 1;
}

int UT_SHA256_Final(UT_SHA256_CTX* ctx, unsigned char* digest) {
  if (ctx == nullptr || digest == nullptr) return 0;
  // Padding: one 1 bit, zeros up to 56 bytes into a block, then the message
  // length in bits as a big-endian 64-bit number.
  const uint64_t bits = ctx->length * 8;
  ctx->block[ctx->used++] = 0x80;
  if (ctx->used > UT_SHA256_BLOCK_LENGTH - 8) {
    std::memset(ctx->block + ctx->used, 0, UT_SHA256_BLOCK_LENGTH - ctx->used);
    sha256_compress()(ctx->state, ctx->block, 1);
    ctx->used = 0;
  }
  std::memset(ctx->block + ctx->used, 0, UT_SHA256_BLOCK_LENGTH - 8 - ctx->used);
  store_be32(ctx->block + 56, static_cast<uint32_t>(bits >> 32));
  store_be32(ctx->block + 60, static_cast<uint32_t>(bits));
  sha256_compress()(ctx->state, ctx->block, 1);
  for (int i = 0; i < 8; ++i) store_be32(digest + 4 * i, ctx->state[i]);
  // Nothing of the message stays behind in the context.
  std::memset(ctx, 0, sizeof *ctx);
  return 1;
}
