// The streams of an archive or a set in the order they lie, walked one at a
// time (StreamOrder), against the references sorted whole
// (Tic::selected_streams): the same files, archives and ranks in the same
// order, whether the streams lie in name order (nothing held) or not.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/laid_out_archive.h"
#include "support/temp_dir.h"
#include "tic/archive/multi_tic.h"
#include "tic/archive/stream_order.h"

namespace {

const std::string kKey = "stream order";
const std::vector<LaidOutOption> kOptions = {{"a", "", 0}, {"b", "", 1}};

using Walked = std::vector<std::tuple<std::string, int, uint32_t>>;

// Entries in the order given; their streams lie in that order, each as long
// as its name says, so that offsets differ from member to member.
void lay_out(const std::string& path, const std::vector<std::string>& names, uint64_t mask = 0b11) {
  std::vector<LaidOutEntry> entries;
  for (const std::string& name : names) entries.push_back({name, mask, "stream of " + name, 1, 0, 0, 0, 0});
  write_file(path, lay_out_archive(entries, kOptions, false, kKey).bytes);
}

Walked walked(Tic& set, const std::string& options, const Tic::a_stream_filter& keep, bool held,
              StreamOrder::an_order by = StreamOrder::kAsTheyLie) {
  StreamOrder order(set, options, keep, by);
  EXPECT_EQ(order.start(), 0);
  EXPECT_EQ(order.held(), held);
  Walked out;
  a_stream_ref ref;
  while (order.next(ref)) out.emplace_back(*ref.name, ref.descriptor, ref.rank);
  EXPECT_EQ(out.size(), order.size());
  return out;
}

// The same, one at a time in name order.
Walked by_name(Tic& set, const std::string& options, const Tic::a_stream_filter& keep) {
  Walked out;
  EXPECT_EQ(set.for_each_selected_stream(options, [&](const a_stream_ref& ref) {
    if (!keep || keep(ref)) out.emplace_back(*ref.name, ref.descriptor, ref.rank);
  }), 0);
  return out;
}

Walked sorted_whole(Tic& set, const std::string& options, const Tic::a_stream_filter& keep) {
  std::vector<a_stream_ref> refs;
  EXPECT_EQ(set.selected_streams(options, refs, keep), 0);
  Walked out;
  for (const a_stream_ref& ref : refs) out.emplace_back(*ref.name, ref.descriptor, ref.rank);
  return out;
}

// Three members whose names interleave, share names (the first member with
// a stream supplies it) and whose first streams all lie at 104; with a
// filter that leaves every third file out, ranks still count them all.
// Walked by name, each comes with the member that supplies it.
TEST(StreamOrder, ASetInNameOrderMergesItsMembersWithoutHoldingAFile) {
  TempDir dir;
  lay_out(dir / "m0.tic", {"B", "a/x", "a/y", "z"});
  lay_out(dir / "m1.tic", {"Z", "a/x", "b", "c\xff", "zz"});
  lay_out(dir / "m2.tic", {"a", "a/w", "a/y", "d", "z", "\xc3\xa9"});
  MultiTic set({dir / "m0.tic", dir / "m1.tic", dir / "m2.tic"}, false, nullptr, 0);
  const Tic::a_stream_filter every_third = [](const a_stream_ref& ref) { return ref.rank % 3 != 1; };
  for (const Tic::a_stream_filter& keep : {Tic::a_stream_filter(), every_third}) {
    const Walked expected = sorted_whole(set, "*", keep);
    EXPECT_EQ(walked(set, "*", keep, false), expected);
    EXPECT_EQ(expected.size(), keep ? 8u : 12u);
    EXPECT_EQ(walked(set, "*", keep, false, StreamOrder::kByName), by_name(set, "*", keep));
  }
}

// Streams that do not lie in name order (as another writer may lay them)
// are held and sorted, unless walked by name; a selection of one option
// walks its files alone.
TEST(StreamOrder, StreamsOutOfNameOrderAreHeldAndSorted) {
  TempDir dir;
  const std::string one = dir / "one.tic";  // the archive keeps its path's pointer
  lay_out(one, {"m", "b", "x", "a"});
  Tic archive(one.c_str(), false, nullptr, 0);
  EXPECT_EQ(walked(archive, "*", nullptr, true), sorted_whole(archive, "*", nullptr));
  EXPECT_EQ(walked(archive, "*", nullptr, false, StreamOrder::kByName), by_name(archive, "*", nullptr))
      << "by name, nothing is held";
  lay_out(dir / "two.tic", {"a", "b"}, 0b10);
  MultiTic set({one, dir / "two.tic"}, false, nullptr, 0);
  EXPECT_EQ(walked(set, "b", nullptr, true), sorted_whole(set, "b", nullptr));
}

}  // namespace
