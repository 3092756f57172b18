// The list file: columns, numbers, option numbering and the two messages.
// tictool shows the message for a short line end to end.
#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tic/toc.h"

namespace {

// Loads |text| as a list file into |toc|; returns what went to standard error.
std::string load(const std::string& text, TicToc& toc, bool expect_ok) {
  TempDir dir;
  write_file(dir / "list", text);
  testing::internal::CaptureStderr();
  EXPECT_EQ(toc.read((dir / "list").c_str()), expect_ok) << text;
  return testing::internal::GetCapturedStderr();
}

// An entry's mask, control mask, aux_a, aux_b, aux_c and data offset.
using Words = std::vector<uint64_t>;
Words words(const TicTocEntry& e) { return {e.mask, e.control_mask, e.aux_a, e.aux_b, e.aux_c, e.data_offset}; }

TEST(ListFile, ReadsEveryColumnAndNumbersOptionsByFirstAppearance) {
  TicToc toc;
  // The last line has no "\n".
  EXPECT_EQ(load("bin/tool;c;a;0x10;010;7\nempty;;;;;;extra\nlast;b|c;*;12abc;0;0", toc, true), "");
  std::map<std::string, uint64_t> bits;
  for (const auto& [name, option] : toc.options.option_map) bits[name] = option.bit;
  // "*" is an ordinary name here, not "every option".
  EXPECT_EQ(bits, (std::map<std::string, uint64_t>{{"c", 0}, {"a", 1}, {"b", 2}, {"*", 3}}));
  EXPECT_EQ(words(toc.file_map.at("bin/tool")), (Words{1, 2, 16, 8, 7, 0}));
  EXPECT_EQ(words(toc.file_map.at("empty")), (Words{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(words(toc.file_map.at("last")), (Words{5, 8, 12, 0, 0, 0}));
  TempDir dir;
  EXPECT_TRUE(toc.read((dir / "absent").c_str())) << "no file: an empty list";
  EXPECT_TRUE(toc.file_map.empty() && toc.options.option_map.empty());
}

TEST(ListFile, ABadLineFailsTheListWithItsMessage) {
  const std::pair<const char*, const char*> cases[] = {
      {"t;a;;1;2;\n", "load: invalid entry found: t\n"},  // a ";" at the end adds no field
      {"a;o;;0;0;0\n\nb;o;;0;0;0\n", "load: invalid entry found: \n"},
      {"a;x;;0;0;0\na;y;;0;0;0\n", "load: duplicate file found: a\n"},
  };
  TicToc toc;
  for (const auto& [text, message] : cases) EXPECT_EQ(load(text, toc, false), message);
}

}  // namespace
