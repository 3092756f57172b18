// The archive builder's stamp block, byte for byte. builder_test reads it
// back from whole archives of two products.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "support/temp_dir.h"
#include "tic/tic.h"

// A Tic whose descriptor is a fresh file open for writing, as the builder has it.
struct WritingTic : Tic {
  explicit WritingTic(const char* path) : Tic(nullptr, false, nullptr, 0) { descriptor_.reset(creat(path, 0644)); }
};

TEST(StampWriter, EveryKeyInOrderWithTheHeadersVersion) {
  unsetenv("PLATFORM");  // unset: the value is empty
  TempDir dir;
  TicHeader header;  // tarnvale 17.0.11 build 7254, but for the minor number
  header.minor = 2;
  ASSERT_EQ(WritingTic((dir / "archive.tic").c_str()).write_dbversion(header), 0);
  const std::string block = read_file(dir / "archive.tic");
  EXPECT_TRUE(std::regex_match(block, std::regex(
      R"(@@==Version==@1@MODULE=tarnvale\0VERSION_MAJOR=17\0VERSION_MINOR=2\0VERSION_PATCH=11\0BUILD_NUMBER=7254\0)"
      R"(PLATFORM=\0DATE=\d{4}/\d\d/\d\d\0TIME=\d\d:\d\d:\d\d[-+]\d{4}\0HOST=[^\0]*\0THREADS=nothr\0POINTERSIZE=0\0)"
      R"(MACHINE=(X86_64|IA64|X86)\0PRODUCTION=production\0UNAME=([^\0]+) (X86_64|X86)\0)"
      R"(IDENT=tarnvale/17\.2\.11/P/\1/\2/7254/OPT/[^\0]+\0\0)"))) << block;
  EXPECT_EQ(header.version_length, block.size()) << "closed by the empty entry, no extensions";
}
