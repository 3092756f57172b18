// The record transform: CBC over CAST-128 with the cipher's decryption as the
// writing direction, keyed and seeded from the archive key.
#include "crypto/record_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/hex.h"

namespace {

const std::string kKey = "kestrel-archive-key-25byt";

std::string sample_stream(size_t length) {
  std::string s;
  for (size_t i = 0; i < length; ++i) s += static_cast<char>((i * 131 + 7) ^ (i >> 8));
  return s;
}

// One stream through a fresh state, in calls of |call| bytes.
std::string transform(an_encrypt_dir direction, const std::string& key, std::string data, size_t call = SIZE_MAX) {
  an_encrypt_data state;
  __Encrypt_init(&state, direction, bytes_of(key), static_cast<int>(key.size()));
  for (size_t at = 0; at < data.size(); at += call) {
    const size_t n = std::min(call, data.size() - at);
    __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(data.data()) + at, static_cast<unsigned>(n));
  }
  return data;
}

TEST(RecordTransform, WritingIsChainedCastDecryption) {
  const std::string plain = sample_stream(24);
  const std::string stored = transform(ENCRYPT_WRITING, kKey, plain);
  a_cast_schedule schedule;
  CASTSetKey(&schedule, bytes_of(kKey), 16);
  std::string chain = kKey.substr(0, 8);
  for (size_t at = 0; at < plain.size(); at += 8) {
    unsigned char block[8];
    for (int i = 0; i < 8; ++i) block[i] = static_cast<unsigned char>(plain[at + i] ^ chain[i]);
    CASTDecrypt(&schedule, block);
    chain.assign(reinterpret_cast<char*>(block), 8);
    EXPECT_EQ(chain, stored.substr(at, 8)) << "block at " << at;
  }
}

TEST(RecordTransform, ReadingUndoesWritingWhateverTheCallSizes) {
  const std::string plain = sample_stream(8192 * 2 + 40);
  for (const std::string& key : {kKey, std::string("k")}) {
    const std::string stored = transform(ENCRYPT_WRITING, key, plain);
    EXPECT_NE(stored, plain);
    EXPECT_EQ(transform(ENCRYPT_READING, key, stored), plain) << key.size() << "-byte key";
    for (size_t call : {8, 24, 8192, 8184}) {
      EXPECT_EQ(transform(ENCRYPT_WRITING, key, plain, call), stored) << "calls of " << call;
      EXPECT_EQ(transform(ENCRYPT_READING, key, stored, call), plain) << "calls of " << call;
    }
  }
  EXPECT_EQ(transform(ENCRYPT_NONE, kKey, plain), plain);
}

TEST(RecordTransform, OnlyTheFirst16KeyBytesKeyTheCipher) {
  const std::string plain = sample_stream(256);
  const std::string stored = transform(ENCRYPT_WRITING, kKey, plain);
  EXPECT_EQ(stored, transform(ENCRYPT_WRITING, kKey.substr(0, 16), plain));
  std::string changed = kKey;
  changed[15] ^= 1;
  EXPECT_NE(stored, transform(ENCRYPT_WRITING, changed, plain));
}

TEST(RecordTransform, ShortKeyGivesAZeroFilledInitialisationVector) {
  const unsigned char key[] = {0xA1, 0xB2, 0xC3};
  an_encrypt_data state;
  std::memset(&state, 0x5A, sizeof state);
  __Encrypt_init(&state, ENCRYPT_READING, key, 3);
  EXPECT_EQ(to_hex(state.chain, 8), "a1b2c30000000000");
  EXPECT_EQ(state.direction, ENCRYPT_READING);
  EXPECT_EQ(state.key, key);
  EXPECT_EQ(state.key_length, 3);
  EXPECT_EQ(state.schedule.rounds, 12u);
}

// A trailing partial block is transformed whole: 13 bytes act as 16.
TEST(RecordTransform, PartialBlockIsTransformedWhole) {
  std::string buffer = sample_stream(16);
  const std::string expected = transform(ENCRYPT_WRITING, kKey, buffer);
  an_encrypt_data state;
  __Encrypt_init(&state, ENCRYPT_WRITING, bytes_of(kKey), static_cast<int>(kKey.size()));
  __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(buffer.data()), 13);
  EXPECT_EQ(buffer, expected);
}

}  // namespace
