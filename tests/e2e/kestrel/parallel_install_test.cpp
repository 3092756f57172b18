// install with 1, 2 and 4 workers through the real binary: whatever the
// number, the output, the log, the backup tree, the installed tree and the
// point where a failing installation stops are the same.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  RunResult run;
  std::map<std::string, std::string> tree;
  bool operator==(const Outcome& o) const {
    return run.status == o.run.status && run.out == o.run.out && run.err == o.run.err && tree == o.tree;
  }
};

// Installs |archives| into a fresh copy of |before| (path -> contents) with
// |jobs| workers, a log and a backup tree inside the install directory.
Outcome install_with(const TempDir& dir, const std::map<std::string, std::string>& before,
                     const std::vector<std::string>& archives, const std::string& options, int jobs) {
  const std::string target = dir / ("target-" + std::to_string(jobs));
  fs::create_directories(target);
  for (const auto& [name, bytes] : before) write_file(target + "/" + name, bytes);
  std::vector<std::string> args{"install", "-d", target, "-l", "install.log", "-b", "backup", "-o", options};
  for (const std::string& a : archives) args.push_back(dir / a);
  Outcome o{run_kestrel(args, {dir.path(), {"KESTREL_JOBS=" + std::to_string(jobs)}, {}, 60}), snapshot(target, a_snapshot::kContent)};
  // The backup tree names the install directory it was made for.
  o.tree.erase("backup/.kestrel-backup/directory");
  o.tree.erase("backup/.kestrel-backup/record.json");
  o.tree.erase("backup/.kestrel-backup");
  return o;
}

// A directory entry is in place, with its own permission bits, before any
// worker makes a file below it, whether the directory's name is in normal
// form or not.
TEST(ParallelInstall, FilesBelowADirectoryEntryWaitForIt) {
  for (const std::string directory : {"d", "./d"}) {
    TempDir dir;
    std::vector<ForgedEntry> entries{forged_directory(directory, 0700)};
    for (int i = 0; i < 24; ++i) entries.emplace_back("d/f" + std::to_string(100 + i), std::string(3000, 'x'));
    write_forged_archive(dir / "a.tic", entries, product_key());
    // Without a backup, workers make missing directories as they go.
    for (const char* jobs : {"KESTREL_JOBS=1", "KESTREL_JOBS=4"}) {
      const std::string target = dir / jobs;
      fs::create_directories(target);
      const RunResult r = run_kestrel({"install", "-d", target, "-o", "o", dir / "a.tic"}, {dir.path(), {jobs}, {}, 60});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(snapshot(target, a_snapshot::kContent).size(), 25u);
      EXPECT_EQ(std::stoul(snapshot(target, a_snapshot::kContent).at("d")) & 07777, 0700u) << directory << ", " << jobs;
    }
  }
}

// Twelve files in two archives, the seventh of which fails its MAC: the six
// before it are in place, the log names the seventh last, nothing after it
// is installed, and directories made only for later files are gone.
TEST(ParallelInstall, AFailureInTheMiddleStopsAtTheSameFile) {
  TempDir dir;
  std::mt19937 random(5);
  std::vector<ForgedEntry> first, second;
  for (int i = 0; i < 12; ++i) {
    std::string bytes(20000 + 3000 * i, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    ForgedEntry e("dir" + std::to_string(i / 3) + "/file" + std::to_string(i), bytes);
    (i % 2 == 0 ? first : second).push_back(e);
  }
  write_forged_archive(dir / "a.tic", first, product_key());
  write_forged_archive(dir / "b.tic", second, product_key());
  // The seventh file in extraction order: a.tic's streams interleave with
  // b.tic's by offset, file6 is a.tic's fourth.
  write_with_spoiled_stream_mac(dir / "a.tic", dir / "a.tic", "dir2/file6");

  const std::map<std::string, std::string> before{{"dir1/file4", "old four"}, {"dir3/file9", "old nine"}};
  const Outcome one = install_with(dir, before, {"a.tic", "b.tic"}, "o", 1);
  EXPECT_EQ(one.run.status, 255);
  EXPECT_EQ(one.run.err, "kestrel: install: dir2/file6: stream does not match its MAC\n");
  EXPECT_EQ(one.tree.count("dir2/file6"), 0u);
  EXPECT_EQ(one.tree.count("dir3"), 1u) << "made before this installation, so it stays";
  EXPECT_EQ(one.tree.count("dir3/file10"), 0u);
  EXPECT_EQ(one.tree.at("dir3/file9").substr(one.tree.at("dir3/file9").find(' ')), " old nine");
  for (const auto& [path, what] : one.tree) {
    if (S_ISDIR(std::stoul(what))) {
      const auto next = one.tree.upper_bound(path + "/");
      EXPECT_TRUE(next != one.tree.end() && next->first.rfind(path + "/", 0) == 0) << path << " is left empty";
    }
  }
  const std::string& log = one.tree.at("install.log");
  EXPECT_EQ(log.substr(log.rfind('\n', log.size() - 2) + 1).substr(11), "     38000 dir2/file6\n");
  for (const int jobs : {2, 4}) EXPECT_TRUE(install_with(dir, before, {"a.tic", "b.tic"}, "o", jobs) == one)
      << jobs << " workers";
}

}  // namespace
