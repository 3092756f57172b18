// Archive sets: merging tables of contents, member order, positioning, and
// the listing and sizing operations on a set.
#include <gtest/gtest.h>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/multi_tic.h"

namespace {

// Defines |names| (in order) in |toc| and returns their mask there.
unsigned long long define(TicToc& toc, const std::string& names) { return toc.options.option_mask(names); }

unsigned long long bit_of(const TicToc& toc, const std::string& name) {
  return option_bit_value(toc.options.option_map.at(name).bit);
}

TEST(Merge, NumbersTheFirstTablesOptionsFirstThenEachNewOneInNameOrder) {
  TicToc first, second, merged;
  define(first, "x|b");
  first.options.description_map["b"] = "#b.ctl";
  define(second, "z|b|a");
  second.options.description_map["b"] = "other";
  second.options.description_map["a"] = "#a.ctl";

  merged.merge(first);
  merged.merge(second);
  const auto& options = merged.options.option_map;
  EXPECT_EQ(options.at("b").bit, 0u);
  EXPECT_EQ(options.at("x").bit, 1u);
  EXPECT_EQ(options.at("a").bit, 2u);
  EXPECT_EQ(options.at("z").bit, 3u);
  EXPECT_EQ(merged.options.description_map.at("b"), "#b.ctl") << "a shared option keeps its first description";
  EXPECT_EQ(merged.options.description_map.at("a"), "#a.ctl");
}

TEST(Merge, RemapsMasksAndUnionsThemAcrossTables) {
  TicToc first, second, merged;
  define(first, "server|client");
  define(second, "docs|client");
  first.file_map["both"] = make_entry(define(first, "server"));
  second.file_map["both"] = make_entry(define(second, "client|docs"));
  TicTocEntry control = make_entry(0);
  control.control_mask = define(second, "docs");
  second.file_map["#docs.ctl"] = control;

  merged.merge(first);
  merged.merge(second);
  EXPECT_EQ(merged.file_map.at("both").mask, bit_of(merged, "server") | bit_of(merged, "client") | bit_of(merged, "docs"));
  EXPECT_EQ(merged.file_map.at("#docs.ctl").mask, 0u);
  EXPECT_NE(merged.file_map.at("#docs.ctl").control_mask & bit_of(merged, "docs"), 0u);
}

TEST(Merge, StarOptionSelectsEveryBitOfTheIncomingMask) {
  TicToc other, merged;
  define(merged, "a|b");
  define(other, "*");
  other.file_map["f"] = make_entry(1);  // belongs to "*" only
  merged.merge(other);
  EXPECT_EQ(merged.file_map.at("f").mask, bit_of(merged, "*"));
}

TEST(Merge, TakesTheStreamFromTheFirstTableThatHasOne) {
  TicToc without, with, later, merged;
  without.file_map["f"] = make_entry(kFullMask);
  TicTocEntry stream = make_entry(kFullMask, 500, 42);
  stream.stored_length = 9;
  stream.mac[0] = 0x5A;
  with.file_map["f"] = stream;
  later.file_map["f"] = make_entry(kFullMask, 900, 1);

  merged.merge(without);
  merged.merge(with);
  merged.merge(later);
  const TicTocEntry& f = merged.file_map.at("f");
  EXPECT_EQ(f.data_offset, 500u);
  EXPECT_EQ(f.file_size, 42u);
  EXPECT_EQ(f.stored_length, 9u);
  EXPECT_EQ(f.mac[0], 0x5A);
}

TEST(Merge, CarriedWordsAreOredAndAnded) {
  TicToc first, second, merged;
  TicTocEntry a = make_entry(0), b = make_entry(0);
  a.aux_a = 1, a.aux_b = 4, a.aux_c = 3;
  b.aux_a = 2, b.aux_b = 8, b.aux_c = 6;
  first.file_map["f"] = a;
  second.file_map["f"] = b;
  merged.merge(first);
  merged.merge(second);
  EXPECT_EQ(merged.file_map.at("f").aux_a, 3u);
  EXPECT_EQ(merged.file_map.at("f").aux_b, 12u);
  EXPECT_EQ(merged.file_map.at("f").aux_c, 2u);
}

// Two archives on disk that share the option "client" and the file "shared".
struct ArchiveSet {
  TempDir dir;

