// The archives' HMAC: standard HMAC-SHA-256 (RFC 4231) for keys of at most
// 64 bytes; a longer key is cut to its first 64 bytes instead of hashed.
#include "crypto/hmac.h"

#include <gtest/gtest.h>

#include "support/hex.h"

static std::string mac_of(const std::string& key, const std::string& message) {
  unsigned char mac[kHmacLength];
  EXPECT_EQ(hmac_sha256(bytes_of(key), static_cast<int>(key.size()), message.data(), message.size(), mac),
            HmacStatus::kOk);
  return to_hex(mac, sizeof mac);
}

// RFC 4231 test cases 1 and 2, then case 6: this is standard HMAC keyed with
// the first 64 of the 131 key bytes; RFC 2104 would hash the whole key instead.
TEST(Hmac, StandardResultsForKeysUpToABlockAndLongerKeysCut) {
  EXPECT_EQ(mac_of(std::string(20, '\x0b'), "Hi There"),
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  EXPECT_EQ(mac_of("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(mac_of(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First"),
            "84332a7580ed3cf75de83c644c8d2c1c262ad90e0190e5c5ae4b82b2102e8e75");
  // No key, as for an archive built without one: the pads are used as they are.
  EXPECT_EQ(mac_of("", "Hi There"), "e48411262715c8370cd5e7bf8e82bef53bd53712d007f3429351843b77c7bb9b");
}
