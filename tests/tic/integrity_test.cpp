// The whole-archive code (compute_mac, validate) and the per-stream
// encryption set-up of an archive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "crypto/hmac.h"
#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/hex.h"
#include "support/temp_dir.h"
#include "tic/stream_support.h"
#include "tic/tic.h"

namespace {

const std::string kKey = "integrity test key, 29 bytes.";

const unsigned char* key_bytes(const std::string& key) { return bytes_of(key); }
int key_length(const std::string& key) { return static_cast<int>(key.size()); }

// An archive with two streams, an entry without one and two options, its MAC
// written with kKey.
struct SealedArchive {
  TempDir dir;
  std::string path = dir / "sealed.tic";
  TicHeader header;

  explicit SealedArchive(const std::string& key = kKey) {
    TicToc toc;
    toc.options.option_mask("client|server");
    toc.file_map["bin/tool"] = make_entry(1, 0, 5);
    toc.file_map["lib/core"] = make_entry(3, 0, 9);
    toc.file_map["share/none"] = make_entry(2);
    header = write_test_archive(path, toc, true, {{"bin/tool", "stream one"}, {"lib/core", "stream two!"}});
    write_test_archive_mac(path, key);
  }

  uint64_t size() const { return read_file(path).size(); }
};

// Flips every bit of the byte at |offset| in place.
void flip_byte(const std::string& path, uint64_t offset) {
  UniqueFd fd(::open(path.c_str(), O_RDWR));
  unsigned char byte = 0;
  ASSERT_EQ(pread_full(fd.get(), &byte, 1, offset), 1);
  byte ^= 0xFF;
  ASSERT_EQ(pwrite_full(fd.get(), &byte, 1, offset), 1);
}

TEST(ArchiveValidation, GenuineArchivePasses) {
  SealedArchive archive;
  const Tic tic(archive.path.c_str(), false, key_bytes(kKey), key_length(kKey));
  ASSERT_NE(tic.descriptor(), -1);
  EXPECT_EQ(tic.validate(), 0);
  EXPECT_EQ(tic.validate_mac(), 0);

  SealedArchive unkeyed("");
  EXPECT_EQ(Tic(unkeyed.path.c_str(), false, nullptr, 0).validate(), 0);
}

TEST(ArchiveValidation, EveryByteOfTheTablesIsCovered) {
  SealedArchive archive;
  const Tic tic(archive.path.c_str(), false, key_bytes(kKey), key_length(kKey));
  const uint64_t end = archive.size();
  ASSERT_GT(end, archive.header.toc_offset);
  for (uint64_t at = archive.header.toc_offset; at < end; ++at) {
    flip_byte(archive.path, at);
    EXPECT_NE(tic.validate(), 0) << "changed byte at " << at;
    flip_byte(archive.path, at);
  }
  EXPECT_EQ(tic.validate(), 0);
}

// Streams carry their own codes, checked on extraction; the header's version
// fields lie outside every code.
TEST(ArchiveValidation, StreamAndVersionBytesAreNotCovered) {
  SealedArchive archive;
  const Tic tic(archive.path.c_str(), false, key_bytes(kKey), key_length(kKey));
  for (uint64_t at = TicHeader::kSize; at < archive.header.toc_offset; ++at) flip_byte(archive.path, at);
  for (uint64_t at = offsetof(TicHeader, build); at < TicHeader::kSize; ++at) flip_byte(archive.path, at);
  EXPECT_EQ(tic.validate(), 0);

  flip_byte(archive.path, 31);
  EXPECT_NE(tic.validate(), 0) << "the stored MAC itself";
}

TEST(ArchiveValidation, KeyMustMatchInItsFirst64Bytes) {
  const std::string long_key(70, 'k');
  SealedArchive archive(long_key);
  auto validate_with = [&](const std::string& key) {
    return Tic(archive.path.c_str(), false, key_bytes(key), key_length(key)).validate();
  };
  EXPECT_EQ(validate_with(long_key), 0);
  std::string late = long_key;
  late[64] = 'x';
  EXPECT_EQ(validate_with(late), 0) << "bytes beyond the 64th do not key the code";
  std::string early = long_key;
  early[63] = 'x';
  EXPECT_NE(validate_with(early), 0);
  EXPECT_NE(validate_with(kKey), 0);
  EXPECT_NE(validate_with(""), 0);
}

TEST(ArchiveValidation, OtherByteOrder) {
  // Written on a machine of the other order: the code covers its own bytes.
  SealedArchive genuine;
  swap_archive_byte_order(genuine.path);
  write_test_archive_mac(genuine.path, kKey);
  const Tic swapped(genuine.path.c_str(), false, key_bytes(kKey), key_length(kKey));
  ASSERT_NE(swapped.descriptor(), -1);
  EXPECT_EQ(swapped.validate(), 0);

  // Rewriting the tables after the code was made is tampering.
  SealedArchive tampered;
  swap_archive_byte_order(tampered.path);
  EXPECT_NE(Tic(tampered.path.c_str(), false, key_bytes(kKey), key_length(kKey)).validate(), 0);
}

// The code of any file from an offset on, across the ends of 8192-byte chunks.
TEST(ArchiveMac, CoversTheFileFromTheOffsetToItsEnd) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 8192 * 2 + 1000; ++i) bytes += static_cast<char>(i * 13 + (i >> 9));
  const std::string path = dir / "large";  // the Tic borrows it
  write_file(path, bytes);
  // Not an archive: the object stays closed but keeps its path.
  const Tic tic(path.c_str(), false, key_bytes(kKey), key_length(kKey));
  for (size_t offset : {size_t{0}, size_t{8192}, size_t{8193}, bytes.size() - 1, bytes.size()}) {
    unsigned char out[kHmacLength];
    unsigned char expected[kHmacLength];
    ASSERT_EQ(tic.compute_mac(static_cast<long long>(offset), out, sizeof out), 0) << offset;
    hmac_sha256(key_bytes(kKey), key_length(kKey), bytes.data() + offset, bytes.size() - offset, expected);
    EXPECT_EQ(to_hex(out, sizeof out), to_hex(expected, sizeof expected)) << "offset " << offset;
  }
}