  ArchiveSet() {
    TicToc a;  // options: client, server
    a.file_map["shared"] = make_entry(define(a, "client"));
    a.file_map["only-a"] = make_entry(define(a, "server"));
    write_test_archive(dir / "a.tic", a, true, {{"only-a", "AAAA"}});

    TicToc b;  // options: client, docs
    b.file_map["shared"] = make_entry(define(b, "docs|client"), 0, 6);
    b.file_map["manual"] = make_entry(define(b, "docs"), 0, 10);
    write_test_archive(dir / "b.tic", b, true, {{"shared", "SHARED"}, {"manual", "MANUALTEXT"}});
  }
  std::string path(const char* name) const { return dir / name; }
};

TEST(ArchiveSetMembers, AreVisitedInPathOrderWhateverTheListOrder) {
  ArchiveSet files;
  MultiTic set({files.path("b.tic"), files.path("a.tic"), files.path("b.tic")}, false, nullptr, 0);
  EXPECT_EQ(set.members().size(), 2u) << "a repeated path gives one member";
  ASSERT_EQ(set.read_toc(false), 0);
  const TicToc& toc = set.get_toc();
  // a.tic merged first: its options take the low bit numbers.
  EXPECT_EQ(toc.options.option_map.at("client").bit, 0u);
  EXPECT_EQ(toc.options.option_map.at("server").bit, 1u);
  EXPECT_EQ(toc.options.option_map.at("docs").bit, 2u);
  EXPECT_EQ(toc.file_map.at("shared").mask, bit_of(toc, "client") | bit_of(toc, "docs"));
}

TEST(ArchiveSetMembers, SeekFindsTheMemberThatHoldsTheStream) {
  ArchiveSet files;
  MultiTic set({files.path("a.tic"), files.path("b.tic")}, false, nullptr, 0);
  ASSERT_EQ(set.read_toc(false), 0);
  const int fd = set.seek_file("shared");
  ASSERT_EQ(fd, set.members().at(files.path("b.tic"))->descriptor());
  std::string bytes(6, '\0');
  ASSERT_EQ(read_full(fd, bytes.data(), 6), 6);
  EXPECT_EQ(bytes, "SHARED");
  EXPECT_EQ(set.seek_file("absent"), -1);
}

TEST(ArchiveSetMembers, AnEmptySetReadsAndValidatesAsEmpty) {
  MultiTic set({}, false, nullptr, 0);
  EXPECT_EQ(set.read_toc(false), 0);
  EXPECT_EQ(set.validate(), 0);
  EXPECT_TRUE(set.get_toc().file_map.empty());
  EXPECT_EQ(set.seek_file("x"), -1);
}

TEST(ArchiveSetMembers, AnUnreadableMemberStopsTheMergeWhereItSorts) {
  ArchiveSet files;
  MultiTic first_missing({files.path("0-missing.tic"), files.path("a.tic")}, false, nullptr, 0);
  EXPECT_EQ(first_missing.read_toc(false), -1);
  EXPECT_TRUE(first_missing.get_toc().file_map.empty());
  EXPECT_EQ(first_missing.validate(), -1);

  MultiTic last_missing({files.path("a.tic"), files.path("z-missing.tic")}, false, nullptr, 0);
  EXPECT_EQ(last_missing.read_toc(false), -1);
  EXPECT_EQ(last_missing.get_toc().file_map.count("only-a"), 1u) << "members before it stay merged";
}

TEST(Listing, SelectsEntriesWithDataByMaskAndSumsTheirSizes) {
  ArchiveSet files;
  MultiTic set({files.path("a.tic"), files.path("b.tic")}, false, nullptr, 0);
  EXPECT_EQ(set.bytes_required(""), 0u);
  EXPECT_EQ(set.bytes_required("docs"), 16u);
  EXPECT_EQ(set.bytes_required("client||"), 6u);
  EXPECT_EQ(set.bytes_required("unknown|*"), 16u) << "only-a has no recorded size";

  TicToc out;
  EXPECT_EQ(set.list(out, "client", false), 0);
  EXPECT_EQ(out.file_map.size(), 1u);
  EXPECT_EQ(set.list(out, "server", false), 0);
  EXPECT_EQ(out.file_map.size(), 2u) << "a second list only adds";
}

TEST(Listing, AllAddsEntriesWithoutDataButNeverOverwritesOneWithData) {
  TempDir dir;
  TicToc toc;
  toc.file_map["nodata"] = make_entry(1);
  toc.file_map["data"] = make_entry(1, 0, 3);
  toc.file_map["unselected"] = make_entry(0);
  write_test_archive(dir / "t.tic", toc, true, {{"data", "xyz"}});
  Tic tic((dir / "t.tic").c_str(), false, nullptr, 0);

  TicToc out;
  out.file_map["data"] = make_entry(1, 7777, 1);
  EXPECT_EQ(tic.list(out, "*", true), 0);
  EXPECT_EQ(out.file_map.size(), 2u);
  EXPECT_EQ(out.file_map.at("data").data_offset, 7777u);
  EXPECT_EQ(out.file_map.at("nodata").data_offset, 0u);
}

TEST(Listing, AnUnreadableTableSelectsNothingAndSetsTheErrorWord) {
  TempDir dir;
  MultiTic set({dir / "missing.tic"}, false, nullptr, 0);
  TicToc out;
  EXPECT_EQ(set.bytes_required("*"), 0u);
  EXPECT_NE(ERROR, 0);
  EXPECT_EQ(set.list(out, "*", true), 1);
  EXPECT_TRUE(out.file_map.empty());
  EXPECT_EQ(set.list(), -1);
}

}  // namespace
