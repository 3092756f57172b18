// SHA-256 against the FIPS 180-4 example messages, and the incremental
// interface against itself.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex.h"

namespace {

std::string digest_in_pieces(const std::string& message, const std::vector<size_t>& pieces) {
  UT_SHA256_CTX ctx;
  EXPECT_NE(UT_SHA256_Init(&ctx), 0);
  size_t at = 0;
  for (size_t i = 0; at < message.size(); ++i) {
    const size_t n = std::min(pieces[i % pieces.size()], message.size() - at);
    EXPECT_NE(UT_SHA256_Update(&ctx, message.data() + at, n), 0);
    at += n;
  }
  unsigned char digest[UT_SHA256_DIGEST_LENGTH];
  EXPECT_NE(UT_SHA256_Final(&ctx, digest), 0);
  return to_hex(digest, sizeof digest);
}

std::string digest(const std::string& message) { return digest_in_pieces(message, {message.size() + 1}); }

TEST(Sha256, PublishedExampleMessages) {
  EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
}

TEST(Sha256, OneMillionAInAnyPieces) {
  const std::string million(1000000, 'a');
  const std::string expected = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
  EXPECT_EQ(digest(million), expected);
  EXPECT_EQ(digest_in_pieces(million, {1, 63, 64, 65, 8192, 7, 128}), expected);
  EXPECT_EQ(digest_in_pieces(million, {1000}), expected);
}

// The padding changes shape where the message ends 55, 56 or 64 bytes into a
// block; this chains the digests of every length from 0 to 129.
TEST(Sha256, EveryLengthAcrossTheBlockBoundaries) {
  UT_SHA256_CTX chain;
  ASSERT_NE(UT_SHA256_Init(&chain), 0);
  for (size_t n = 0; n < 130; ++n) {
    std::string message;
    for (size_t i = 0; i < n; ++i) message += static_cast<char>((i * 7 + n) & 0xff);
    const std::string one = from_hex(digest(message));
    EXPECT_EQ(one, from_hex(digest_in_pieces(message, {3, 61}))) << "length " << n;
    ASSERT_NE(UT_SHA256_Update(&chain, one.data(), one.size()), 0);
  }
  unsigned char out[UT_SHA256_DIGEST_LENGTH];
  ASSERT_NE(UT_SHA256_Final(&chain, out), 0);
  EXPECT_EQ(to_hex(out, sizeof out), "f0a356ea9e6f1782f5f990ba58676d20f035df61db3b6545e977112d486331c9");
}

TEST(Sha256, RefusesMissingArguments) {
  UT_SHA256_CTX ctx;
  unsigned char out[UT_SHA256_DIGEST_LENGTH];
  EXPECT_EQ(UT_SHA256_Init(nullptr), 0);
  ASSERT_NE(UT_SHA256_Init(&ctx), 0);
  EXPECT_EQ(UT_SHA256_Update(nullptr, "x", 1), 0);
  EXPECT_EQ(UT_SHA256_Update(&ctx, nullptr, 1), 0);
  EXPECT_NE(UT_SHA256_Update(&ctx, nullptr, 0), 0) << "no data is an empty update";
  EXPECT_EQ(UT_SHA256_Final(&ctx, nullptr), 0);
  EXPECT_EQ(UT_SHA256_Final(nullptr, out), 0);
}

}  // namespace
