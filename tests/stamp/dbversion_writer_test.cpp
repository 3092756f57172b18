// The archive builder's stamp block, byte for byte. builder_test reads it
// back from whole archives of two products.
#include "stamp/dbversion_writer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>
#include <string>

TEST(StampWriter, EveryKeyInOrderWithTheHeadersVersion) {
  unsetenv("PLATFORM");  // unset: the value is empty
  a_stamp_version version;
  version.product = "tarnvale";
  version.major = 17;
  version.minor = 2;
  version.patch = 11;
  version.build = 7254;
  char block[kStampDataSize];
  const size_t length = compose_archive_stamp(version, time(nullptr), block);
  const std::string text(block, length);
  EXPECT_TRUE(std::regex_match(text, std::regex(
      R"(@@==Version==@1@MODULE=tarnvale\0VERSION_MAJOR=17\0VERSION_MINOR=2\0VERSION_PATCH=11\0BUILD_NUMBER=7254\0)"
      R"(PLATFORM=\0DATE=\d{4}/\d\d/\d\d\0TIME=\d\d:\d\d:\d\d[-+]\d{4}\0HOST=[^\0]*\0THREADS=nothr\0POINTERSIZE=0\0)"
      R"(MACHINE=(X86_64|IA64|X86)\0PRODUCTION=production\0UNAME=([^\0]+) (X86_64|X86)\0)"
      R"(IDENT=tarnvale/17\.2\.11/P/\1/\2/7254/OPT/[^\0]+\0\0)"))) << text;
}

TEST(StampWriter, AnOverlongProductNameIsCutAndTheBlockStillCloses) {
  a_stamp_version version;
  version.product = std::string(2 * kStampDataSize, 'p');
  char block[kStampDataSize];
  const size_t length = compose_archive_stamp(version, 0, block);
  ASSERT_EQ(length, kStampDataSize);
  EXPECT_EQ(block[kStampDataSize - 1], '\0');
}
