// The directory scan: what it records, under which names, and where it stops.
#include "scan/dir_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "support/temp_dir.h"

namespace {

const std::string kStamp = std::string("@@==Version==@1@MODULE=demo\0VERSION_MAJOR=2\0\0", 45);

// Path -> present, for comparing whole scans.
std::map<std::string, bool> recorded(const a_dir_scan_info& scan) {
  std::map<std::string, bool> out;
  for (const auto& [path, entry] : scan.files) out[path] = entry.present;
  return out;
}

// dir/a, dir/sub/b (stamped), dir/old./hidden, dir/notes.
void make_tree(const std::string& dir) {
  write_file(dir + "/a", "a");
  write_file(dir + "/sub/b", "binary " + kStamp + " tail");
  write_file(dir + "/old./hidden", "h");
  write_file(dir + "/notes.", "n");
}

TEST(DirScan, MembersOfDotHaveBareNamesAndNamedDirectoriesKeepTheirPrefix) {
  TempDir tmp;
  make_tree(tmp / "dir");
  ScopedWorkingDirectory here(tmp.path());

  a_dir_scan_info named("dir");
  EXPECT_EQ(recorded(named), (std::map<std::string, bool>{{"dir/a", true}, {"dir/notes.", true}, {"dir/sub/b", true}}))
      << "old. ends in a dot and is not descended into; the file notes. is recorded";

  ScopedWorkingDirectory inside(tmp / "dir");
  a_dir_scan_info dot;
  EXPECT_EQ(dot.scan_dir("."), 0);
  EXPECT_EQ(recorded(dot), (std::map<std::string, bool>{{"a", true}, {"notes.", true}, {"sub/b", true}}));

  // "." given as an element ends in a dot too, so the element rule skips it.
  a_dir_scan_info element(".");
  EXPECT_TRUE(element.files.empty());
  EXPECT_EQ(dot.should_scan_dir("x."), 0u);
  EXPECT_EQ(dot.should_scan_dir("x"), 1u);
}

TEST(DirScan, ReadsVersionStampsOfFilesButNotThroughLinks) {
  TempDir tmp;
  make_tree(tmp / "dir");
  ASSERT_EQ(symlink("sub", (tmp / "dir/link").c_str()), 0);
  ASSERT_EQ(symlink("sub/b", (tmp / "dir/blink").c_str()), 0);
  ScopedWorkingDirectory here(tmp.path());

  a_dir_scan_info scan("dir");
  ASSERT_EQ(scan.files.count("dir/link"), 1u) << "a link to a directory is a file";
  EXPECT_EQ(scan.files.count("dir/link/b"), 0u);
  EXPECT_EQ(scan.files.at("dir/link").info, nullptr);
  EXPECT_EQ(scan.files.at("dir/blink").info, nullptr) << "the stamp behind a link is not read";
  ASSERT_NE(scan.files.at("dir/sub/b").info, nullptr);
  EXPECT_STREQ(__Find_arg(scan.files.at("dir/sub/b").info.get(), "MODULE"), "demo");
  EXPECT_EQ(scan.files.at("dir/a").info, nullptr);

  a_dir_scan_info quick;
  quick.read_version_info = false;
  quick.scan("dir/sub/b");
  EXPECT_TRUE(quick.files.at("dir/sub/b").present);
  EXPECT_EQ(quick.files.at("dir/sub/b").info, nullptr);
}

TEST(DirScan, KeepPathElementsKeepsTheLastElementsAndReturnsToTheDirectory) {
  TempDir tmp;
  make_tree(tmp / "x/y/z");
  const std::string start = current_directory();
  const std::string z = tmp / "x/y/z";

  a_dir_scan_info one;
  EXPECT_EQ(one.scan_dir_keep_path_elements(z, 1), 0);
  EXPECT_EQ(recorded(one), (std::map<std::string, bool>{{"z/a", true}, {"z/notes.", true}, {"z/sub/b", true}}));
  EXPECT_EQ(current_directory(), start);

  a_dir_scan_info two;
  EXPECT_EQ(two.scan_dir_keep_path_elements(z + "/", 2), 0) << "a trailing slash adds no element";
  EXPECT_EQ(two.files.count("y/z/sub/b"), 1u);

  a_dir_scan_info none;
  EXPECT_EQ(none.scan_dir_keep_path_elements(z, 0), 0);
  EXPECT_EQ(none.files.count("sub/b"), 1u);

  a_dir_scan_info missing;
  EXPECT_EQ(missing.scan_dir_keep_path_elements(tmp / "x/nothing", 1), -1);
  EXPECT_EQ(current_directory(), start);

  // Fewer separators than the count: the whole path, from here.
  ScopedWorkingDirectory here(tmp / "x");
  a_dir_scan_info whole;
  EXPECT_EQ(whole.scan_dir_keep_path_elements("y/z", 5), 0);
  EXPECT_EQ(whole.files.count("y/z/a"), 1u);
}

TEST(DirScan, SplitOfAKeptPath) {
  std::string dir, tail;
  split_kept_path("/x/y/z", 1, dir, tail);
  EXPECT_EQ(dir + "|" + tail, "/x/y|z");
  split_kept_path("a//b///", 1, dir, tail);
  EXPECT_EQ(dir + "|" + tail, "a|b") << "runs of slashes are one separator";
  split_kept_path("/x", 1, dir, tail);
  EXPECT_EQ(dir + "|" + tail, "|/x") << "only the root before it: scanned whole";
  split_kept_path("/x/y", 2, dir, tail);
  EXPECT_EQ(dir + "|" + tail, "|/x/y");
  split_kept_path("x/y", -1, dir, tail);
  EXPECT_EQ(dir + "|" + tail, "x/y|.");
}

TEST(DirScan, PathListsAndAbsentPaths) {
  TempDir tmp;
  const std::string long_name(3000, 'n');
  write_file(tmp / "exists", "e");
  write_file(tmp / "paths", "exists\ngone\n" + long_name + "\nlast-without-newline");
  ScopedWorkingDirectory here(tmp.path());

  a_dir_scan_info scan(std::vector<std::string>{"@paths", "absent"});
  EXPECT_EQ(recorded(scan), (std::map<std::string, bool>{{"absent", false},
                                                         {"exists", true},
                                                         {"gone", true},
                                                         {long_name, true},
                                                         {"last-without-newline", true}}))
      << "listed paths are present without a look; a long line is one path";

  a_dir_scan_info failing;
  EXPECT_EQ(failing.scan(std::vector<std::string>{"exists", "@no-such-list", "absent"}), -1);
  EXPECT_EQ(recorded(failing), (std::map<std::string, bool>{{"exists", true}})) << "later elements are not scanned";

  a_dir_scan_info not_a_directory;
  EXPECT_EQ(not_a_directory.scan("exists/inside"), -1) << "lstat fails with ENOTDIR";
  EXPECT_EQ(not_a_directory.scan(std::vector<std::string>{}), 0);
}

TEST(DirScan, RecordingAgainUpdatesTheOneEntry) {
  TempDir tmp;
  write_file(tmp / "f", kStamp);
  ScopedWorkingDirectory here(tmp.path());

  a_dir_scan_info scan("f");
  ASSERT_NE(scan.files.at("f").info, nullptr);
  write_file(tmp / "f", "no stamp any more");
  scan.scan("f");
  EXPECT_EQ(scan.files.size(), 1u);
  EXPECT_EQ(scan.files.at("f").info, nullptr) << "the second scan replaces the stamp";

  unlink("f");
  scan.scan("f");
  EXPECT_FALSE(scan.files.at("f").present);

  scan.init_with_list({"f", "never/on/disk"});
  EXPECT_EQ(recorded(scan), (std::map<std::string, bool>{{"f", true}, {"never/on/disk", true}}));
}

}  // namespace
