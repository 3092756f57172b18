// The directory scan: what it records, under which names, and where it stops.
#include "scan/dir_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "support/temp_dir.h"

namespace {

using Recorded = std::map<std::string, bool>;

const std::string kStamp = std::string("@@==Version==@1@MODULE=demo\0VERSION_MAJOR=2\0\0", 45);

// Path -> present.
Recorded recorded(const a_dir_scan_info& scan) {
  Recorded out;
  for (const auto& [path, entry] : scan.files) out[path] = entry.present;
  return out;
}

// a, sub/b (stamped), old./hidden (in a directory ending in "."), notes.
void make_tree(const std::string& dir) {
  write_file(dir + "/a", "a");
  write_file(dir + "/sub/b", "binary " + kStamp + " tail");
  write_file(dir + "/old./hidden", "h");
  write_file(dir + "/notes.", "n");
}

TEST(DirScan, NamesMembersByTheGivenPathAndReadsNoStampThroughALink) {
  TempDir tmp;
  make_tree(tmp / "dir");
  ASSERT_EQ(symlink("sub", (tmp / "dir/link").c_str()), 0);
  ASSERT_EQ(symlink("sub/b", (tmp / "dir/blink").c_str()), 0);
  ScopedWorkingDirectory here(tmp.path());

  a_dir_scan_info named("dir");
  EXPECT_EQ(recorded(named), (Recorded{{"dir/a", true}, {"dir/blink", true}, {"dir/link", true},
                                       {"dir/notes.", true}, {"dir/sub/b", true}}));
  for (const char* link : {"dir/link", "dir/blink"}) EXPECT_EQ(named.files.at(link).info, nullptr) << link;
  EXPECT_STREQ(__Find_arg(named.files.at("dir/sub/b").info.get(), "MODULE"), "demo");

  ScopedWorkingDirectory inside(tmp / "dir");
  a_dir_scan_info dot;
  EXPECT_EQ(dot.scan_dir("."), 0);
  EXPECT_EQ(recorded(dot), (Recorded{{"a", true}, {"blink", true}, {"link", true}, {"notes.", true}, {"sub/b", true}}));
}

TEST(DirScan, KeepPathElementsKeepsTheLastElements) {
  TempDir tmp;
  make_tree(tmp / "x/y/z");
  const std::string start = current_directory();
  a_dir_scan_info one, two, whole;
  EXPECT_EQ(one.scan_dir_keep_path_elements(tmp / "x/y/z", 1), 0);
  EXPECT_EQ(recorded(one), (Recorded{{"z/a", true}, {"z/notes.", true}, {"z/sub/b", true}}));
  EXPECT_EQ(two.scan_dir_keep_path_elements(tmp / "x/y/z/", 2), 0) << "a trailing slash adds no element";
  EXPECT_EQ(two.files.count("y/z/sub/b"), 1u);
  EXPECT_EQ(current_directory(), start);

  // Fewer separators than the count: the whole path, from the current directory.
  ScopedWorkingDirectory here(tmp / "x");
  EXPECT_EQ(whole.scan_dir_keep_path_elements("y/z", 5), 0);
  EXPECT_EQ(whole.files.count("y/z/a"), 1u);
}

TEST(DirScan, PathListsAbsentPathsAndRescans) {
  TempDir tmp;
  const std::string long_name(3000, 'n');
  write_file(tmp / "f", kStamp);
  write_file(tmp / "paths", "f\ngone\n" + long_name + "\nlast-without-newline");
  ScopedWorkingDirectory here(tmp.path());

  // Listed paths are recorded present without a look; a long line is one path.
  a_dir_scan_info scan(std::vector<std::string>{"@paths", "absent"});
  EXPECT_EQ(recorded(scan), (Recorded{{"absent", false}, {"f", true}, {"gone", true}, {long_name, true},
                                      {"last-without-newline", true}}));
  scan.scan("f");
  EXPECT_EQ(scan.files.size(), 5u);
  EXPECT_NE(scan.files.at("f").info, nullptr) << "the rescan updates the one entry";
}

}  // namespace
