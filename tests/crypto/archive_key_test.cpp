// The key builder: the walk over the stored table, and the key it yields.
#include "crypto/archive_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace {

// Points the builder at another table for the length of a test.
class TableSwap {
 public:
  explicit TableSwap(const unsigned char* table) : saved_(obfuscated_key) { obfuscated_key = table; }
  ~TableSwap() { obfuscated_key = saved_; }

 private:
  const unsigned char* saved_;
};

std::string build_key(unsigned size) {
  std::string buffer(size, '\x7f');
  __Xk(buffer.data(), size);
  return buffer;
}

TEST(ArchiveKey, WalksFromPosition12BySignedSteps) {
  unsigned char table[64];
  std::memset(table, 0x55, sizeof table);  // noise the walk must not reach
  table[12] = 0x20;                        // +32 -> 44
  table[44] = 0xF6;                        // -10 -> 34
  table[34] = 0x03;                        // +3  -> 37
  table[37] = 0x00;                        // end
  TableSwap swap(table);
  const std::string key = build_key(kArchiveKeyBufferSize);
  EXPECT_EQ(key.substr(0, 4), std::string("\x20\xF6\x03", 4));
  EXPECT_EQ(key.find_first_not_of('\0', 3), std::string::npos) << "the rest of the buffer is zero";
}

TEST(ArchiveKey, StopsWhenTheBufferIsFull) {
  unsigned char table[64] = {};
  table[12] = 0x10;  // +16 -> 28
  table[28] = 0xF0;  // -16 -> 12: the walk never meets a zero
  TableSwap swap(table);
  EXPECT_EQ(build_key(6), std::string("\x10\xF0\x10\xF0\x10\0", 6));
  EXPECT_EQ(build_key(1), std::string(1, '\0'));
}

TEST(ArchiveKey, ZeroSizeLeavesTheBufferAlone) {
  char buffer[4] = {'a', 'b', 'c', 'd'};
  __Xk(buffer, 0);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

TEST(ArchiveKey, BuiltKeyIsTextOf16To32Bytes) {
  const std::string buffer = build_key(kArchiveKeyBufferSize);
  const size_t length = std::strlen(buffer.c_str());
  EXPECT_GE(length, 16u);
  EXPECT_LE(length, 32u);
  EXPECT_EQ(buffer.find_first_not_of('\0', length), std::string::npos);

  const std::string key = buffer.substr(0, length);
  EXPECT_EQ(build_key(5), key.substr(0, 4) + '\0') << "a small buffer gets the key's first bytes";
}

// The table is compiled into this test program; its file must not carry the
// key as one run of bytes anywhere.
TEST(ArchiveKey, KeyDoesNotStandWholeInTheProgram) {
  const std::string buffer = build_key(kArchiveKeyBufferSize);
  const std::string key = buffer.substr(0, std::strlen(buffer.c_str()));
  const std::string program = read_file("/proc/self/exe");
  ASSERT_GT(program.size(), 0u);
  EXPECT_EQ(program.find(key), std::string::npos);
  EXPECT_EQ(program.find(key.substr(0, 8)), std::string::npos);
}

}  // namespace
