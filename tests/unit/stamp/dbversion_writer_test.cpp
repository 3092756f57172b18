// The archive builder's stamp block, byte for byte. builder_test reads it
// back from whole archives of two products.
#include "stamp/dbversion_writer.h"
#include "tic/writer/build_version.h"

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

TEST(StampWriter, AReproducibleStampSaysItsTimeInUtc) {
  a_stamp_version version;
  version.product = "tarnvale";
  a_stamp_time when;
  when.when = 1700000000;
  when.utc = true;
  const a_stamp_entries entries = archive_stamp_entries(version, when);
  ASSERT_EQ(entries.size(), 15u);
  EXPECT_EQ(entries[6].key + "=" + entries[6].value, "DATE=2023/11/14");
  EXPECT_EQ(entries[7].key + "=" + entries[7].value, "TIME=22:13:20+0000");
  const std::string ident = entries[14].value;
  EXPECT_EQ(ident.substr(ident.rfind("/OPT/")), "/OPT/Tue Nov 14 22:13:20 UTC 2023");
}

// Entries are replaced where a reader would find them (keys compare without
// regard to case) or added at the end, and the block is written as it parses.
TEST(StampWriter, EntriesReplacedOrAddedComposeIntoABlockThatParsesBack) {
  a_stamp_entries entries{{"MODULE", "tarnvale"}, {"BUILD_NUMBER", "7254"}};
  set_stamp_entry(entries, "build_number", "8100");
  set_stamp_entry(entries, "RELEASE", "gold");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[1].key + "=" + entries[1].value, "BUILD_NUMBER=8100");
  char block[kStampDataSize];
  const size_t length = compose_stamp(entries, block);
  EXPECT_EQ(length, stamp_block_length(entries));
  dbversion_info info;
  ASSERT_EQ(__Parse_dbversion_info(block + kStampMarkerLength, length - kStampMarkerLength, &info), kInfoFound);
  EXPECT_STREQ(__Find_arg(&info, "RELEASE"), "gold");
  EXPECT_STREQ(__Find_arg(&info, "Build_Number"), "8100");
}

TEST(StampWriter, WhatAnEntryMayHoldAndHowManyABlockHolds) {
  const struct { std::string key, value; const char* problem; } entries[] = {
      {"K", "v", nullptr}, {"K", "", nullptr}, {"", "v", "empty key"}, {"K=", "v", "\"=\" in the key"},
      {std::string("K\0", 2), "v", "NUL in the key"}, {"K", "a=b", "\"=\" in the value"},
      {"K", std::string("a\0", 2), "NUL in the value"}};
  for (const auto& e : entries) {
    const Outcome entry = valid_stamp_entry(e.key, e.value);
    EXPECT_EQ(entry.ok(), e.problem == nullptr) << e.key << "=" << e.value;
    if (!entry) {
      EXPECT_EQ(entry.failure().text(), e.problem) << e.key << "=" << e.value;
    }
  }
  // 100 entries of "K=" in 16 + 100 * 3 + 1 bytes fit; a 101st does not.
  a_stamp_entries many(100, {"K", ""});
  EXPECT_TRUE(stamp_fits(many));
  many.push_back({"K", ""});
  EXPECT_FALSE(stamp_fits(many));
  // One entry that fills the block to its last byte fits; one byte more does not.
  a_stamp_entries full{{"K", std::string(kStampDataSize - kStampMarkerLength - 4, 'v')}};
  EXPECT_EQ(stamp_block_length(full), kStampDataSize);
  EXPECT_TRUE(stamp_fits(full));
  full[0].value += 'v';
  EXPECT_FALSE(stamp_fits(full));
}

// With the host's entries given as version information, IDENT is made from
// them, not from the machine the build runs on; an IDENT given is kept.
TEST(StampWriter, IdentSaysWhatTheEntriesInForceSay) {
  a_build_version settings;
  settings.has_source_date_epoch = true;
  settings.source_date_epoch = 1700000000;
  settings.version_info = {{"HOST", "builder"}, {"uname", "Linux 6.1.0 #1 SMP X86_64"}, {"MACHINE", "X86_64"},
                           {"VERSION_MINOR", "2"}};
  TicHeader header;
  a_stamp_entries stamp;
  build_version(settings, header, stamp);
  ASSERT_EQ(stamp.back().key, "IDENT");
  EXPECT_EQ(stamp.back().value, "tarnvale/17.2.11/P/X86_64/Linux 6.1.0 #1 SMP/7254/OPT/Tue Nov 14 22:13:20 UTC 2023");

  char block[kStampDataSize];
  size_t length = 0;
  header.build = 8200;  // the header as the builder has it when it writes the block
  ASSERT_TRUE(compose_version_block(settings, header, block, &length));
  EXPECT_NE(std::string(block, length).find("IDENT=tarnvale/17.2.11/P/X86_64/Linux 6.1.0 #1 SMP/8200/OPT/"),
            std::string::npos);

  settings.version_info.push_back({"IDENT", "given"});
  build_version(settings, header, stamp);
  EXPECT_EQ(stamp.back().key + "=" + stamp.back().value, "IDENT=given");
}
