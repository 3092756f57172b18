// Recovery through the real binaries: restore after installs run again and
// again with one backup directory returns the tree as it was before the
// first (killed_commands_test.cpp kills them); and the lock that keeps
// install, remove and restore of one install directory apart.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// What an administrator had in the install directory before the product:
// files the product replaces (one of them a link where the product has a
// file, one a file where it has a link, a directory of files where it has
// a file), files of their own, an empty directory.
void make_before(const std::string& target) {
  write_file(target + "/etc/conf", "edited by the administrator");
  fs::permissions(target + "/etc/conf", fs::perms::owner_read | fs::perms::owner_write);
  write_file(target + "/bin/run", "#!/bin/sh\necho old\n");
  fs::permissions(target + "/bin/run", fs::perms(0755));
  write_file(target + "/doc/README", "old readme");
  fs::create_directories(target + "/lib");
  fs::create_symlink("libx.so.1", target + "/lib/libx.so");
  write_file(target + "/lib/libx.so.1", "a file where the product has a link");
  write_file(target + "/bin/tool/plugins/old.so", "a directory where the product has a file");
  fs::create_directories(target + "/var/empty");
  write_file(target + "/keep/notes", "not the product's");
}

// A version of the product: the administrator's files replaced, and new
// files in directories that do not exist yet.
std::vector<ForgedEntry> product(unsigned version, size_t files, size_t size) {
  const std::string v = std::to_string(version);
  std::vector<ForgedEntry> out{{"etc/conf", "conf " + v}, {"bin/run", "#!/bin/sh\necho " + v + "\n", 0755},
                               {"doc/README", "readme " + v}, {"lib/libx.so", "library " + v},
                               forged_link("lib/libx.so.1", "libx-" + v + ".so"), {"bin/tool", "tool " + v}};
  for (size_t i = 0; i < files; ++i)
    out.push_back({"share/d" + std::to_string(i % 7) + "/f" + std::to_string(i), random_bytes(size, version * 1000 + i)});
  return out;
}

struct Site {
  TempDir dir;
  const std::string target = dir / "target";
  Site() { make_before(target); }
  RunResult kestrel(const std::vector<std::string>& args, std::vector<std::string> env = {}) const {
    return run_kestrel(args, {dir.path(), env, {}, 60});
  }
  RunResult install(const std::string& archive) const {
    return kestrel({"install", "-d", "target", "-b", "saved", "-o", "o", "../" + archive}, {"KESTREL_JOBS=1"});
  }
  RunResult restore() const { return kestrel({"restore", "-d", "target", "-b", "saved"}); }
};

TEST(BackupRecovery, InstallsOfSeveralVersionsWithOneBackupAreUndoneToTheFirstState) {
  Site s;
  const auto before = snapshot(s.target);
  std::vector<ForgedEntry> v2 = product(2, 6, 100);
  v2.erase(v2.begin() + 2);  // no README in version 2
  v2.push_back({"keep/notes", "the product's notes now"});
  write_forged_archive(s.dir / "v1.tic", product(1, 4, 100), product_key());
  write_forged_archive(s.dir / "v2.tic", v2, product_key());
  for (const char* archive : {"v1.tic", "v2.tic", "v1.tic"}) ASSERT_EQ(s.install(archive).status, 0) << archive;
  const RunResult r = s.restore();
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(s.target), before);
}

// Runs |commands| at the same time, each from its own thread.
std::vector<RunResult> at_once(const Site& s, const std::vector<std::vector<std::string>>& commands) {
  std::vector<RunResult> results(commands.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < commands.size(); ++i)
    threads.emplace_back([&, i] { results[i] = s.kestrel(commands[i]); });
  for (std::thread& t : threads) t.join();
  return results;
}

// Whichever goes first, a remove of the old version never takes away what
// an install of the new one put in place.
TEST(InstallLock, InstallAndRemoveOfOneDirectoryNeverInterleave) {
  Site s;
  std::vector<ForgedEntry> v1, v2;
  for (int i = 0; i < 500; ++i) {
    const std::string name = "d" + std::to_string(i % 10) + "/f" + std::to_string(i);
    v1.push_back({name, "one " + name});
    v2.push_back({name, "two " + name});
  }
  write_forged_archive(s.dir / "v1.tic", v1, product_key());
  write_forged_archive(s.dir / "v2.tic", v2, product_key());
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(s.kestrel({"install", "-d", "target", "-o", "o", "../v1.tic"}).status, 0);
    const std::vector<RunResult> r =
        at_once(s, {{"remove", "-d", "target", "-o", "o", "../v1.tic"},
                    {"install", "-d", "target", "-l", "log", "-o", "o", "../v2.tic"}});
    EXPECT_EQ(r[1].status, 0) << r[1].err;
    EXPECT_EQ(read_file(s.target + "/log").substr(read_file(s.target + "/log").size() - 3), "ok\n");
    const RunResult verify = s.kestrel({"verify", "-d", "target", "-o", "o", "../v2.tic"});
    EXPECT_EQ(std::tie(verify.status, verify.out), std::make_tuple(0, std::string())) << "round " << round;
  }
}

