// The installed files compared with a set of archives, one at a time in
// name order, and what is kept of each until they are handed out.
#include "install/installed_files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "crypto/archive_key.h"
#include "install/comparison_spool.h"
#include "platform/error_word.h"
#include "support/archive_writer.h"
#include "support/fresh_error_word.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/archive/multi_tic.h"

namespace {

namespace fs = std::filesystem;

TEST(ComparisonSpool, ComparisonsComeBackInTheirOrderAcrossBlocksAndPasses) {
  TempDir dir;
  ComparisonSpool spool(dir.path());
  ASSERT_FALSE(spool.in_memory());
  const uint32_t count = 5000;
  for (uint32_t i = 0; i < count; ++i) spool.add({i, i % 7, uint64_t{i} << 33, ~uint64_t{i}});
  for (int pass = 0; pass < 2; ++pass) {
    spool.rewind();
    a_compared_file file;
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_TRUE(spool.next(file)) << i;
      ASSERT_EQ(file.mode, i);
      ASSERT_EQ(file.differences, i % 7);
      ASSERT_EQ(file.device, uint64_t{i} << 33);
      ASSERT_EQ(file.inode, ~uint64_t{i});
    }
    EXPECT_FALSE(spool.next(file));
  }
}

// Two archives whose names sort otherwise as text ("a B b Z") than as bytes
// ("B Z a b"), each laid out against name order, and an install directory
// beside them.
class CompareWithSet : public FreshErrorWord {
 protected:
  CompareWithSet() {
    fs::create_directories(dir_ / "root/elsewhere");
    fs::create_directory_symlink("elsewhere", dir_ / "root/d");
    write_forged_archive(dir_ / "one.tic", {{"b", "bee"}, {"B", "big bee, a longer stream than Z's"}}, product_key());
    write_forged_archive(dir_ / "two.tic", {{"Z", "zed"}, {"a", "ay"}, {"d/x", "ex"}}, product_key());
    const mode_t mask = umask(0);
    umask(mask);
    write_file(dir_ / "root/B", "big bee, a longer stream than Z's");
    write_file(dir_ / "root/Z", "zeD");
    write_file(dir_ / "root/b", "bee");
    fs::permissions(dir_ / "root/B", static_cast<fs::perms>(0644 & ~mask));
    fs::permissions(dir_ / "root/Z", static_cast<fs::perms>(0644 & ~mask));
    fs::permissions(dir_ / "root/b", static_cast<fs::perms>((0644 & ~mask) | 0100));
  }

  // What compare_installed_files hands out, one line a file: its name, its
  // differences and the link on its way.
  int compare(unsigned jobs, std::vector<std::string>& out) {
    const ArchiveKey key;
    MultiTic set({dir_ / "one.tic", dir_ / "two.tic"}, false, key.bytes(), key.length());
    const int root = open((dir_ / "root").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int result = compare_installed_files(set, "o", root, key.bytes(), key.length(), jobs, dir_.path(),
                                               [&](const an_installed_file& file) {
                                                 out.push_back(file.name + " " + std::to_string(file.differences) +
                                                               (file.link.empty() ? "" : " through " + file.link));
                                               });
    close(root);
    return result;
  }

  TempDir dir_;
};

TEST_F(CompareWithSet, EachFileIsHandedOutInByteOrderWithItsOwnDifferences) {
  for (unsigned jobs : {1u, 3u}) {
    std::vector<std::string> out;
    ASSERT_EQ(compare(jobs, out), 0) << recorded_failure("").line();
    EXPECT_EQ(out, (std::vector<std::string>{"B 0", "Z " + std::to_string(kDifferenceContent),
                                             "a " + std::to_string(kDifferenceMissing),
                                             "b " + std::to_string(kDifferenceMode),
                                             "d/x " + std::to_string(kDifferenceMissing) + " through d"}))
        << jobs << " jobs";
  }
}

// "b" lies first in its archive and "a" after a longer stream in the
// other: of the two damaged streams, the one named is the first by name.
TEST_F(CompareWithSet, ADamagedStreamHandsNothingOutAndTheFirstByNameIsTold) {
  write_with_spoiled_stream_mac(dir_ / "one.tic", dir_ / "one.tic", "b");
  write_with_spoiled_stream_mac(dir_ / "two.tic", dir_ / "two.tic", "a");
  for (unsigned jobs : {1u, 3u}) {
    ERROR = 0;
    std::vector<std::string> out;
    EXPECT_EQ(compare(jobs, out), -1);
    EXPECT_TRUE(out.empty()) << jobs << " jobs";
    EXPECT_EQ(recorded_failure("").subject, "a") << jobs << " jobs";
  }
}

}  // namespace
