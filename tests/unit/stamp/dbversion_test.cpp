// Version stamp blocks: search, parse, lookups and blanking. version_command_test
// shows lookups by key, links followed and files without a block end to end.
#include "stamp/dbversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace {

using namespace std::string_literals;

const std::string kMarker = "@@==Version==@1@";

struct Stamp : testing::Test {
  TempDir dir;
  // Writes |bytes| to "file" and reads the stamp of |name|; null when none is found.
  std::unique_ptr<dbversion_info> stamp(const std::string& bytes, const char* name = "file", unsigned follow = 1) {
    write_file(dir / "file", bytes);
    auto info = std::make_unique<dbversion_info>();  // 7 KiB
    if (__Get_dbversion_info((dir / name).c_str(), info.get(), follow) != kInfoFound) return nullptr;
    return info;
  }
  int exts_in(const std::string& bytes) {
    const auto info = stamp(bytes);
    return info ? static_cast<int>(info->num_exts) : -1;
  }
};

TEST_F(Stamp, EntriesBlanksExtensionsAndLookups) {
  auto info = stamp(kMarker + "MODULE=m\0\1\1\1\0Build_Number=4716\0EXTENSIONS=A8,B16\0\0aaaaaaaabbbbbbbbbbbbbbbb"s);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->args[1].equals, nullptr) << "a blanked entry has no '='";
  EXPECT_STREQ(info->args[1].value, "");
  ASSERT_EQ(info->num_exts, 2u);
  EXPECT_EQ(std::string(info->exts[0].data, info->exts[0].length), "aaaaaaaa");
  EXPECT_EQ(std::string(info->exts[1].data, info->exts[1].length), std::string(16, 'b'));
  EXPECT_EQ(info->block_length, info->ext_data + 24 - info->data);
  // Nothing beyond 32 extensions, nor data reaching past the bytes held, is
  // recorded; the block is still found.
  std::string list;
  for (char id = 'A'; id < 'A' + 40; ++id) list += std::string(1, id) + "1,";
  EXPECT_EQ(exts_in(kMarker + "MODULE=x\0EXTENSIONS="s + list + "\0\0"s + std::string(40, 'd')), 32);
  EXPECT_EQ(exts_in(kMarker + "MODULE=x\0EXTENSIONS=A4,B5000,C2\0\0aaaa"s), 1);
}

// Why a block is not found, from bytes in memory; links from the file.
TEST_F(Stamp, NotFound) {
  std::string many = "MODULE=x\0"s;
  for (int i = 1; i < 100; ++i) many += "K" + std::to_string(i) + "=v\0"s;
  auto info = std::make_unique<dbversion_info>();
  EXPECT_EQ(__Parse_dbversion_info(many.data(), many.size() + 1, info.get()), kInfoFound) << "100 entries";
  const std::pair<std::string, const char*> cases[] = {
      {many + "K=v\0\0"s, "more than 100 entries"},
      {"MODULE=a=b\0\0"s, "'=' in a value"},
      {"MODULE=x\0=v\0\0"s, "entry without a key"},
      {"MODULE=x\0K\0\0"s, "entry without '='"},
      {"MODULE=x\0K=y"s, "no closing empty entry"},
      {"MODUL"s, "no marker followed by MODULE"},  // 21 bytes with the marker
      {"MODULE=m\0L="s + std::string(5000, 'v') + "\0\0"s, "no closing empty entry"},  // past 4096 bytes
  };
  for (const auto& [bytes, reason] : cases) {
    const std::string file = kMarker + bytes;
    EXPECT_EQ(__Scan_dbversion_info(file.data(), file.size(), info.get()), kInfoNotFound) << reason;
    const Outcome scanned = scan_stamp_block(file.data(), file.size(), info.get());
    EXPECT_EQ(scanned.failure().text(), reason);
  }
  write_file(dir / "file", kMarker + "MODULE=m\0\0"s);
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  EXPECT_EQ(__Get_dbversion_info((dir / "link").c_str(), info.get(), 0), kInfoNotFound) << "links not followed";
}

// A block cut after a complete entry and one byte of the next is taken as
// complete (that is all the reader holds of a longer block); any other cut
// before the closing pair is not found.
TEST(StampParse, EveryCutOfASmallBlock) {
  const std::string block = "MODULE=m\0K=v\0\0"s;
  auto info = std::make_unique<dbversion_info>();
  for (size_t length = 0; length <= block.size(); ++length) {
    const bool found = __Parse_dbversion_info(block.data(), length, info.get()) == kInfoFound;
    EXPECT_EQ(found, length == 10 || length >= 14) << length;
  }
}

// The search reads 8192 bytes at a time and carries 21 over: every cut of the
// 22 bytes of marker and "MODULE" by the first read boundary, and one at the
// second, behind decoys that do not count. The span search reads its bytes
// the same way and finds the same block.
TEST_F(Stamp, TheFirstMarkerFollowedByModuleIsFoundWhereverReadsCutIt) {
  const std::string decoys = kMarker + "module=lower\0"s + kMarker + kMarker + "MODUL";
  auto scanned = std::make_unique<dbversion_info>();
  for (size_t at = 8192 - 22; at <= 8192 + 1; ++at) {
    const size_t offset = at <= 8192 ? at : 2 * 8192 - 11;
    const std::string bytes = decoys + std::string(offset - decoys.size(), 'x') + kMarker +
                              "MODULE=first\0\0"s + kMarker + "MODULE=second\0\0"s;
    auto info = stamp(bytes);
    ASSERT_NE(info, nullptr) << offset;
    EXPECT_EQ(info->file_offset, offset + 16) << offset;
    ASSERT_EQ(__Scan_dbversion_info(bytes.data(), bytes.size(), scanned.get()), kInfoFound);
    EXPECT_EQ(scanned->file_offset, info->file_offset);
  }
}

// A marker that starts on the last byte of a marker without "MODULE" is
// passed over within one read, and found when a read boundary separates the
// two: the span search takes its reads where the file reader does.
TEST_F(Stamp, AMarkerInsideASkippedOneIsFoundOnlyAcrossAReadBoundary) {
  const std::string overlapping = kMarker.substr(0, 15) + kMarker + "MODULE=m\0\0"s;
  auto scanned = std::make_unique<dbversion_info>();
  // From 8160 on the first marker and its 6 bytes end within the first read
  // and the second starts within the 21 bytes carried into the next.
  for (const size_t before : {size_t{0}, size_t{8160}}) {
    const std::string bytes = std::string(before, 'x') + overlapping;
    const bool found = __Scan_dbversion_info(bytes.data(), bytes.size(), scanned.get()) == kInfoFound;
    EXPECT_EQ(found, before != 0) << before;
    EXPECT_EQ(stamp(bytes) != nullptr, found) << before;
  }
}

TEST_F(Stamp, ZapBlanksEntryAndExtensionInPlace) {
  const std::string original = "head" + kMarker + "MODULE=m\0HOST=h\0EXTENSIONS=A4,B2\0\0aaaabb"s;
  auto before = stamp(original);
  ASSERT_NE(before, nullptr);
  ASSERT_EQ(__Zap_dbversion_info((dir / "file").c_str(), before.get(), "host", "A"), 1u);
  const std::string expected = "head" + kMarker + "MODULE=m\0\1\1\1\1\1\1\0EXTENSIONS=?4,B2\0\0\0\0\0\0bb"s;
  EXPECT_EQ(read_file(dir / "file"), expected);
  EXPECT_NE(stamp(expected), nullptr) << "a blanked block still parses";
}

}  // namespace
