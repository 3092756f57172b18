// The whole-archive code: compute_mac and validate. validate shows end to end
// that an archive of the other byte order is checked over the same bytes.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "crypto/hmac.h"
#include "platform/fd.h"
#include "support/fresh_error_word.h"
#include "support/archive_writer.h"
#include "support/hex.h"
#include "support/temp_dir.h"
#include "tic/archive/archive_steps.h"
#include "tic/archive/tic.h"

namespace {

const std::string kKey = "integrity test key, 29 bytes.";

// Changes the byte at |offset| in place (the file keeps its inode).
void flip_byte(const std::string& path, uint64_t offset) {
  std::string bytes = read_file(path);
  bytes.at(offset) ^= '\xFF';
  write_file(path, bytes);
}

class ArchiveValidation : public FreshErrorWord {};

TEST_F(ArchiveValidation, CoversEveryByteOfTheTablesAndNothingBeforeThem) {
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

class StreamValidation : public FreshErrorWord {};

// Three streams, one of them spanning several read blocks and one empty: a
// change of any stored byte is found and named, and so is a stream that
// reaches past the end of the archive.
TEST_F(StreamValidation, FindsAChangedByteInAnyStreamAndNamesItsFile) {
  TempDir dir;
  const std::string path = dir / "a.tic";
  std::string big;
  for (int i = 0; i < 2 * 8192 + 5; ++i) big += static_cast<char>(i * 7 + (i >> 8));
  const std::map<std::string, std::string> streams{{"a/big", big}, {"b/empty", ""}, {"c/small", "small stream"}};
  TicToc toc;
  for (const auto& stream : streams) toc.file_map[stream.first] = make_entry(1);
  seal_test_streams(toc, streams, kKey);
  write_test_archive(path, toc, true, streams);
  write_test_archive_mac(path, kKey);
  Tic tic(path.c_str(), false, bytes_of(kKey), static_cast<int>(kKey.size()));
  ASSERT_TRUE(tic.validate_streams().ok());
  UniqueFd fd(::open(path.c_str(), O_RDWR));
  auto flip = [&](uint64_t at) {
    unsigned char byte;
    ASSERT_EQ(pread_full(fd.get(), &byte, 1, at), 1);
    byte ^= 0xFF;
    ASSERT_EQ(pwrite_full(fd.get(), &byte, 1, at), 1);
  };
  for (const auto& [name, entry] : tic.get_toc().file_map) {
    for (uint64_t at = entry.data_offset; at < entry.data_offset + entry.stored_length; ++at) {
      flip(at);
      const Outcome streams = tic.validate_streams();
      ASSERT_FALSE(streams.ok()) << name << " byte " << at;
      EXPECT_EQ(streams.failure().subject, name);
      EXPECT_EQ(streams.failure().text(), "stream does not match its MAC");
      flip(at);
    }
  }
  tic.get_toc().file_map["c/small"].stored_length += 1000000;
  const Outcome outside = tic.validate_streams();
  EXPECT_FALSE(outside.ok());
  EXPECT_EQ(outside.failure().text(), "stream lies outside the archive");
  EXPECT_EQ(ERROR, 0) << "a check the error word does not report leaves it alone";
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
