// CAST-128 against the test vectors of RFC 2144, Appendix B.
#include "crypto/cast128.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/hex.h"

namespace {

const std::string kKey = from_hex("0123456712345678234567893456789a");
const std::string kPlain = from_hex("0123456789abcdef");

std::string encrypt(const std::string& key, const std::string& block) {
  a_cast_schedule schedule;
  CASTSetKey(&schedule, bytes_of(key), static_cast<unsigned>(key.size()));
  unsigned char b[8];
  std::memcpy(b, block.data(), 8);
  CASTEncrypt(&schedule, b);
  return to_hex(b, 8);
}

std::string decrypt(const std::string& key, const std::string& block) {
  a_cast_schedule schedule;
  CASTSetKey(&schedule, bytes_of(key), static_cast<unsigned>(key.size()));
  unsigned char b[8];
  std::memcpy(b, block.data(), 8);
  CASTDecrypt(&schedule, b);
  return to_hex(b, 8);
}

TEST(Cast128, SingleBlockVectorsFor128_80And40BitKeys) {
  const struct {
    size_t key_length;
    const char* cipher;
    uint32_t rounds;
  } cases[] = {
      {16, "238b4fe5847e44b2", 16},
      {10, "eb6a711a2c02271b", 12},
      {5, "7ac816d16e9b302e", 12},
  };
  for (const auto& c : cases) {
    const std::string key = kKey.substr(0, c.key_length);
    EXPECT_EQ(encrypt(key, kPlain), c.cipher) << c.key_length << "-byte key";
    EXPECT_EQ(decrypt(key, from_hex(c.cipher)), to_hex(bytes_of(kPlain), 8)) << c.key_length << "-byte key";
    a_cast_schedule schedule;
    CASTSetKey(&schedule, bytes_of(key), static_cast<unsigned>(key.size()));
    EXPECT_EQ(schedule.rounds, c.rounds);
  }
}

TEST(Cast128, ShortKeysArePaddedWithZeros) {
  const std::string key = kKey.substr(0, 5);
  EXPECT_EQ(encrypt(key, kPlain), encrypt(key + std::string(5, '\0'), kPlain));
  // Padding to 11 bytes crosses into 16 rounds, so the result changes.
  EXPECT_NE(encrypt(key, kPlain), encrypt(key + std::string(6, '\0'), kPlain));
}

// Appendix B.2: a and b encrypt each other's halves a million times.
TEST(Cast128, MaintenanceTestOfAMillionIterations) {
  unsigned char a[16];
  unsigned char b[16];
  std::memcpy(a, kKey.data(), 16);
  std::memcpy(b, kKey.data(), 16);
  a_cast_schedule schedule;
  for (int i = 0; i < 1000000; ++i) {
    CASTSetKey(&schedule, b, 16);
    CASTEncrypt(&schedule, a);
    CASTEncrypt(&schedule, a + 8);
    CASTSetKey(&schedule, a, 16);
    CASTEncrypt(&schedule, b);
    CASTEncrypt(&schedule, b + 8);
  }
  EXPECT_EQ(to_hex(a, 16), "eea9d0a249fd3ba6b3436fb89d6dca92");
  EXPECT_EQ(to_hex(b, 16), "b2c95eb00c31ad7180ac05b8e83d696e");
}

}  // namespace
