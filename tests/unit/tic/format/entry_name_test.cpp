// Entry names: what may name a file inside an install directory, and why
// anything else may not.
#include "tic/format/entry_name.h"

#include <gtest/gtest.h>

#include "tic/format/format_steps.h"

namespace {

TEST(EntryName, RefusesWhatWouldLeaveTheInstallDirectoryOrForgeALineNamingIt) {
  const std::pair<std::string, const char*> refused[] = {
      {"", "empty name"},
      {"/etc/passwd", "absolute path"},
      {"..", "\"..\" in path"},
      {"a/../../b", "\"..\" in path"},
      {"a/..", "\"..\" in path"},
      {"a\nok", "control character in name"},
      {"a\x7f", "control character in name"},
      {"a\xc2\x9b" "31m", "control character in name"},  // C1 CSI in UTF-8
  };
  for (const auto& [name, why] : refused) {
    const Outcome named = valid_entry_name(name);
    ASSERT_FALSE(named.ok()) << name;
    EXPECT_EQ(named.failure().step, kStepEntryName);
    EXPECT_EQ(named.failure().subject, name);
    EXPECT_EQ(named.failure().text(), why) << name;
  }
  for (const std::string name : {"a", "a/b", "..a/b..", "a/.../b", "./a", "caf\xc3\xa9", "\xff\xfe"})
    EXPECT_TRUE(valid_entry_name(name).ok()) << name;
}

}  // namespace
