// The key the builder walks out of its stored table.
#include "crypto/archive_key.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

TEST(ArchiveKey, KeyIsTextOf16To32BytesNotStoredWhole) {
  char buffer[kArchiveKeyBufferSize];
  __Xk(buffer, sizeof buffer);
  const std::string key = buffer;
  EXPECT_TRUE(key.size() >= 16 && key.size() <= 32) << key.size();
  __Xk(buffer, 5);
  EXPECT_EQ(std::string(buffer), key.substr(0, 4)) << "a short buffer gets a cut key, still terminated";
  EXPECT_EQ(read_file(KESTREL_BIN).find(key.substr(0, 8)), std::string::npos) << "8 key bytes in a row";
}
