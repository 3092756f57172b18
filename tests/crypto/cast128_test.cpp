// CAST-128 against the test vectors of RFC 2144, Appendix B.
#include "crypto/cast128.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/hex.h"

namespace {

const std::string kKey = from_hex("0123456712345678234567893456789a");

TEST(Cast128, SingleBlockVectorsFor128_80And40BitKeys) {
  const struct {
    size_t key_length;
    const char* cipher;
    uint32_t rounds;
  } cases[] = {{16, "238b4fe5847e44b2", 16}, {10, "eb6a711a2c02271b", 12}, {5, "7ac816d16e9b302e", 12}};
  for (const auto& c : cases) {
    a_cast_schedule schedule;
    CASTSetKey(&schedule, bytes_of(kKey), static_cast<unsigned>(c.key_length));
    EXPECT_EQ(schedule.rounds, c.rounds);
    unsigned char block[8];
    std::memcpy(block, from_hex("0123456789abcdef").data(), 8);
    CASTEncrypt(&schedule, block);
    EXPECT_EQ(to_hex(block, 8), c.cipher) << c.key_length << "-byte key";
    CASTDecrypt(&schedule, block);
    EXPECT_EQ(to_hex(block, 8), "0123456789abcdef") << c.key_length << "-byte key";
  }
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
