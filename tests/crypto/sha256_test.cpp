// SHA-256 against the FIPS 180-4 example messages.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/hex.h"

// The digest of |message| fed in pieces of |piece| bytes.
static std::string digest(const std::string& message, size_t piece = SIZE_MAX) {
  UT_SHA256_CTX ctx;
  bool ok = UT_SHA256_Init(&ctx) != 0;
  for (size_t at = 0; at < message.size(); at += piece)
    ok = UT_SHA256_Update(&ctx, message.data() + at, std::min(piece, message.size() - at)) != 0 && ok;
  unsigned char out[UT_SHA256_DIGEST_LENGTH];
  EXPECT_TRUE(UT_SHA256_Final(&ctx, out) != 0 && ok);
  return to_hex(out, sizeof out);
}

TEST(Sha256, PublishedExamplesAndEveryPaddingShape) {
  EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // The padding changes shape where a message ends 55, 56 or 64 bytes into a
  // block: one digest over the digests of every length from 0 to 129, each fed
  // in uneven pieces.
  std::string digests;
  for (size_t n = 0; n < 130; ++n)
    digests += from_hex(digest(std::string(n, static_cast<char>('a' + n % 26)), 3 + n % 61));
  EXPECT_EQ(digest(digests), "0ae55a8e3140128423d6a268d81dbecb4fc8c47fff12aa37c29f14f811ce02b4");
}
