// One archive: header byte order, opening, and positioning at a stream.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/tic.h"

namespace {

TEST(TicHeaderRecord, SwapReversesTheNumbersAndTheProbeSeesIt) {
  TicHeader header;
  header.toc_offset = 104;
  header.entry_count = 3;
  header.swap_endian();
  EXPECT_TRUE(header.is_opposite_endian());
  EXPECT_EQ(header.entry_count, 3ULL << 56);
  EXPECT_EQ(header.build, 0x561C0000u) << "7254 reversed";
}

std::string read_at(int fd, size_t n) {
  std::string bytes(n, '\0');
  return read_full(fd, bytes.data(), n) == static_cast<ssize_t>(n) ? bytes : "";
}

TEST(TicArchive, SeekLandsOnAStreamsFirstByteInEitherByteOrder) {
  for (const bool swapped : {false, true}) {
    TempDir dir;
    const std::string path = dir / "a.tic";
    TicToc toc;
    toc.file_map["alpha"] = make_entry(1, 0, 5);
    toc.file_map["beta"] = make_entry(1, 0, 6);
    toc.file_map["nodata"] = make_entry(1);
    write_test_archive(path, toc, true, {{"alpha", "AAAAA"}, {"beta", "BBBBBB"}});
    if (swapped) swap_archive_byte_order(path);
    Tic tic(path.c_str(), false, nullptr, 0);
    const int fd = tic.seek_file("beta");
    EXPECT_EQ(read_at(fd, 6), "BBBBBB");
    EXPECT_EQ(tic.seek_file("alpha"), fd);
    EXPECT_EQ(read_at(fd, 5), "AAAAA");
    // No stream here is no failure: the error word stays clear.
    ERROR = 0;
    EXPECT_EQ(tic.seek_file("nodata"), -1);
    EXPECT_EQ(ERROR, 0);
  }
}

TEST(TicArchive, OpensWhatLoadsAndKnowsItsOwnFileUnderAnotherName) {
  TempDir dir;
  const std::string path = dir / "empty.tic";
  write_file(path, std::string(104, '\0'));  // a header without tables
  const std::string short_path = dir / "short.tic";
  write_file(short_path, std::string(103, '\0'));
  Tic closed(short_path.c_str(), false, nullptr, 0);
  EXPECT_EQ(closed.descriptor(), -1);
  errno = 0;
  EXPECT_EQ(closed.seek_file("x"), -1);
  EXPECT_EQ(ERROR, 0x60700) << "the step of loading the table";
  Tic tic(path.c_str(), false, nullptr, 0);
  EXPECT_NE(tic.descriptor(), -1);
  EXPECT_TRUE(tic.get_toc().file_map.empty());
  ASSERT_EQ(symlink(path.c_str(), (dir / "link.tic").c_str()), 0);
  EXPECT_TRUE(tic.compressing_me(dir / "link.tic"));
  EXPECT_FALSE(tic.compressing_me(short_path));
}

}  // namespace
