// Archive sets: merging tables of contents, members, positioning, listing and
// sizing.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/multi_tic.h"

namespace {

using Words = std::vector<uint64_t>;

TEST(Merge, RenumbersOptionsAndCombinesTheEntriesOfEveryTable) {
  TicToc first, second, third, merged;
  first.options.option_mask("x|b");
  first.options.description_map["b"] = "#b.ctl";
  second.options.option_mask("z|b|a");
  second.options.description_map = {{"b", "other"}, {"a", "#a.ctl"}};
  TicTocEntry& without_stream = first.file_map["f"] = make_entry(first.options.option_mask("x"));
  without_stream.aux_a = 1, without_stream.aux_b = 4, without_stream.aux_c = 3;
  TicTocEntry& stream = second.file_map["f"] = make_entry(second.options.option_mask("a|z"), 500, 42);
  stream.control_mask = second.options.option_mask("b");
  stream.stored_length = 9;
  stream.aux_a = 2, stream.aux_b = 8, stream.aux_c = 6;
  TicTocEntry& later_stream = third.file_map["f"] = make_entry(0, 900, 1);
  later_stream.aux_a = 0, later_stream.aux_c = ~0ULL;  // neutral for OR and AND
  for (const TicToc* table : {&first, &second, &third}) merged.merge(*table);

  // The first table's options in name order, then each later table's new ones.
  auto bit = [&](const char* name) { return merged.options.option_map.at(name).bit; };
  EXPECT_EQ((Words{bit("b"), bit("x"), bit("a"), bit("z")}), (Words{0, 1, 2, 3}));
  EXPECT_EQ(merged.options.description_map.at("b"), "#b.ctl") << "a shared option keeps its first description";
  EXPECT_EQ(merged.options.description_map.at("a"), "#a.ctl");
  // Masks remapped and unioned; the first stream kept; aux_a and aux_b ORed, aux_c ANDed.
  const TicTocEntry& f = merged.file_map.at("f");
  EXPECT_EQ((Words{f.mask, f.control_mask, f.data_offset, f.file_size, f.stored_length, f.aux_a, f.aux_b, f.aux_c}),
            (Words{0b1110, 0b0001, 500, 42, 9, 3, 12, 2}));
}

// a.tic (options client, server) and b.tic (options docs, client) share the
// file "shared", whose stream only b.tic holds.
struct ArchiveFiles {
  TempDir dir;
  std::string a = dir / "a.tic", b = dir / "b.tic";

  ArchiveFiles() {
    TicToc ta, tb;
    ta.file_map["shared"] = make_entry(ta.options.option_mask("client"));
    ta.file_map["only-a"] = make_entry(ta.options.option_mask("server"), 0, 4);
    ta.file_map["nodata"] = make_entry(ta.options.option_mask("server"));
    write_test_archive(a, ta, true, {{"only-a", "AAAA"}});
    tb.file_map["shared"] = make_entry(tb.options.option_mask("docs|client"), 0, 6);
    tb.file_map["manual"] = make_entry(tb.options.option_mask("docs"), 0, 10);
    write_test_archive(b, tb, true, {{"shared", "SHARED"}, {"manual", "MANUALTEXT"}});
  }
};

TEST(ArchiveSet, MergesMembersInPathOrderAndSeeksInTheOneHoldingTheStream) {
  ArchiveFiles files;
  MultiTic set({files.b, files.a, files.b}, false, nullptr, 0);
  EXPECT_EQ(set.members().size(), 2u) << "a repeated path gives one member";
  ASSERT_EQ(set.read_toc(false), 0);
  EXPECT_EQ(set.get_toc().options.option_map.at("docs").bit, 2u) << "a.tic merged first";
  const int fd = set.seek_file("shared");
  EXPECT_EQ(fd, set.members().at(files.b)->descriptor());
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(set.get_toc().file_map.at("shared").data_offset));
  EXPECT_EQ(set.seek_file("nodata"), -1);
}

TEST(ArchiveSet, AnUnreadableMemberStopsTheMergeWhereItSortsAndSetsTheErrorWord) {
  ArchiveFiles files;
  MultiTic first_missing({files.dir / "0-missing.tic", files.a}, false, nullptr, 0);
  ERROR = 0;
  EXPECT_EQ(first_missing.bytes_required("*"), 0u);
  EXPECT_NE(ERROR, 0);
  MultiTic last_missing({files.a, files.dir / "z-missing.tic"}, false, nullptr, 0);
  EXPECT_EQ(last_missing.read_toc(false), -1);
  EXPECT_EQ(last_missing.get_toc().file_map.count("only-a"), 1u) << "members before it stay merged";
}

TEST(Listing, SelectsByMaskAndSumsTheSizesOfEntriesWithData) {
  ArchiveFiles files;
  MultiTic set({files.a, files.b}, false, nullptr, 0);
  ERROR = 0;
  EXPECT_EQ(set.bytes_required("docs"), 16u);
  EXPECT_EQ(set.bytes_required("unknown|*"), 20u);
  TicToc out;
  out.file_map["manual"] = make_entry(1, 7777, 1);  // an entry with data is never replaced
  EXPECT_EQ(set.list(out, "server", false), 0);
  EXPECT_EQ(out.file_map.size(), 2u) << "only-a added; nodata lacks data";
  EXPECT_EQ(set.list(out, "*", true), 0);
  EXPECT_EQ(out.file_map.size(), 4u);
  EXPECT_EQ(out.file_map.at("manual").data_offset, 7777u);
}

}  // namespace
