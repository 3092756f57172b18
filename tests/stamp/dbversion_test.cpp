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

TEST_F(Stamp, NotFound) {
  std::string many = "MODULE=x\0"s;
  for (int i = 1; i < 100; ++i) many += "K" + std::to_string(i) + "=v\0"s;
  EXPECT_NE(stamp(kMarker + many + '\0'), nullptr) << "100 entries are allowed";
  // 101 entries, "=" in a value, an empty key, no "=", no closing pair, a
  // 21-byte file, a block longer than the 4096 bytes copied.
  for (const std::string& bytes : {many + "K=v\0\0"s, "MODULE=a=b\0\0"s, "MODULE=x\0=v\0\0"s, "MODULE=x\0K\0\0"s,
                                   "MODULE=x\0K=y"s, "MODUL"s, "MODULE=m\0L="s + std::string(5000, 'v') + "\0\0"s})
    EXPECT_EQ(stamp(kMarker + bytes), nullptr) << testing::PrintToString(bytes.substr(0, 40));
  ASSERT_EQ(symlink("file", (dir / "link").c_str()), 0);
  EXPECT_EQ(stamp(kMarker + "MODULE=m\0\0"s, "link", 0), nullptr) << "links are not followed";
}

// The search reads 8192 bytes at a time and carries 21 over: every cut of the
// 22 bytes of marker and "MODULE" by the first read boundary, and one at the
// second, behind decoys that do not count.
TEST_F(Stamp, TheFirstMarkerFollowedByModuleIsFoundWhereverReadsCutIt) {
  const std::string decoys = kMarker + "module=lower\0"s + kMarker + kMarker + "MODUL";
  for (size_t at = 8192 - 22; at <= 8192 + 1; ++at) {
    const size_t offset = at <= 8192 ? at : 2 * 8192 - 11;
    auto info = stamp(decoys + std::string(offset - decoys.size(), 'x') + kMarker + "MODULE=first\0\0"s + kMarker +
                      "MODULE=second\0\0"s);
    ASSERT_NE(info, nullptr) << offset;
    EXPECT_EQ(info->file_offset, offset + 16) << offset;
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
