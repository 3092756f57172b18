// The record and the tables walked side by side by path, and what a run
// keeps on disk until it ends (names, files put in place by rank).
#include "install/side_by_side.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "crypto/archive_key.h"
#include "install/name_spool.h"
#include "install/placed_files.h"
#include "support/archive_writer.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/archive/multi_tic.h"

namespace {

a_recorded_file sized(uint64_t size) {
  a_recorded_file file;
  file.size = size;
  return file;
}

class SideBySide : public testing::Test {
 protected:
  // The walk of a record holding |recorded| beside an archive of
  // |archived| (written in that order, so its streams are not in name
  // order), each path as "<path> <r><s><rank>".
  std::vector<std::string> walk(const std::vector<std::string>& recorded, const std::vector<std::string>& archived) {
    std::vector<ForgedEntry> entries;
    for (const std::string& name : archived) entries.push_back({name, "data of " + name});
    const std::string path = dir_ / "set.tic";
    write_forged_archive(path, entries, product_key());
    a_record_files files;
    for (const std::string& name : recorded) files.put(name, sized(name.size()));
    const ArchiveKey key;
    MultiTic set({path}, false, key.bytes(), key.length());
    std::vector<std::string> out;
    const Outcome walked = walk_side_by_side(files, set, "o", [&](const a_path_pair& pair) {
      std::string line = *pair.path + " ";
      if (pair.recorded != nullptr) line += "r";
      if (pair.selected != nullptr) line += "s" + std::to_string(pair.selected->rank);
      if (pair.recorded != nullptr) {
        EXPECT_EQ(pair.recorded->size, pair.path->size());
      }
      out.push_back(line);
    });
    EXPECT_TRUE(walked.ok()) << walked.failure().text();
    return out;
  }

  TempDir dir_;
};

// Upper case, punctuation, UTF-8 and bytes that are no UTF-8 sort as
// bytes; a path on one side only comes once, in its place.
TEST_F(SideBySide, RecordAndSelectionInterleaveByPathInByteOrder) {
  EXPECT_EQ(walk({"B", "a", "b/c", "\xc3\xa4", "\xff"}, {"\xff", "b/c", "a.b", "a", "Z", "_", "a-b"}),
            (std::vector<std::string>{"B r", "Z s0", "_ s1", "a rs2", "a-b s3", "a.b s4", "b/c rs5", "\xc3\xa4 r",
                                      "\xff rs6"}));
}

TEST_F(SideBySide, EitherSideMayBeEmptyOrEntirelyBeforeTheOther) {
  EXPECT_EQ(walk({}, {"b", "a"}), (std::vector<std::string>{"a s0", "b s1"}));
  EXPECT_EQ(walk({"x", "y"}, {"b", "a"}), (std::vector<std::string>{"a s0", "b s1", "x r", "y r"}));
  EXPECT_EQ(walk({"a", "b"}, {"y", "x"}), (std::vector<std::string>{"a r", "b r", "x s0", "y s1"}));
}

// A name that is not its path ("./z") goes where its path goes; its rank
// stays its place among the names.
TEST_F(SideBySide, NamesThatAreNotTheirPathsGoByTheirPaths) {
  EXPECT_EQ(walk({"m", "z"}, {"./z", "a", "n"}), (std::vector<std::string>{"a s1", "m r", "n s2", "z rs0"}));
}

TEST(NameSpool, NamesComeBackInTheirOrderAcrossBlocks) {
  TempDir dir;
  NameSpool spool(dir.path());
  std::vector<std::string> names;
  for (int i = 0; i < 20000; ++i) names.push_back(std::to_string(i) + std::string(static_cast<size_t>(i % 13), '\xff'));
  names.push_back("");
  for (const std::string& name : names) spool.add(name);
  for (int pass = 0; pass < 2; ++pass) {
    spool.rewind();
    std::vector<std::string> back;
    std::string name;
    while (spool.next(name)) back.push_back(name);
    EXPECT_EQ(back, names);
  }
}

// Files are put in place in stream order; the record asks for them by
// rank, in name order.
TEST(PlacedFiles, EachRankGivesBackWhatWasPutInPlaceForIt) {
  TempDir dir;
  for (const std::string& where : {dir.path(), std::string("/nonexistent/directory")}) {
    PlacedFiles placed;
    const uint32_t count = 5000;
    placed.open(where, count);
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (uint32_t rank : order)
      if (rank % 3 != 0) placed.add(rank, sized(rank * 10ull));
    for (uint32_t rank = 0; rank < count; ++rank) {
      a_recorded_file file;
      ASSERT_EQ(placed.get(rank, file), rank % 3 != 0) << rank;
      if (rank % 3 != 0) {
        EXPECT_EQ(file.size, rank * 10ull);
      }
    }
  }
}

}  // namespace
