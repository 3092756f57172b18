// The whole-archive code: compute_mac and validate. validate shows end to end
// that an archive of the other byte order is checked over the same bytes.
#include <gtest/gtest.h>

#include "crypto/hmac.h"
#include "support/archive_writer.h"
#include "support/hex.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

const std::string kKey = "integrity test key, 29 bytes.";

// Changes the byte at |offset| in place (the file keeps its inode).
void flip_byte(const std::string& path, uint64_t offset) {
  std::string bytes = read_file(path);
  bytes.at(offset) ^= '\xFF';
  write_file(path, bytes);
}

TEST(ArchiveValidation, CoversEveryByteOfTheTablesAndNothingBeforeThem) {
  TempDir dir;
  const std::string path = dir / "a.tic";
  TicToc toc;
  toc.file_map["bin/tool"] = make_entry(1, 0, 10);
  const TicHeader header = write_test_archive(path, toc, true, {{"bin/tool", "stream one"}});
  write_test_archive_mac(path, kKey);
  // Opened once: a changed table may no longer load.
  const Tic tic(path.c_str(), false, bytes_of(kKey), static_cast<int>(kKey.size()));
  for (uint64_t at = header.toc_offset, end = read_file(path).size(); at < end; ++at) {
    flip_byte(path, at);
    EXPECT_NE(tic.validate(), 0) << "changed byte at " << at;
    flip_byte(path, at);
  }
  // Streams carry codes of their own; the version bytes lie outside every code.
  for (uint64_t at = TicHeader::kSize; at < header.toc_offset; ++at) flip_byte(path, at);
  for (uint64_t at = offsetof(TicHeader, build); at < TicHeader::kSize; ++at) flip_byte(path, at);
  EXPECT_EQ(tic.validate(), 0);
}

// The builder and the test archives seal with compute_mac too: only this
// compares it with the published algorithm, under a key.
TEST(ArchiveMac, IsTheCodeOfTheFileFromTheOffsetToItsEnd) {
  TempDir dir;
  const std::string path = dir / "large";
  std::string bytes;
  for (int i = 0; i < 8192 * 2 + 1000; ++i) bytes += static_cast<char>(i * 13 + (i >> 9));
  write_file(path, bytes);
  // Not an archive: the object stays closed but keeps its path.
  const Tic tic(path.c_str(), false, bytes_of(kKey), static_cast<int>(kKey.size()));
  unsigned char out[kHmacLength], expected[kHmacLength];
  for (size_t offset : {size_t{0}, size_t{8193}, bytes.size()}) {
    ASSERT_EQ(tic.compute_mac(static_cast<long long>(offset), out, sizeof out), 0);
    hmac_sha256(bytes_of(kKey), static_cast<int>(kKey.size()), bytes.data() + offset, bytes.size() - offset, expected);
    EXPECT_EQ(to_hex(out, sizeof out), to_hex(expected, sizeof expected)) << "offset " << offset;
  }
  EXPECT_EQ(tic.compute_mac(0, out, 31), -1) << "an output area below 32 bytes";
}

}  // namespace
