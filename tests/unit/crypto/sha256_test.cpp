// SHA-256 against the FIPS 180-4 example messages, on each engine, and the
// engines against each other on random messages fed in random pieces.
#include "crypto/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crypto/sha256_engine.h"
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

// Runs a test on one engine, skipped where the processor lacks it, and puts
// back the engine the program chose.
class Sha256OnEngine : public testing::TestWithParam<Sha256Engine> {
 protected:
  void SetUp() override {
    if (!sha256_select_engine(GetParam())) GTEST_SKIP() << "this processor has no SHA extensions";
  }
  void TearDown() override { sha256_select_engine(chosen_); }

 private:
  const Sha256Engine chosen_ = sha256_engine();
};

INSTANTIATE_TEST_SUITE_P(Engines, Sha256OnEngine,
                         testing::Values(Sha256Engine::kPortable, Sha256Engine::kShaExtensions),
                         [](const testing::TestParamInfo<Sha256Engine>& info) {
                           return info.param == Sha256Engine::kPortable ? "Portable" : "ShaExtensions";
                         });

TEST_P(Sha256OnEngine, PublishedExamplesAndEveryPaddingShape) {
  EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
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

// Random messages of random lengths, each hashed in one call on the portable
// engine and in calls of random sizes on the selected one, so that whole
// blocks taken straight from the caller, a partial block carried into the
// next call, and calls of no data all occur on both.
TEST_P(Sha256OnEngine, RandomMessagesInRandomPiecesMatchThePortableEngine) {
  std::mt19937_64 random(20240611);
  for (int round = 0; round < 200; ++round) {
    std::string message(random() % (round < 150 ? 300 : 20000), '\0');
    for (char& c : message) c = static_cast<char>(random());

    ASSERT_TRUE(sha256_select_engine(Sha256Engine::kPortable));
    const std::string expected = digest(message);
    ASSERT_TRUE(sha256_select_engine(GetParam()));

    UT_SHA256_CTX ctx;
    ASSERT_NE(UT_SHA256_Init(&ctx), 0);
    size_t at = 0;
    do {
      const size_t piece = std::min<size_t>(random() % 200, message.size() - at);
      ASSERT_NE(UT_SHA256_Update(&ctx, message.data() + at, piece), 0);
      at += piece;
    } while (at < message.size());
    unsigned char out[UT_SHA256_DIGEST_LENGTH];
    ASSERT_NE(UT_SHA256_Final(&ctx, out), 0);
    ASSERT_EQ(to_hex(out, sizeof out), expected) << message.size() << " bytes, round " << round;
  }
}

// The program runs on the extensions wherever the processor has them.
TEST(Sha256Engine, ExtensionsAreChosenWhereTheProcessorHasThem) {
  EXPECT_EQ(sha256_engine(), sha256_extensions_supported() ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable);
}