TEST(ArchiveMac, OutputAreaAndFailures) {
  SealedArchive archive;
  Tic tic(archive.path.c_str(), false, key_bytes(kKey), key_length(kKey));
  const off_t position = ::lseek(tic.descriptor(), 0, SEEK_CUR);

  unsigned char out[40];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(tic.compute_mac(static_cast<long long>(archive.header.toc_offset), out, 31), -1);
  EXPECT_EQ(out[0], 0xEE) << "a refused call writes nothing";

  ASSERT_EQ(tic.compute_mac(static_cast<long long>(archive.header.toc_offset), out, sizeof out), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), read_file(archive.path).substr(0, 32));
  EXPECT_EQ(to_hex(out + 32, 8), "0000000000000000") << "the rest of a larger area is zeroed";
  EXPECT_EQ(::lseek(tic.descriptor(), 0, SEEK_CUR), position) << "the object's descriptor is not used";

  EXPECT_EQ(tic.compute_mac(-1, out, sizeof out), -1);
  ASSERT_EQ(::unlink(archive.path.c_str()), 0);
  EXPECT_EQ(tic.compute_mac(0, out, sizeof out), -1) << "the path cannot be opened again";
  EXPECT_EQ(tic.validate(), -1);
  EXPECT_EQ(Tic(nullptr, false, nullptr, 0).validate(), -1) << "no archive open";
}

TEST(StreamEncryption, SetUpOnlyWithAKey) {
  a_tic_support support;
  support.encryption.direction = ENCRYPT_READING;
  const Tic keyed(nullptr, false, key_bytes(kKey), key_length(kKey));
  keyed.init_encryption(&support);
  EXPECT_EQ(support.encryption.direction, ENCRYPT_READING);
  EXPECT_EQ(support.encryption.key, key_bytes(kKey));
  EXPECT_EQ(support.encryption.key_length, key_length(kKey));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(support.encryption.chain), 8), kKey.substr(0, 8));

  support.encryption.direction = ENCRYPT_WRITING;
  Tic(nullptr, false, key_bytes(kKey), 0).init_encryption(&support);
  EXPECT_EQ(support.encryption.direction, ENCRYPT_NONE);
}

}  // namespace
