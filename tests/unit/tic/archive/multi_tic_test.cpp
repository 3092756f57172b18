// Archive sets: merging tables of contents, and a member that cannot be read.
// list, space, options and install show the merged numbering, the selection
// and the member holding each stream end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "support/archive_writer.h"
#include "support/fresh_error_word.h"
#include "support/temp_dir.h"
#include "tic/archive/archive_steps.h"
#include "tic/archive/multi_tic.h"

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
  stream.stored_length = 9, stream.mac[0] = 0xAB;
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
  EXPECT_EQ((Words{f.mask, f.control_mask, f.data_offset, f.file_size, f.stored_length, f.mac[0], f.aux_a, f.aux_b,
                   f.aux_c}),
            (Words{0b1110, 0b0001, 500, 42, 9, 0xAB, 3, 12, 2}));
}

// Merging walks the tables side by side: names of a later table that fall
// between, before, after and far beyond this table's names, in runs and
// alone, all land once, and a name's stream comes from the first table that
// has one. The expectation is worked out name by name.
TEST(Merge, TablesWhoseNamesInterleaveInRunsAndGapsMergeNameByName) {
  auto name = [](int i) {
    char text[16];
    snprintf(text, sizeof text, "f%06d", i);
    return std::string(text);
  };
  std::vector<TicToc> tables(4);
  const std::vector<std::vector<int>> ids = {
      {10, 20, 30, 1000, 1001, 1002, 5000},  // sparse, with a run
      {0, 1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 999, 1001, 4000, 9000},  // before, between, runs
      {5, 30, 5000, 5001, 9001, 9002},  // few names spread wide
      {},
  };
  for (int i = 0; i < 3000; i += 7) tables[3].file_map[name(i)] = make_entry(kFullMask, 0);  // long runs, no streams
  // The first table's odd names have no stream: a later table supplies it.
  for (size_t t = 0; t < 3; ++t)
    for (const int i : ids[t]) tables[t].file_map[name(i)] = make_entry(kFullMask, t == 0 && i % 2 ? 0 : 100000 * (t + 1) + i);
  TicToc merged;
  for (const TicToc& table : tables) merged.merge(table);

  std::map<std::string, uint64_t> expected;  // name -> data_offset of the first stream
  for (const TicToc& table : tables)
    for (const auto& [n, entry] : table.file_map)
      if (expected.emplace(n, entry.data_offset).second == false && expected[n] == 0) expected[n] = entry.data_offset;
  ASSERT_EQ(merged.file_map.size(), expected.size());
  for (const auto& [n, offset] : expected) EXPECT_EQ(merged.file_map.at(n).data_offset, offset) << n;
}

class ArchiveSet : public FreshErrorWord {};

// The status of list, space and options is always 0; the error word is what
// tells a caller in the process that the set could not be read.
TEST_F(ArchiveSet, AMemberThatCannotBeReadFailsTheSetAndSetsTheErrorWord) {
  TempDir dir;
  TicToc toc;
  toc.file_map["f"] = make_entry(toc.options.option_mask("o"), 0, 4);
  write_test_archive(dir / "a.tic", toc, true, {{"f", "AAAA"}});
  MultiTic set({dir / "a.tic", dir / "z-missing.tic"}, false, nullptr, 0);
  EXPECT_EQ(set.bytes_required("*"), 0u) << "not even the readable member counts";
  EXPECT_EQ(ERROR >> 8, 0x64e) << "the step of sizing";
  EXPECT_EQ(set.read_failure().line(), (dir / "z-missing.tic") + ": No such file or directory");
  EXPECT_EQ(set.integrity().failure().line(), (dir / "a.tic") + ": archive does not match its MAC")
      << "the first member in path order that fails the check";
}

}  // namespace
