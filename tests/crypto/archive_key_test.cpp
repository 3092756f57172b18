// The key the builder walks out of its stored table.
#include "crypto/archive_key.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

TEST(ArchiveKey, KeyIsTextOf16To32BytesNotStoredWhole) {
  char buffer[kArchiveKeyBufferSize];
  __Xk(buffer, sizeof buffer);
  const std::string key = buffer;
  EXPECT_GE(key.size(), 16u);
  EXPECT_LE(key.size(), 32u);
  __Xk(buffer, 5);
  EXPECT_EQ(std::string(buffer), key.substr(0, 4)) << "a short buffer gets a cut key, still terminated";
  // This test program carries the table too; neither file holds 8 key bytes in a row.
  for (const char* program : {"/proc/self/exe", KESTREL_BIN})
    EXPECT_EQ(read_file(program).find(key.substr(0, 8)), std::string::npos) << program;
}
