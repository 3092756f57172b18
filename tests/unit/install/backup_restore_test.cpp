// The backup tree in process: what back_up keeps before a file is put in
// place, and the walk that puts every kept object back. install -b and
// kestrel restore show both end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/backup_tree.h"
#include "install/restore.h"
#include "support/temp_dir.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// An existing file is kept under its name (and stays at its path until it
// is replaced), a path that held nothing gets a marker, and an existing
// directory for a directory entry is left alone.
TEST(BackupTree, KeepsWhatIsReplacedAndMarksWhatIsCreated) {
  TempDir dir;
  write_file(dir / "old", "earlier version");
  ASSERT_EQ(mkdir((dir / "d").c_str(), 0755), 0);
  InstallDirectory install;
  a_failure failure;
  ASSERT_TRUE(install.open(dir.path(), false, failure));
  BackupTree backup(install, "saved", true, "saved");
  for (const auto& [name, directory] : {std::pair<std::string, bool>{"old", false}, {"new/file", false},
                                        {"d", true}}) {
    a_place place;
    ASSERT_TRUE(install.place_of(name, place, failure));
    ASSERT_TRUE(backup.back_up(name, place, directory, failure)) << name << ": " << failure.text();
  }
  EXPECT_EQ(read_file(dir / "saved/old"), "earlier version");
  EXPECT_EQ(read_file(dir / "old"), "earlier version") << "linked, not moved: its path never stands empty";
  EXPECT_EQ(read_file(dir / "saved/new/file"), "created as new/file\n");
  EXPECT_FALSE(exists(dir / "saved/d"));

  a_place place;
  ASSERT_TRUE(install.place_of(std::string(1100, 'n'), place, failure));
  EXPECT_FALSE(backup.back_up(std::string(1100, 'n'), place, false, failure)) << "a path that does not fit";
  EXPECT_EQ(failure.step, kStepBackupMove);
}

// A backup tree as install leaves it after installing over an earlier
// version: kept files, markers of created files and directories, and a
// directory that a file replaced as a whole. Restore puts each back, takes
// away what was created and the directories left empty by that, names
// what it cannot reach, and removes the backup tree once it is empty.
TEST(BackupRestore, PutsBackWhatWasKeptAndTakesAwayWhatWasCreated) {
  TempDir dir;
  const std::pair<const char*, const char*> files[] = {
      {"old", "new version"},
      {"saved/old", "earlier version"},
      {"made/deep/file", "created"},
      {"saved/made/deep/file", "created as made/deep/file\n"},
      {"tree", "a file where a directory was"},
      {"saved/tree/inside", "the directory's file"},
      {"saved/link/x", "created as link/x\n"},
  };
  for (const auto& [path, text] : files) write_file(dir / path, text);
  ASSERT_EQ(mkdir((dir / "elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(symlink("elsewhere", (dir / "link").c_str()), 0);

  InstallDirectory install;
  a_failure failure;
  ASSERT_TRUE(install.open(dir.path(), false, failure));
  BackupRestore restore(install);
  ASSERT_TRUE(restore.open("saved", failure)) << failure.text();
  std::vector<a_restore_failure> failures;
  restore.restore(failures);
  restore.finish();

  EXPECT_EQ(read_file(dir / "old"), "earlier version");
  EXPECT_FALSE(exists(dir / "made")) << "the created file, then its directories left empty";
  EXPECT_EQ(read_file(dir / "tree/inside"), "the directory's file");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].first, "link/x");
  EXPECT_EQ(failures[0].second.text(), "refusing to write through symbolic link link");
  EXPECT_TRUE(exists(dir / "saved/link/x")) << "what cannot be restored stays in the backup tree";

  ASSERT_EQ(unlink((dir / "link").c_str()), 0);
  BackupRestore again(install);
  ASSERT_TRUE(again.open("saved", failure));
  failures.clear();
  again.restore(failures);
  again.finish();
  EXPECT_TRUE(failures.empty());
  EXPECT_FALSE(exists(dir / "saved")) << "an empty backup tree goes";
  EXPECT_FALSE(again.open(".", failure)) << "the install directory is no backup tree";
}

}  // namespace
