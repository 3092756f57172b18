// The install directory: places reached one element at a time, never
// through a symbolic link; directories made on the way and taken away when
// they stay empty; temporaries of installs that are gone swept away.
#include "install/install_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "support/temp_dir.h"

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(InstallDirectory, PlacesAreMadeOnTheWayAndNeverReachedThroughALink) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "root").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), (dir / "root/up").c_str()), 0);
  // Opened from a descriptor of its parent, as extraction opens it.
  const UniqueFd parent(open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  InstallDirectory install;
  a_failure failure;
  ASSERT_TRUE(install.open("root", false, failure, parent.get()));

  a_place place;
  ASSERT_TRUE(install.place_of("./a//b/c", place, failure));
  EXPECT_EQ(place.parent, "a/b");
  EXPECT_EQ(place.base, "c");
  EXPECT_TRUE(is_directory(dir / "root/a/b")) << "made on the way";
  ASSERT_EQ(mkdirat(place.fd(), "kept", 0755), 0) << "the place's descriptor is the directory a/b";

  EXPECT_FALSE(install.place_of("up/x", place, failure));
  EXPECT_EQ(failure.step, kStepParent);
  EXPECT_EQ(failure.text(), "refusing to write through symbolic link up");
  EXPECT_FALSE(install.place_of("a/", place, failure)) << "no file name";

  // The directories this object made go when they are empty: a/b holds
  // "kept", so a/b and a stay.
  install.remove_empty_created_directories();
  EXPECT_TRUE(is_directory(dir / "root/a/b/kept"));
  ASSERT_EQ(rmdir((dir / "root/a/b/kept").c_str()), 0);
  install.remove_empty_created_directories();
  EXPECT_FALSE(is_directory(dir / "root/a")) << "a/b and then a, deepest first";
}

TEST(InstallDirectory, TemporariesOfProcessesThatAreGoneAreSweptAway) {
  TempDir dir;
  const std::string mine = std::string(InstallDirectory::kTemporaryPrefix) + std::to_string(getpid()) + "-1";
  // Beyond the largest process number Linux gives out.
  const std::string gone = std::string(InstallDirectory::kTemporaryPrefix) + "999999999-7";
  for (const std::string& name : {mine, gone, std::string("d/") + gone, std::string(".kestrel-tmp-x")})
    write_file(dir / name, "partial");
  EXPECT_TRUE(is_abandoned_temporary(gone.c_str()));
  EXPECT_FALSE(is_abandoned_temporary(mine.c_str())) << "this process still runs";

  InstallDirectory install;
  a_failure failure;
  ASSERT_TRUE(install.open(dir.path(), false, failure));
  EXPECT_FALSE(file_exists(dir / gone)) << "swept when the root is opened";
  EXPECT_TRUE(file_exists(dir / mine));
  EXPECT_TRUE(file_exists(dir / ".kestrel-tmp-x")) << "not a temporary's name";
  a_place place;
  ASSERT_TRUE(install.place_of("d/file", place, failure));
  EXPECT_FALSE(file_exists(dir / ("d/" + gone))) << "swept when a directory is first visited";
  EXPECT_NE(install.temporary_name(), install.temporary_name());
}

// Install directories nest: a kestrel may be installing into a directory
// below this one, holding its lock, or its process may still run. A child
// process holds the lock here, at a fixed point.
TEST(InstallDirectory, TemporariesThatAnotherKestrelMayOwnStay) {
  TempDir dir;
  const std::string prefix = InstallDirectory::kTemporaryPrefix;
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  write_file(dir / "nested/.keep", "");
  int locked[2], release[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    close(release[1]);  // so that the parent's close ends the read below
    const int nested = open((dir / "nested").c_str(), O_RDONLY | O_DIRECTORY);
    char c = flock(nested, LOCK_EX) == 0 ? 'y' : 'n';
    if (write(locked[1], &c, 1) != 1 || read(release[0], &c, 1) < 0) _exit(1);
    _exit(0);
  }
  close(release[0]);
  char c = 0;
  ASSERT_EQ(read(locked[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  const std::string in_locked = dir / ("nested/" + prefix + std::to_string(gone) + "-1");
  const std::string below_locked = dir / ("nested/d/" + prefix + std::to_string(gone) + "-2");
  const std::string of_live = dir / ("free/" + prefix + std::to_string(holder) + "-3");
  const std::string abandoned = dir / ("free/" + prefix + std::to_string(gone) + "-4");
  for (const std::string& path : {in_locked, below_locked, of_live, abandoned}) write_file(path, "partial");
  auto visit = [&] {
    InstallDirectory install;
    a_failure failure;
    a_place place;
    ASSERT_TRUE(install.open(dir.path(), false, failure));
    ASSERT_TRUE(install.place_of("nested/d/file", place, failure));
    ASSERT_TRUE(install.place_of("free/file", place, failure));
  };
  visit();
  EXPECT_TRUE(file_exists(in_locked));
  EXPECT_TRUE(file_exists(below_locked));
  EXPECT_TRUE(file_exists(of_live));
  EXPECT_FALSE(file_exists(abandoned));

  close(release[1]);  // the holder ends, and its lock with it
  waitpid(holder, nullptr, 0);
  visit();
  EXPECT_FALSE(file_exists(in_locked));
  EXPECT_FALSE(file_exists(below_locked));
  EXPECT_FALSE(file_exists(of_live));
  close(locked[0]);
  close(locked[1]);
}

// What the commands that only read or take away use: no link is followed
// and nothing is made.
TEST(ReachDirectory, StopsAtALinkOrAnAbsentElementAndRemovesEmptyDirectoriesDeepestFirst) {
  TempDir dir;
  write_file(dir / "a/b/c/file", "x");
  ASSERT_EQ(mkdir((dir / "a/empty").c_str(), 0755), 0);
  ASSERT_EQ(symlink("a", (dir / "link").c_str()), 0);
  const UniqueFd descriptor(open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const int root = descriptor.get();
  a_reached_directory at;
  a_failure failure;
  EXPECT_EQ(reach_directory(root, "a/b/c", at, failure), a_reach::kReached);
  EXPECT_EQ(reach_parent(root, "link/b/c", at, failure), a_reach::kThroughLink);
  EXPECT_EQ(at.link, "link");
  EXPECT_EQ(reach_directory(root, "a/missing/c", at, failure), a_reach::kAbsent);
  EXPECT_EQ(reach_directory(root, "a/b/c/file", at, failure), a_reach::kAbsent) << "a file on the way";

  std::set<std::string> paths{"a/empty", ""};
  add_parent_directories("a/b/c/file", paths);
  EXPECT_EQ(paths, (std::set<std::string>{"", "a", "a/b", "a/b/c", "a/empty"}));
  EXPECT_EQ(remove_empty_directories(root, paths), 1u) << "only a/empty is empty";
  ASSERT_EQ(unlink((dir / "a/b/c/file").c_str()), 0);
  EXPECT_EQ(remove_empty_directories(root, paths), 3u) << "c, then b, then a; never the root";
  EXPECT_TRUE(is_directory(dir.path()));
}

}  // namespace
