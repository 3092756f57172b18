// The archive builder's stamp block, read back with the reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "stamp/dbversion.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

// A Tic whose descriptor is a fresh file open for writing, as the builder has it.
struct WritingTic : Tic {
  explicit WritingTic(const std::string& path) : Tic(nullptr, false, nullptr, 0) {
    descriptor_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  }
};

TEST(StampWriter, EveryKeyInOrderWithTheHeadersVersion) {
  unsetenv("PLATFORM");  // unset: the value is empty
  TempDir dir;
  TicHeader header;  // tarnvale 17.0.11 build 7254, but for the minor number
  header.minor = 2;
  WritingTic tic(dir / "archive.tic");
  ASSERT_EQ(tic.write_dbversion(header), 0);
  dbversion_info info;
  ASSERT_EQ(__Get_dbversion_info((dir / "archive.tic").c_str(), &info, 0), kInfoFound);
  std::string text;
  for (unsigned i = 0; i < info.num_args; ++i) text += std::string(info.args[i].name) + "=" + info.args[i].value + "\n";
  EXPECT_TRUE(std::regex_match(text, std::regex(
      R"(MODULE=tarnvale\nVERSION_MAJOR=17\nVERSION_MINOR=2\nVERSION_PATCH=11\nBUILD_NUMBER=7254\nPLATFORM=\n)"
      R"(DATE=\d{4}/\d\d/\d\d\nTIME=\d\d:\d\d:\d\d[-+]\d{4}\nHOST=.*\nTHREADS=nothr\nPOINTERSIZE=0\n)"
      R"(MACHINE=(X86_64|IA64|X86)\nPRODUCTION=production\nUNAME=(.+) (X86_64|X86)\n)"
      R"(IDENT=tarnvale/17\.2\.11/P/\1/\2/7254/OPT/.+\n)"))) << text;
  EXPECT_EQ(header.version_length, 16 + info.block_length + 1) << "closed by the empty entry, no extensions";
}
