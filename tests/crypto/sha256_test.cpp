// SHA-256 against the FIPS 180-4 example messages.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/hex.h"

namespace {

// The digest of |message| fed in pieces of |piece| bytes.
std::string digest(const std::string& message, size_t piece = SIZE_MAX) {
  UT_SHA256_CTX ctx;
  EXPECT_NE(UT_SHA256_Init(&ctx), 0);
  for (size_t at = 0; at < message.size(); at += piece) {
    EXPECT_NE(UT_SHA256_Update(&ctx, message.data() + at, std::min(piece, message.size() - at)), 0);
  }
  unsigned char out[UT_SHA256_DIGEST_LENGTH];
  EXPECT_NE(UT_SHA256_Final(&ctx, out), 0);
  return to_hex(out, sizeof out);
}

TEST(Sha256, PublishedExampleMessages) {
  EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string million(1000000, 'a');
  for (size_t piece : {SIZE_MAX, size_t{1000}, size_t{63}}) {
    EXPECT_EQ(digest(million, piece), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0")
        << "in pieces of " << piece;
  }
}

// The padding changes shape where a message ends 55, 56 or 64 bytes into a
// block: one digest over the digests of every length from 0 to 129, each fed
// in uneven pieces.
TEST(Sha256, EveryLengthAcrossTheBlockBoundaries) {
  std::string digests;
  for (size_t n = 0; n < 130; ++n) {
    std::string message;
    for (size_t i = 0; i < n; ++i) message += static_cast<char>((i * 7 + n) & 0xff);
    digests += from_hex(digest(message, 3 + n % 61));
  }
  EXPECT_EQ(digest(digests), "f0a356ea9e6f1782f5f990ba58676d20f035df61db3b6545e977112d486331c9");
}

TEST(Sha256, RefusesMissingArguments) {
  UT_SHA256_CTX ctx;
  EXPECT_EQ(UT_SHA256_Init(nullptr), 0);
  ASSERT_NE(UT_SHA256_Init(&ctx), 0);
  EXPECT_EQ(UT_SHA256_Update(&ctx, nullptr, 1), 0);
  EXPECT_EQ(UT_SHA256_Final(&ctx, nullptr), 0);
}

}  // namespace
