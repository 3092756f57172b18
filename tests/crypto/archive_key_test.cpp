// The key builder: the walk over the stored table, and the key it yields.
#include "crypto/archive_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string build_key(unsigned size, const unsigned char* table = obfuscated_key) {
  const unsigned char* saved = obfuscated_key;
  obfuscated_key = table;
  std::string buffer(size, '\x7f');
  __Xk(buffer.data(), size);
  obfuscated_key = saved;
  return buffer;
}

TEST(ArchiveKey, WalksFromPosition12BySignedStepsUntilZeroOrFull) {
  unsigned char table[64];
  std::memset(table, 0x55, sizeof table);  // noise the walk must not reach
  table[12] = 0x20;                        // +32 -> 44
  table[44] = 0xF6;                        // -10 -> 34
  table[34] = 0x03;                        // +3  -> 37
  table[37] = 0x00;
  EXPECT_EQ(build_key(8, table), std::string("\x20\xF6\x03\0\0\0\0\0", 8));

  table[34] = 0x16;  // +22 -> 56
  table[56] = 0xD4;  // -44 -> 12: a cycle that never meets a zero
  EXPECT_EQ(build_key(6, table), std::string("\x20\xF6\x16\xD4\x20\0", 6));
  EXPECT_EQ(build_key(1, table), std::string(1, '\0'));
  EXPECT_EQ(build_key(0, table), "");
}

// The table is compiled into this test program; its file must not carry the
// key as one run of bytes anywhere.
TEST(ArchiveKey, KeyIsTextOf16To32BytesNotStoredWhole) {
  const std::string buffer = build_key(kArchiveKeyBufferSize);
  const size_t length = std::strlen(buffer.c_str());
  EXPECT_GE(length, 16u);
  EXPECT_LE(length, 32u);
  EXPECT_EQ(buffer.find_first_not_of('\0', length), std::string::npos);
  const std::string key = buffer.substr(0, length);
  EXPECT_EQ(build_key(5), key.substr(0, 4) + '\0');

  const std::string program = read_file("/proc/self/exe");
  EXPECT_EQ(program.find(key.substr(0, 8)), std::string::npos);
}

}  // namespace
