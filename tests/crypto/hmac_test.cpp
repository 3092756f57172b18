// The archives' HMAC: standard HMAC-SHA-256 (RFC 4231) for keys of at most
// 64 bytes; a longer key is cut to its first 64 bytes instead of hashed.
#include "crypto/hmac.h"

#include <gtest/gtest.h>

#include <string>

#include "support/hex.h"

namespace {

std::string mac_of(const std::string& key, const std::string& message) {
  unsigned char mac[kHmacLength];
  EXPECT_EQ(hmac_sha256(bytes_of(key), static_cast<int>(key.size()), message.data(), message.size(), mac),
            HmacStatus::kOk);
  return to_hex(mac, sizeof mac);
}

TEST(Hmac, StandardResultsForKeysUpToABlock) {
  EXPECT_EQ(mac_of(std::string(20, '\x0b'), "Hi There"),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(mac_of("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(mac_of(std::string(20, '\xaa'), std::string(50, '\xdd')),
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe");
  EXPECT_EQ(mac_of(from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd')),
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b");
  EXPECT_EQ(mac_of(std::string(20, '\x0c'), "Test With Truncation").substr(0, 32),
            "a3b6167473100ee06e0c796c2955552b");
  // No key is the empty key.
  EXPECT_EQ(mac_of("", "Hi There"), "e48411262715c8370cd5e7bf8e82bef53bd53712d007f3429351843b77c7bb9b");
}

TEST(Hmac, LongerKeysAreCutToTheirFirst64Bytes) {
  const std::string key(131, '\xaa');
  const std::string message = "Test Using Larger Than Block-Size Key - Hash Key First";
  // A 64-byte key is used as it is by any HMAC; RFC 2104 would hash the
  // 131-byte one instead (RFC 4231 test case 6).
  EXPECT_EQ(mac_of(key, message), "84332a7580ed3cf75de83c644c8d2c1c262ad90e0190e5c5ae4b82b2102e8e75");
  EXPECT_NE(mac_of(key, message), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
  std::string changed = key;
  changed[64] = 'x';
  EXPECT_EQ(mac_of(changed, message), mac_of(key, message));
  changed[63] = 'x';
  EXPECT_NE(mac_of(changed, message), mac_of(key, message));
}

// The stream callbacks feed a code block by block across calls.
TEST(Hmac, IncrementalEqualsOneShot) {
  const std::string key = "a stream key";
  std::string message;
  for (int i = 0; i < 20000; ++i) message += static_cast<char>(i * 31);

  UT_SHA256_CTX hash;
  ASSERT_EQ(hmac_begin(&hash, bytes_of(key), static_cast<int>(key.size())), HmacStatus::kOk);
  for (size_t at = 0; at < message.size(); at += 8192) {
    ASSERT_EQ(hmac_add(&hash, message.data() + at, std::min<size_t>(8192, message.size() - at)), HmacStatus::kOk);
  }
  unsigned char mac[kHmacLength];
  ASSERT_EQ(hmac_finish(&hash, bytes_of(key), static_cast<int>(key.size()), mac), HmacStatus::kOk);
  EXPECT_EQ(to_hex(mac, sizeof mac), mac_of(key, message));
  EXPECT_EQ(hmac_add(&hash, nullptr, 1), HmacStatus::kDataFailed);
}

}  // namespace
