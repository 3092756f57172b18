// The record transform: CBC over CAST-128 with the cipher's decryption as the
// writing direction, keyed and seeded from the archive key.
#include "crypto/record_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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
