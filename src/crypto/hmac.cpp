#include "crypto/hmac.h"

#include <cstring>

void hmac_pad(unsigned char* pad, unsigned char fill, const unsigned char* key, int key_length) {
  std::memset(pad, fill, kHmacPadLength);
  if (key == nullptr || key_length < 1) return;
  const size_t used = static_cast<size_t>(key_length) < kHmacPadLength ? static_cast<size_t>(key_length)
                                                                       : kHmacPadLength;
  for (size_t i = 0; i < used; ++i) pad[i] ^= key[i];
}

HmacStatus hmac_begin(UT_SHA256_CTX* hash, const unsigned char* key, int key_length) {
  unsigned char pad[kHmacPadLength];
  hmac_pad(pad, kHmacInnerPad, key, key_length);
  if (!UT_SHA256_Init(hash)) return HmacStatus::kInitFailed;
  if (!UT_SHA256_Update(hash, pad, sizeof pad)) return HmacStatus::kInnerPadFailed;
  return HmacStatus::kOk;
}

HmacStatus hmac_add(UT_SHA256_CTX* hash, const void* data, size_t length) {
  return UT_SHA256_Update(hash, data, length) ? HmacStatus::kOk : HmacStatus::kDataFailed;
}

HmacStatus hmac_finish(UT_SHA256_CTX* hash, const unsigned char* key, int key_length, unsigned char* mac) {
  unsigned char pad[kHmacPadLength];
  hmac_pad(pad, kHmacOuterPad, key, key_length);
  unsigned char inner[kHmacLength];
  if (!UT_SHA256_Final(hash, inner)) return HmacStatus::kInnerDigestFailed;
  if (!UT_SHA256_Init(hash)) return HmacStatus::kOuterInitFailed;
  if (!UT_SHA256_Update(hash, pad, sizeof pad)) return HmacStatus::kOuterPadFailed;
  if (!UT_SHA256_Update(hash, inner, sizeof inner)) return HmacStatus::kInnerMacFailed;
  if (!UT_SHA256_Final(hash, mac)) return HmacStatus::kFinalFailed;
  return HmacStatus::kOk;
}

HmacStatus hmac_sha256(const unsigned char* key, int key_length, const void* data, size_t length,
                       unsigned char* mac) {
  UT_SHA256_CTX hash;
  HmacStatus status = hmac_begin(&hash, key, key_length);
  if (status == HmacStatus::kOk) status = hmac_add(&hash, data, length);
  if (status == HmacStatus::kOk) status = hmac_finish(&hash, key, key_length, mac);
  return status;
}
