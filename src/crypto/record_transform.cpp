#include "crypto/record_transform.h"

#include <cstring>

namespace {

constexpr unsigned kBlock = 8;
constexpr int kCipherKeyLength = 16;

inline void xor_block(unsigned char* into, const unsigned char* from) {
  uint64_t a;
  uint64_t b;
  std::memcpy(&a, into, kBlock);
  std::memcpy(&b, from, kBlock);
  a ^= b;
  std::memcpy(into, &a, kBlock);
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
  switch (data->direction) {
    case ENCRYPT_WRITING:
      for (size_t at = 0; at < length; at += kBlock) {
        unsigned char* block = buffer + at;
        xor_block(block, data->chain);
        CASTDecrypt(&data->schedule, block);
        std::memcpy(data->chain, block, kBlock);
      }
      break;
    case ENCRYPT_READING:
      for (size_t at = 0; at < length; at += kBlock) {
        unsigned char* block = buffer + at;
        unsigned char stored[kBlock];
        std::memcpy(stored, block, kBlock);
        CASTEncrypt(&data->schedule, block);
        xor_block(block, data->chain);
        std::memcpy(data->chain, stored, kBlock);
      }
      break;
    case ENCRYPT_NONE:
      break;
  }
}
