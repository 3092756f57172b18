// The record transform: CBC over CAST-128 with the cipher's decryption as the
// writing direction, keyed and seeded from the archive key.
#include "crypto/record_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/hex.h"

namespace {

const std::string kKey = "kestrel-archive-key-25byt";  // 25 bytes

std::string sample_stream(size_t length) {
  std::string s;
  for (size_t i = 0; i < length; ++i) s += static_cast<char>((i * 131 + 7) ^ (i >> 8));
  return s;
}

// Runs one stream through a fresh state, in calls of the given sizes.
std::string transform(an_encrypt_dir direction, const std::string& key, std::string data,
                      const std::vector<size_t>& calls = {}) {
  an_encrypt_data state;
  __Encrypt_init(&state, direction, bytes_of(key), static_cast<int>(key.size()));
  auto* bytes = reinterpret_cast<unsigned char*>(data.data());
  size_t at = 0;
  for (size_t i = 0; at < data.size(); ++i) {
    const size_t n = calls.empty() ? data.size() : std::min(calls[i % calls.size()], data.size() - at);
    __Ins_Mangle_Record(&state, bytes + at, static_cast<unsigned>(n));
    at += n;
  }
  return data;
}

TEST(RecordTransform, WritingIsChainedCastDecryption) {
  const std::string plain = sample_stream(24);
  const std::string stored = transform(ENCRYPT_WRITING, kKey, plain);

  a_cast_schedule schedule;
  CASTSetKey(&schedule, bytes_of(kKey), 16);
  unsigned char chain[8];
  std::memcpy(chain, kKey.data(), 8);
  for (size_t at = 0; at < plain.size(); at += 8) {
    unsigned char block[8];
    for (int i = 0; i < 8; ++i) block[i] = static_cast<unsigned char>(plain[at + i]) ^ chain[i];
    CASTDecrypt(&schedule, block);
    EXPECT_EQ(to_hex(block, 8), to_hex(bytes_of(stored) + at, 8)) << "block at " << at;
    std::memcpy(chain, block, 8);
  }
}

TEST(RecordTransform, ReadingUndoesWriting) {
  for (const std::string& key : {kKey, std::string("k"), std::string("exactly16bytes!!")}) {
    const std::string plain = sample_stream(8192 + 64);
    const std::string stored = transform(ENCRYPT_WRITING, key, plain);
    EXPECT_NE(stored, plain);
    EXPECT_EQ(transform(ENCRYPT_READING, key, stored), plain) << key.size() << "-byte key";
  }
}

TEST(RecordTransform, CallBoundariesDoNotMatter) {
  const std::string plain = sample_stream(8192 * 2 + 40);
  const std::string whole = transform(ENCRYPT_WRITING, kKey, plain);
  for (const std::vector<size_t>& calls : {std::vector<size_t>{8}, {16, 8, 24}, {8192}, {40, 8184, 808}}) {
    EXPECT_EQ(transform(ENCRYPT_WRITING, kKey, plain, calls), whole);
    EXPECT_EQ(transform(ENCRYPT_READING, kKey, whole, calls), plain);
  }
}

TEST(RecordTransform, OnlyTheFirst16KeyBytesKeyTheCipher) {
  const std::string plain = sample_stream(256);
  EXPECT_EQ(transform(ENCRYPT_WRITING, kKey, plain), transform(ENCRYPT_WRITING, kKey.substr(0, 16), plain));
  EXPECT_EQ(transform(ENCRYPT_WRITING, kKey, plain), transform(ENCRYPT_WRITING, kKey.substr(0, 17), plain));
  std::string changed = kKey;
  changed[15] ^= 1;
  EXPECT_NE(transform(ENCRYPT_WRITING, changed, plain), transform(ENCRYPT_WRITING, kKey, plain));
}

TEST(RecordTransform, SetUpFromTheKey) {
  const unsigned char key[] = {0xA1, 0xB2, 0xC3};
  an_encrypt_data state;
  std::memset(&state, 0x5A, sizeof state);
  __Encrypt_init(&state, ENCRYPT_READING, key, 3);
  EXPECT_EQ(state.direction, ENCRYPT_READING);
  EXPECT_EQ(state.key, key);
  EXPECT_EQ(state.key_length, 3);
  EXPECT_EQ(to_hex(state.chain, 8), "a1b2c30000000000") << "a short key leaves the rest of the IV zero";
  a_cast_schedule expected;
  CASTSetKey(&expected, key, 3);
  EXPECT_EQ(std::memcmp(&state.schedule, &expected, sizeof expected), 0);
  EXPECT_EQ(state.schedule.rounds, 12u);

  __Encrypt_init(&state, ENCRYPT_WRITING, bytes_of(kKey), static_cast<int>(kKey.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(state.chain), 8), kKey.substr(0, 8));
  EXPECT_EQ(state.schedule.rounds, 16u);
}

TEST(RecordTransform, NoDirectionChangesNothingAndAPartialBlockIsWhole) {
  const std::string plain = sample_stream(64);
  EXPECT_EQ(transform(ENCRYPT_NONE, kKey, plain), plain);

  // A 13-byte call transforms 16 bytes, just as a 16-byte call does.
  std::string padded = plain.substr(0, 16);
  an_encrypt_data state;
  __Encrypt_init(&state, ENCRYPT_WRITING, bytes_of(kKey), static_cast<int>(kKey.size()));
  __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(padded.data()), 13);
  EXPECT_EQ(padded, transform(ENCRYPT_WRITING, kKey, plain.substr(0, 16)));
}

}  // namespace
