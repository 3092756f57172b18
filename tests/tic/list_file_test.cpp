// The list file: columns, numbers, option numbering and the two messages.
#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"
#include "tic/list_file.h"
#include "tic/toc.h"

namespace {

struct Loaded {
  bool ok;
  std::string err;
  TicToc toc;
};

Loaded load(const std::string& text) {
  TempDir dir;
  write_file(dir / "list", text);
  Loaded result;
  testing::internal::CaptureStderr();
  result.ok = result.toc.read((dir / "list").c_str());
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

unsigned long long bit_of(const TicToc& toc, const char* name) {
  return option_bit_value(toc.options.option_map.at(name).bit);
}

TEST(ListFile, ReadsEveryColumn) {
  Loaded l = load("bin/tool;client|server;;0x10;010;7\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.err, "");
  const TicTocEntry& e = l.toc.file_map.at("bin/tool");
  EXPECT_EQ(e.mask, bit_of(l.toc, "client") | bit_of(l.toc, "server"));
  EXPECT_EQ(e.control_mask, 0u);
  EXPECT_EQ(e.aux_a, 16u);
  EXPECT_EQ(e.aux_b, 8u);
  EXPECT_EQ(e.aux_c, 7u);
  EXPECT_EQ(e.data_offset, 0u);
}

TEST(ListFile, NumbersOptionsByFirstAppearanceAcrossBothOptionColumns) {
  Loaded l = load("x;c;a;0;0;0\ny;b|c;*;0;0;0\n");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.toc.options.option_map.at("c").bit, 0u);
  EXPECT_EQ(l.toc.options.option_map.at("a").bit, 1u);
  EXPECT_EQ(l.toc.options.option_map.at("b").bit, 2u);
  // "*" is an ordinary option name here, not "everything".
  EXPECT_EQ(l.toc.file_map.at("y").control_mask, option_bit_value(3));
}

TEST(ListFile, EmptyColumnsGiveZeroAndExtraColumnsAreIgnored) {
  Loaded l = load("f;;;;;;extra;more\ng;a;;12abc; 5;-1;\n");
  ASSERT_TRUE(l.ok);
  const TicTocEntry& f = l.toc.file_map.at("f");
  EXPECT_EQ(f.mask, 0u) << "never selected, not even by *";
  EXPECT_EQ(f.aux_a, 0u);
  const TicTocEntry& g = l.toc.file_map.at("g");
  EXPECT_EQ(g.aux_a, 12u);
  EXPECT_EQ(g.aux_b, 5u);
  EXPECT_EQ(g.aux_c, ~0ULL);
}

TEST(ListFile, LastLineWithoutNewlineAndCarriageReturnsAreKept) {
  Loaded l = load("a;o;;0;0;1\r\nb;o;;0;0;2");
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.toc.file_map.at("a").aux_c, 1u) << "strtoull stops at the carriage return";
  EXPECT_EQ(l.toc.file_map.at("b").aux_c, 2u);
}

TEST(ListFile, FiveFieldsFailTheWholeListWithTheName) {
  Loaded l = load("ok;a;;0;0;0\nbin/tool;client;;1;2\nlater;b;;0;0;0\n");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.err, "load: invalid entry found: bin/tool\n");
  EXPECT_EQ(l.toc.file_map.count("ok"), 1u) << "what came before stays";
  EXPECT_EQ(l.toc.file_map.count("later"), 0u);

  // A trailing ";" adds no sixth field.
  Loaded trailing = load("t;a;;1;2;\n");
  EXPECT_FALSE(trailing.ok);
  EXPECT_EQ(trailing.err, "load: invalid entry found: t\n");
}

TEST(ListFile, AnEmptyLineIsAnInvalidEntryWithAnEmptyName) {
  Loaded l = load("a;o;;0;0;0\n\nb;o;;0;0;0\n");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.err, "load: invalid entry found: \n");
}

TEST(ListFile, DuplicateNamesFailTheList) {
  Loaded l = load("a;x;;0;0;0\na;y;;0;0;0\n");
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.err, "load: duplicate file found: a\n");
}

TEST(ListFile, AMissingFileReadsAsAnEmptyList) {
  TempDir dir;
  TicToc toc;
  toc.file_map["stale"] = TicTocEntry();
  toc.options.option_mask("stale");
  EXPECT_TRUE(toc.read((dir / "absent").c_str()));
  EXPECT_TRUE(toc.file_map.empty());
  EXPECT_TRUE(toc.options.option_map.empty());
}

TEST(ListFile, RowReaderSplitsOneLineAtATime) {
  std::istringstream in("a;b;;c;\nnext");
  CVSRow row;
  in >> row;
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row[2], "");
  EXPECT_EQ(row[3], "c");
  in >> row;
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0], "next");
}

}  // namespace