TEST(InstallLock, TwoInstallsWithOneBackupAtOnceAreUndoneToTheFirstState) {
  Site s;
  const auto before = snapshot(s.target);
  write_forged_archive(s.dir / "v1.tic", product(1, 200, 1000), product_key());
  write_forged_archive(s.dir / "v2.tic", product(2, 200, 1000), product_key());
  const std::vector<RunResult> r =
      at_once(s, {{"install", "-d", "target", "-b", "saved", "-o", "o", "../v1.tic"},
                  {"install", "-d", "target", "-b", "saved", "-o", "o", "../v2.tic"}});
  EXPECT_EQ(std::make_tuple(r[0].status, r[1].status), std::make_tuple(0, 0));
  const RunResult restored = s.restore();
  EXPECT_EQ(std::tie(restored.status, restored.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(s.target), before);
}

// True once a process is blocked on the lock of the file open as |fd|
// (a line "-> FLOCK ..." naming its inode in /proc/locks); false when
// none is after a minute. The command has then reached its lock, whatever
// the machine's load, and has said whom it waits for.
bool someone_waits_for_lock(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  for (int tries = 0; tries < 6000; ++tries) {
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line))
      if (line.find("-> FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(InstallLock, TheSecondCommandSaysOnceWhomItWaitsFor) {
  Site s;
  write_forged_archive(s.dir / "f.tic", {{"f", "data"}}, product_key());
  for (const char* command : {"install", "remove", "restore"}) {
    UniqueFd held(::open(s.target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_EQ(flock(held.get(), LOCK_EX), 0);
    std::vector<std::string> args{command, "-d", "target"};
    if (std::string(command) == "restore") {
      fs::create_directories(s.target + "/saved");
      args.insert(args.end(), {"-b", "saved"});
    } else {
      args.insert(args.end(), {"-o", "o", "../f.tic"});
    }
    const auto before = snapshot(s.target);
    RunResult r;
    std::thread waiting([&] { r = s.kestrel(args); });
    ASSERT_TRUE(someone_waits_for_lock(held.get())) << command << " never asked for the lock";
    EXPECT_EQ(snapshot(s.target), before) << command << " did not wait";
    held.reset();
    waiting.join();
    const std::string expected = std::string("kestrel: ") + command + ": target: waiting for process " +
                                 std::to_string(getpid()) + " (";
    EXPECT_EQ(r.status, 0) << command << r.err;
    EXPECT_EQ(r.err.rfind(expected, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("to finish with the install directory\n"), r.err.size() - 37) << r.err;
  }
}

}  // namespace

namespace {

// A backup tree serves the install directory it was made for: another
// directory's install or restore with it is refused before anything is
// written, and the first directory's restore is whole.
TEST(BackupBinding, ABackupDirectoryServesOneInstallDirectory) {
  TempDir dir;
  make_before(dir / "one");
  make_before(dir / "two");
  write_forged_archive(dir / "v1.tic", product(1, 3, 100), product_key());
  const std::string saved = fs::weakly_canonical(dir / "saved").string();
  const auto one = snapshot(dir / "one"), two = snapshot(dir / "two");
  ASSERT_EQ(run_kestrel({"install", "-d", "one", "-b", saved, "-o", "o", "../v1.tic"}, {dir.path(), {}, {}}).err, "");
  const std::string belongs = ": backup directory belongs to " + fs::canonical(dir / "one").string() + "\n";
  RunResult r = run_kestrel({"install", "-q", "-d", "two", "-b", saved, "-o", "o", "../v1.tic"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(255, "kestrel: install: " + saved + belongs));
  r = run_kestrel({"restore", "-d", "two", "-b", saved}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(255, "kestrel: restore: " + saved + belongs));
  EXPECT_EQ(snapshot(dir / "two"), two);
  r = run_kestrel({"restore", "-d", "one", "-b", saved}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(dir / "one"), one);
  EXPECT_FALSE(file_exists(saved));
}

// The record to go back to lives in the backup tree: a tree removed by hand
// takes it along, and a tree made anew goes back to what was there when it
// was made.
TEST(BackupBinding, ABackupTreeRemovedByHandTakesItsRecordAlong) {
  Site s;
  write_forged_archive(s.dir / "v1.tic", product(1, 3, 100), product_key());
  write_forged_archive(s.dir / "v2.tic", product(2, 3, 100), product_key());
  ASSERT_EQ(s.install("v1.tic").status, 0);
  fs::remove_all(s.target + "/saved");
  const auto tree = snapshot(s.target);
  const RunResult status = s.kestrel({"status", "-d", "target"});
  ASSERT_EQ(s.install("v2.tic").status, 0);
  const RunResult r = s.restore();
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(s.target), tree);
  EXPECT_EQ(s.kestrel({"status", "-d", "target"}).out, status.out) << "the record as v1 left it";
}

}  // namespace
