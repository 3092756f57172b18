// Version stamp blocks: search, parse, lookups, cloning and blanking.
#include "stamp/dbversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

const std::string kMarker = "@@==Version==@1@";

// A block from its first key on: the entries with their NULs, the closing
// NUL, then |ext_data|.
std::string entries(std::initializer_list<std::string> list, const std::string& ext_data = "") {
  std::string bytes;
  for (const std::string& e : list) bytes += e + '\0';
  return bytes + '\0' + ext_data;
}

std::string block(std::initializer_list<std::string> list, const std::string& ext_data = "") {
  return kMarker + entries(list, ext_data);
}

// Records are 7 KiB each; they live on the heap in tests.
std::unique_ptr<dbversion_info> parse(const std::string& bytes) {
  auto info = std::make_unique<dbversion_info>();
  if (__Parse_dbversion_info(bytes.data(), bytes.size(), info.get()) != kInfoFound) return nullptr;
  return info;
}

std::unique_ptr<dbversion_info> read_stamp(const std::string& path, unsigned follow_links = 1) {
  auto info = std::make_unique<dbversion_info>();
  if (__Get_dbversion_info(path.c_str(), info.get(), follow_links) != kInfoFound) return nullptr;
  return info;
}

TEST(StampParse, EntriesBlanksAndLookups) {
  const std::string bytes = entries({"MODULE=tarnvale", std::string(9, '\x01'), "Build_Number=4716", "EMPTY="});
  auto info = parse(bytes);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->num_args, 4u);
  EXPECT_EQ(info->args[0].equals, info->data + 6);
  EXPECT_EQ(info->args[1].equals, nullptr) << "a blanked entry has no '='";
  EXPECT_STREQ(info->args[1].value, "");
  EXPECT_EQ(info->num_exts, 0u);
  EXPECT_EQ(info->block_length, bytes.size() - 1) << "through the first NUL of the closing pair";

  EXPECT_STREQ(__Find_arg(info.get(), "build_NUMBER"), "4716");
  EXPECT_STREQ(__Find_arg(info.get(), "empty"), "");
  EXPECT_EQ(__Find_arg(info.get(), "HOST"), nullptr);
  EXPECT_EQ(__Find_arg_index(info.get(), "EMPTY"), 3);
  EXPECT_STREQ(__Find_arg_safe(info.get(), "HOST", "unknown"), "unknown");
  EXPECT_STREQ(__Find_arg_safe(info.get(), "HOST", nullptr), "HOST");
}

TEST(StampParse, MalformedBlocksAreRejected) {
  std::string too_many = "MODULE=x";
  too_many += '\0';
  for (int i = 1; i < 100; ++i) too_many += "K" + std::to_string(i) + "=v" + '\0';
  too_many += '\0';
  EXPECT_NE(parse(too_many), nullptr) << "100 entries are allowed";
  too_many.insert(too_many.size() - 1, std::string("K100=v") + '\0');

  for (const std::string& bytes : {too_many, entries({"MODULE=a=b"}), entries({"MODULE=x", "=value"}),
                                   entries({"MODULE=x", "NOEQUALS"}), std::string("MODULE=x\0K=y", 12)}) {
    EXPECT_EQ(parse(bytes), nullptr) << testing::PrintToString(bytes.substr(0, 40));
  }
}

TEST(StampParse, ExtensionsLieBackToBackAfterTheClosingPair) {
  auto info = parse(entries({"MODULE=x", "EXTENSIONS=A8,B16"}, std::string(24, 'd')));
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->num_exts, 2u);
  EXPECT_EQ(*info->exts[0].id, 'A');
  EXPECT_EQ(info->exts[0].length, 8u);
  EXPECT_EQ(info->exts[0].data, info->ext_data);
  EXPECT_EQ(*info->exts[1].id, 'B');
  EXPECT_EQ(info->exts[1].length, 16u);
  EXPECT_EQ(info->exts[1].data, info->ext_data + 8);
  EXPECT_EQ(info->block_length, info->ext_data + 24 - info->data);
  EXPECT_EQ(__Find_ext_index(info.get(), "B"), 1);

  // Data reaching past the bytes held is not recorded, nor is anything
  // beyond 32 extensions; the block is still found.
  info = parse(entries({"MODULE=x", "EXTENSIONS=A4,B5000,C2"}, "aaaa"));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->num_exts, 1u);
  std::string list;
  for (char id = 'A'; id < 'A' + 40; ++id) list += std::string(1, id) + "1,";
  info = parse(entries({"MODULE=x", "EXTENSIONS=" + list}, std::string(40, 'd')));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->num_exts, 32u);
}

TEST(StampClone, PointersFollowTheCopy) {
  auto from = parse(entries({"MODULE=x", "EXTENSIONS=A3"}, "abc"));
  ASSERT_NE(from, nullptr);
  auto to = std::make_unique<dbversion_info>();
  __Clone_dbversion_info(from.get(), to.get());
  std::memset(from->data, 'z', sizeof from->data);
  EXPECT_STREQ(__Find_arg(to.get(), "MODULE"), "x");
  EXPECT_EQ(std::string(to->exts[0].data, 3), "abc");
  EXPECT_EQ(to->ext_data, to->exts[0].data);
}

