// The record transform: CBC over CAST-128 with the cipher's decryption as the
// writing direction, keyed and seeded from the archive key.
#include "crypto/record_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "support/hex.h"

static const std::string kKey = "kestrel-archive-key-25byt";

// One stream through a fresh state (filled with noise first), in calls of |call| bytes.
static std::string transform(an_encrypt_dir dir, const std::string& key, std::string buf, size_t call = SIZE_MAX) {
  an_encrypt_data state;
  std::memset(&state, 0x5A, sizeof state);
  __Encrypt_init(&state, dir, bytes_of(key), static_cast<int>(key.size()));
  for (size_t at = 0; at < buf.size(); at += call)
    __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(&buf[at]), std::min<unsigned>(call, buf.size() - at));
  return buf;
}

// Three blocks as a writer with |key| stores them, in hex.
static std::string written(const std::string& key) {
  return to_hex(bytes_of(transform(ENCRYPT_WRITING, key, "three blocks of a stream")), 24);
}

// Writing is C(i) = CASTDecrypt(P(i) ^ C(i-1)), where C(-1) is the key's first
// 8 bytes, zero-filled, and only the first 16 key bytes (here of 25) key the
// cipher.
TEST(RecordTransform, WritingIsChainedCastDecryptionSeededFromTheKey) {
  EXPECT_EQ(written(kKey), "50648f8845843017a1cde02056f41f52362f070dcebe86e5");
  EXPECT_EQ(written("\xA1\xB2\xC3"), "f927bc254713e4446b79566eb247beacfd5ad675481d8e1c") << "a 3-byte key";
}

// The chain carries over from one call to the next.
TEST(RecordTransform, ReadingUndoesWritingWhateverTheCallSizes) {
  const std::string plain(8192 * 2 + 40, 'p');
  const std::string stored = transform(ENCRYPT_WRITING, kKey, plain);
  for (const size_t call : {SIZE_MAX, size_t{8}, size_t{8184}}) {
    EXPECT_EQ(transform(ENCRYPT_WRITING, kKey, plain, call), stored) << "calls of " << call;
    EXPECT_EQ(transform(ENCRYPT_READING, kKey, stored, call), plain) << "calls of " << call;
  }
}

// The transform as the format defines it, block by block with the cipher's
// single-block routines: the reference for the interleaved reading pass and
// the register-held chain of the writing one.
static std::string block_by_block(an_encrypt_dir dir, const std::string& key, std::string buf) {
  a_cast_schedule schedule;
  CASTSetKey(&schedule, bytes_of(key), static_cast<unsigned>(std::min<size_t>(key.size(), 16)));
  std::string chain = key.substr(0, 8);
  chain.resize(8, '\0');
  for (size_t at = 0; at < buf.size(); at += 8) {
    auto* block = reinterpret_cast<unsigned char*>(&buf[at]);
    const std::string stored = buf.substr(at, 8);
    if (dir == ENCRYPT_WRITING) {
      for (int i = 0; i < 8; ++i) block[i] ^= static_cast<unsigned char>(chain[i]);
      CASTDecrypt(&schedule, block);
      chain = buf.substr(at, 8);
    } else {
      CASTEncrypt(&schedule, block);
      for (int i = 0; i < 8; ++i) block[i] ^= static_cast<unsigned char>(chain[i]);
      chain = stored;
    }
  }
  return buf;
}

// Random keys (12- and 16-round, longer than the cipher's 16 bytes too),
// random streams, and calls of random whole blocks, some of none, the last
// often a partial block that counts as whole.
TEST(RecordTransform, BothDirectionsMatchTheBlockByBlockDefinitionInCallsOfAnySize) {
  std::mt19937_64 random(7254);
  for (int round = 0; round < 300; ++round) {
    std::string key(1 + random() % 40, '\0');
    for (char& c : key) c = static_cast<char>(random());
    std::string stream(8 * (random() % 400), '\0');
    for (char& c : stream) c = static_cast<char>(random());

    for (const an_encrypt_dir dir : {ENCRYPT_WRITING, ENCRYPT_READING}) {
      std::string buf = stream;
      an_encrypt_data state;
      __Encrypt_init(&state, dir, bytes_of(key), static_cast<int>(key.size()));
      size_t at = 0;
      do {
        size_t call = std::min<size_t>(8 * (random() % 48), buf.size() - at);
        const size_t next = at + call;
        if (next == buf.size() && call >= 8) call -= random() % 8;
        __Ins_Mangle_Record(&state, reinterpret_cast<unsigned char*>(&buf[at]), static_cast<unsigned>(call));
        at = next;
      } while (at < buf.size());
      ASSERT_EQ(buf, block_by_block(dir, key, stream))
          << (dir == ENCRYPT_WRITING ? "writing" : "reading") << ", key of " << key.size() << " bytes, stream of "
          << stream.size() << ", round " << round;
    }
  }
}
