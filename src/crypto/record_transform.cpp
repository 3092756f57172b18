#include "crypto/record_transform.h"

#include <cstring>

#include "crypto/cast128_rounds.h"
#include "platform/byte_order.h"

namespace {

constexpr unsigned kBlock = 8;
constexpr int kCipherKeyLength = 16;

// Blocks deciphered at once in the reading direction.
constexpr int kReadingLanes = 8;

// Writing: each block is chained to the one before, so the blocks go one by
// one, with the chaining value kept in registers from block to block.
void write_blocks(an_encrypt_data* data, unsigned char* p, size_t blocks) {
  uint32_t chain_l = load_be32(data->chain);
  uint32_t chain_r = load_be32(data->chain + 4);
  for (; blocks != 0; --blocks, p += kBlock) {
    chain_l ^= load_be32(p);
    chain_r ^= load_be32(p + 4);
    cast128::decrypt(&data->schedule, chain_l, chain_r);
    store_be32(p, chain_l);
    store_be32(p + 4, chain_r);
  }
  store_be32(data->chain, chain_l);
  store_be32(data->chain + 4, chain_r);
}

// Reading: every block's cipher call depends on the stored bytes alone, so
// kReadingLanes blocks go through the rounds together; only the XOR with the
// block before is chained.
void read_blocks(an_encrypt_data* data, unsigned char* p, size_t blocks) {
  uint32_t chain_l = load_be32(data->chain);
  uint32_t chain_r = load_be32(data->chain + 4);
  for (; blocks >= kReadingLanes; blocks -= kReadingLanes, p += kReadingLanes * kBlock) {
    uint32_t l[kReadingLanes];
    uint32_t r[kReadingLanes];
#pragma GCC unroll 8
    for (int k = 0; k < kReadingLanes; ++k) {
      l[k] = load_be32(p + kBlock * k);
      r[k] = load_be32(p + kBlock * k + 4);
    }
    cast128::encrypt(&data->schedule, l, r);
    // Each stored block is read again, just before its place is overwritten,
    // to chain the next; holding it through the rounds would spill registers.
#pragma GCC unroll 8
    for (int k = 0; k < kReadingLanes; ++k) {
      unsigned char* block = p + kBlock * k;
      const uint32_t stored_l = load_be32(block);
      const uint32_t stored_r = load_be32(block + 4);
      store_be32(block, l[k] ^ chain_l);
      store_be32(block + 4, r[k] ^ chain_r);
      chain_l = stored_l;
      chain_r = stored_r;
    }
  }
  for (; blocks != 0; --blocks, p += kBlock) {
    uint32_t l[1] = {load_be32(p)};
    uint32_t r[1] = {load_be32(p + 4)};
    const uint32_t stored_l = l[0];
    const uint32_t stored_r = r[0];
    cast128::encrypt(&data->schedule, l, r);
    store_be32(p, l[0] ^ chain_l);
    store_be32(p + 4, r[0] ^ chain_r);
    chain_l = stored_l;
    chain_r = stored_r;
  }
  store_be32(data->chain, chain_l);
  store_be32(data->chain + 4, chain_r);
}

}  // namespace

void __Encrypt_init(an_encrypt_data* data, an_encrypt_dir direction, const unsigned char* key, int key_length) {
  data->direction = direction;
  data->key = key;
  data->key_length = key_length;

  std::memset(data->chain, 0, sizeof data->chain);
  if (key != nullptr && key_length > 0) {
    std::memcpy(data->chain, key, key_length < static_cast<int>(kBlock) ? key_length : kBlock);
  }
  int cipher_length = key_length > kCipherKeyLength ? kCipherKeyLength : key_length;
  if (key == nullptr || cipher_length < 0) cipher_length = 0;
  CASTSetKey(&data->schedule, key, static_cast<unsigned>(cipher_length));
}

void __Ins_Mangle_Record(an_encrypt_data* data, unsigned char* buffer, unsigned int length) {
  // A trailing partial block counts as a whole one.
  const size_t blocks = (size_t{length} + kBlock - 1) / kBlock;
  switch (data->direction) {
    case ENCRYPT_WRITING:
      write_blocks(data, buffer, blocks);
      break;
    case ENCRYPT_READING:
      read_blocks(data, buffer, blocks);
      break;
    case ENCRYPT_NONE:
      break;
  }
}