TEST(StampReader, MarkerAcrossAReadBoundaryIsFound) {
  TempDir dir;
  // Every way the 22 bytes of marker and "MODULE" can be cut by the first
  // read boundary, and one cut at the second boundary.
  for (size_t start = 8192 - 22; start <= 8192 + 1; ++start) {
    const size_t at = start <= 8192 ? start : 2 * 8192 - 11;
    write_file(dir / "file", std::string(at, 'x') + block({"MODULE=far"}) + "tail");
    auto info = read_stamp(dir / "file");
    ASSERT_NE(info, nullptr) << at;
    EXPECT_EQ(info->file_offset, at + 16) << at;
    EXPECT_STREQ(__Find_arg(info.get(), "MODULE"), "far") << at;
  }
}

TEST(StampReader, OnlyTheFirstMarkerFollowedByModuleCounts) {
  TempDir dir;
  const std::string decoys = kMarker + "module=lower" + '\0' + kMarker + kMarker + "MODUL";
  write_file(dir / "file", decoys + block({"MODULE=first"}) + std::string(9000, '-') + block({"MODULE=second"}));
  auto info = read_stamp(dir / "file");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->file_offset, decoys.size() + 16);
  EXPECT_STREQ(__Find_arg(info.get(), "MODULE"), "first");
}

TEST(StampReader, CopyIsToppedUpAndEndsAt4096Bytes) {
  TempDir dir;
  const std::string value(3000, 'v');
  write_file(dir / "near_end", std::string(8100, 'x') + block({"MODULE=m", "LONG=" + value}));
  auto info = read_stamp(dir / "near_end");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(__Find_arg(info.get(), "LONG"), value);

  write_file(dir / "too_long", block({"MODULE=m", "LONG=" + std::string(5000, 'v')}));
  EXPECT_EQ(read_stamp(dir / "too_long"), nullptr);
}

TEST(StampReader, NotFound) {
  TempDir dir;
  EXPECT_EQ(read_stamp(dir / "missing"), nullptr);
  write_file(dir / "short", (kMarker + "MODULE").substr(0, 21));
  EXPECT_EQ(read_stamp(dir / "short"), nullptr);

  write_file(dir / "target", block({"MODULE=linked"}));
  ASSERT_EQ(symlink("target", (dir / "link").c_str()), 0);
  EXPECT_EQ(read_stamp(dir / "link", 0), nullptr) << "links are not followed";
  EXPECT_NE(read_stamp(dir / "target", 0), nullptr);
  EXPECT_NE(read_stamp(dir / "link", 1), nullptr);
}

TEST(StampZap, BlanksEntryAndExtensionInPlace) {
  TempDir dir;
  const std::string path = dir / "file";
  const std::string original = "head" + block({"MODULE=m", "HOST=buildhost", "EXTENSIONS=A4,B2"}, "aaaabb") + "tail";
  write_file(path, original);
  auto before = read_stamp(path);
  ASSERT_NE(before, nullptr);

  ASSERT_EQ(__Zap_dbversion_info(path.c_str(), before.get(), "host", "A"), 1u);
  std::string expected = original;
  expected.replace(expected.find("HOST=buildhost"), 14, std::string(14, '\x01'));
  expected[expected.find("A4,B2")] = '?';
  expected.replace(expected.find("aaaa"), 4, std::string(4, '\0'));
  EXPECT_EQ(read_file(path), expected);

  auto after = read_stamp(path);
  ASSERT_NE(after, nullptr) << "a blanked block still parses";
  EXPECT_EQ(after->args[1].equals, nullptr);
  EXPECT_EQ(after->block_length, before->block_length);
  EXPECT_EQ(__Find_ext_index(after.get(), "B"), 1);

  EXPECT_EQ(__Zap_dbversion_info(path.c_str(), before.get(), "ABSENT", "Z"), 1u) << "nothing to change";
  EXPECT_EQ(__Zap_dbversion_info((dir / "missing").c_str(), before.get(), "HOST", nullptr), 0u);
}

TEST(StampVersionNumbers, FourKeysLaterEntryWins) {
  TempDir dir;
  write_file(dir / "full", block({"MODULE=m", "VERSION_MAJOR=17", "VERSION_MINOR=0", "VERSION_PATCH=11",
                                  "BUILD_NUMBER=7254", "version_major=18"}));
  write_file(dir / "partial", block({"MODULE=m", "VERSION_MAJOR=17", "VERSION_MINOR=0", "VERSION_PATCH=11"}));
  int major = -1, minor = -1, patch = -1, build = -1;
  ASSERT_EQ(__Get_version_numbers((dir / "full").c_str(), &major, &minor, &patch, &build), 1u);
  EXPECT_EQ(std::vector<int>({major, minor, patch, build}), std::vector<int>({18, 0, 11, 7254}));
  EXPECT_EQ(__Get_version_numbers((dir / "partial").c_str(), &major, &minor, &patch, &build), 0u);
}

}  // namespace
