// The directory scan: what it records, under which names, and where it stops.
// Scans of "." and of single directories given to tictool show end to end.
#include "scan/dir_scan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

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

TEST(DirScan, NamesMembersByTheGivenPathAndReadsNoStampThroughALink) {
  TempDir tmp;
  write_file(tmp / "dir/sub/b", "binary " + kStamp + " tail");
  write_file(tmp / "dir/old./hidden", "in a directory ending in a dot");
  write_file(tmp / "dir/notes.", "a file ending in a dot");
  ASSERT_EQ(symlink("sub", (tmp / "dir/link").c_str()), 0);
  ASSERT_EQ(symlink("sub/b", (tmp / "dir/blink").c_str()), 0);
  ScopedWorkingDirectory here(tmp.path());
  a_dir_scan_info named("dir");
  EXPECT_EQ(recorded(named), (Recorded{{"dir/blink", true}, {"dir/link", true}, {"dir/notes.", true},
                                       {"dir/sub/b", true}}));
  for (const char* link : {"dir/link", "dir/blink"}) EXPECT_EQ(named.files.at(link).info, nullptr) << link;
  EXPECT_EQ(named.skipped_directories, std::vector<std::string>{"dir/old."}) << "\".\" and \"..\" are not counted";
  EXPECT_STREQ(__Find_arg(named.files.at("dir/sub/b").info.get(), "MODULE"), "demo");
}

TEST(DirScan, KeepPathElementsKeepsTheLastElements) {
  TempDir tmp;
  write_file(tmp / "x/y/z/sub/b", "b");
  const std::string start = current_directory();
  a_dir_scan_info two, whole;
  EXPECT_EQ(two.scan_dir_keep_path_elements(tmp / "x/y/z/", 2), 0) << "a trailing slash adds no element";
  EXPECT_EQ(recorded(two), (Recorded{{"y/z/sub/b", true}}));
  EXPECT_EQ(current_directory(), start);

  // Fewer separators than the count: the whole path, from the current directory.
  ScopedWorkingDirectory here(tmp / "x");
  EXPECT_EQ(whole.scan_dir_keep_path_elements("y/z", 5), 0);
  EXPECT_EQ(recorded(whole), (Recorded{{"y/z/sub/b", true}}));
}

TEST(DirScan, PathListsAndAbsentPaths) {
  TempDir tmp;
  write_file(tmp / "f", kStamp);
  write_file(tmp / "paths", "f\ngone\nlast-without-newline");
  ScopedWorkingDirectory here(tmp.path());

  // Listed paths are recorded present without a look.
  a_dir_scan_info scan(std::vector<std::string>{"@paths", "absent"});
  EXPECT_EQ(recorded(scan), (Recorded{{"absent", false}, {"f", true}, {"gone", true}, {"last-without-newline", true}}));
  EXPECT_NE(scan.files.at("f").info, nullptr) << "a listed file's stamp is read";
}

}  // namespace
