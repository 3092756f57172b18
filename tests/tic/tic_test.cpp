// One archive: header byte order, opening, lookup and positioning.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/tic.h"

namespace {

TEST(TicHeaderRecord, DefaultsAndByteOrderProbe) {
  TicHeader header;
  EXPECT_EQ(header.toc_offset, 0u);
  EXPECT_EQ(header.string_count, 0u);
  EXPECT_EQ(header.build, 7254u);
  EXPECT_EQ(header.major, 17);
  EXPECT_EQ(header.minor, 0);
  EXPECT_EQ(header.patch, 11);
  EXPECT_FALSE(header.is_opposite_endian()) << "an offset of 0 never reads as reversed";

  header.toc_offset = 104;
  header.entry_count = 3;
  header.build = 4716;
  header.mac[0] = 0xAB;
  header.major = 1;
  EXPECT_FALSE(header.is_opposite_endian());
  header.swap_endian();
  EXPECT_TRUE(header.is_opposite_endian());
  EXPECT_EQ(header.entry_count, 3ULL << 56);
  EXPECT_EQ(header.build, 0x6C120000u);
  EXPECT_EQ(header.mac[0], 0xAB);
  EXPECT_EQ(header.major, 1);
  header.swap_endian();
  EXPECT_EQ(header.toc_offset, 104u);
  EXPECT_EQ(header.build, 4716u);
}

// An archive with two streams and one entry without a stream.
struct SampleArchive {
  TempDir dir;
  std::string path = dir / "sample.tic";
  TicToc toc;

  SampleArchive() {
    toc.file_map["Alpha"] = make_entry(1, 0, 5);
    toc.file_map["beta"] = make_entry(1, 0, 6);
    toc.file_map["nodata"] = make_entry(1);
    write_test_archive(path, toc, true, {{"Alpha", "AAAAA"}, {"beta", "BBBBBB"}});
  }
};

std::string read_at_descriptor(int fd, size_t n) {
  std::string bytes(n, '\0');
  EXPECT_EQ(read_full(fd, bytes.data(), n), static_cast<ssize_t>(n));
  return bytes;
}

TEST(TicArchive, OpensAndPositionsAtAStreamsFirstByte) {
  SampleArchive sample;
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  ASSERT_NE(tic.descriptor(), -1);
  EXPECT_EQ(tic.get_toc().file_map.size(), 3u);

  const int fd = tic.seek_file("beta");
  ASSERT_EQ(fd, tic.descriptor());
  EXPECT_EQ(read_at_descriptor(fd, 6), "BBBBBB");
  ASSERT_EQ(tic.seek_file("Alpha"), fd);
  EXPECT_EQ(read_at_descriptor(fd, 5), "AAAAA");
}

TEST(TicArchive, EntriesWithoutStreamAndUnknownNamesDoNotPosition) {
  SampleArchive sample;
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  const long long before = ERROR;
  EXPECT_EQ(tic.seek_file("nodata"), -1);
  EXPECT_EQ(tic.seek_file("absent"), -1);
  EXPECT_EQ(ERROR, before);
}

TEST(TicArchive, LookupIsExactAndCaseSensitive) {
  SampleArchive sample;
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  EXPECT_NE(tic.find_file("Alpha"), nullptr);
  EXPECT_EQ(tic.find_file("alpha"), nullptr);
  EXPECT_EQ(tic.find_file("Alpha "), nullptr);
}

TEST(TicArchive, OtherByteOrderOpensWithTheSameTable) {
  SampleArchive sample;
  swap_archive_byte_order(sample.path);
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  ASSERT_NE(tic.descriptor(), -1);
  ASSERT_NE(tic.find_file("beta"), nullptr);
  EXPECT_EQ(tic.find_file("beta")->file_size, 6u);
  const int fd = tic.seek_file("beta");
  ASSERT_NE(fd, -1);
  EXPECT_EQ(read_at_descriptor(fd, 6), "BBBBBB");
}

TEST(TicArchive, UnreadableFilesLeaveTheObjectClosed) {
  TempDir dir;
  write_file(dir / "short.tic", std::string(103, '\0'));
  Tic short_file((dir / "short.tic").c_str(), false, nullptr, 0);
  EXPECT_EQ(short_file.descriptor(), -1);

  Tic missing((dir / "missing.tic").c_str(), false, nullptr, 0);
  EXPECT_EQ(missing.descriptor(), -1);

  Tic later(nullptr, false, nullptr, 0);
  EXPECT_EQ(later.descriptor(), -1);
  EXPECT_EQ(later.open((dir / "short.tic").c_str()), -1);
  EXPECT_EQ(later.descriptor(), -1);
}

TEST(TicArchive, NotOpenArchiveRecordsThePositioningFailure) {
  Tic closed(nullptr, false, nullptr, 0);
  EXPECT_EQ(closed.read_toc(false), -1);
  errno = 0;
  EXPECT_EQ(closed.seek_file("x"), -1);
  EXPECT_EQ(ERROR, 0x60700);
}

TEST(TicArchive, HeaderWithoutTablesIsAnEmptyTable) {
  TempDir dir;
  write_file(dir / "empty.tic", std::string(104, '\0'));
  Tic tic(nullptr, false, nullptr, 0);
  EXPECT_EQ(tic.open((dir / "empty.tic").c_str()), 0);
  EXPECT_TRUE(tic.get_toc().file_map.empty());
  EXPECT_EQ(tic.read_toc(false), 0);
}

TEST(TicArchive, ReadTocLoadsOnceUnlessForced) {
  SampleArchive sample;
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  tic.get_toc().file_map["extra"] = TicTocEntry();
  EXPECT_EQ(tic.read_toc(false), 0);
  EXPECT_EQ(tic.get_toc().file_map.count("extra"), 1u);
  EXPECT_EQ(tic.read_toc(true), 0);
  EXPECT_EQ(tic.get_toc().file_map.count("extra"), 0u);
}

TEST(TicArchive, RecognisesItsOwnFileUnderAnotherName) {
  SampleArchive sample;
  Tic tic(sample.path.c_str(), false, nullptr, 0);
  EXPECT_TRUE(tic.compressing_me(sample.path));
  EXPECT_TRUE(tic.compressing_me(sample.dir.path() + "/./sample.tic"));
  EXPECT_FALSE(tic.compressing_me(sample.dir / "other.tic"));
  EXPECT_EQ(symlink(sample.path.c_str(), (sample.dir / "link.tic").c_str()), 0);
  EXPECT_TRUE(tic.compressing_me(sample.dir / "link.tic"));
}

}  // namespace
