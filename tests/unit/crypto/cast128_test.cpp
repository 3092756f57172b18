// CAST-128 against the test vectors of RFC 2144, Appendix B.
#include "crypto/cast128.h"

#include <gtest/gtest.h>

#include "support/hex.h"

static const std::string kKey = from_hex("0123456712345678234567893456789a");

TEST(Cast128, SingleBlockVectorsFor128_80And40BitKeys) {
  const std::pair<unsigned, const char*> cases[] = {
      {16, "238b4fe5847e44b2"}, {10, "eb6a711a2c02271b"}, {5, "7ac816d16e9b302e"}};
  for (const auto& [length, cipher] : cases) {
    a_cast_schedule schedule;
    CASTSetKey(&schedule, bytes_of(kKey), length);
    unsigned char block[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
    CASTEncrypt(&schedule, block);
    EXPECT_EQ(to_hex(block, 8), cipher) << length << "-byte key";
    CASTDecrypt(&schedule, block);
    EXPECT_EQ(to_hex(block, 8), "0123456789abcdef") << length << "-byte key";
  }
}

// Appendix B.2: a and b encrypt each other's halves a million times.
TEST(Cast128, MaintenanceTestOfAMillionIterations) {
  std::string a = kKey, b = kKey;
  a_cast_schedule schedule;
  for (int i = 0; i < 1000000; ++i) {
    for (auto [key, data] : {std::pair{&b, &a}, std::pair{&a, &b}}) {
      CASTSetKey(&schedule, bytes_of(*key), 16);
      for (int half : {0, 8}) CASTEncrypt(&schedule, reinterpret_cast<unsigned char*>(&(*data)[half]));
    }
  }
  EXPECT_EQ(a + b, from_hex("eea9d0a249fd3ba6b3436fb89d6dca92b2c95eb00c31ad7180ac05b8e83d696e"));
}
