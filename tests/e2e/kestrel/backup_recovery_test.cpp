// Recovery through the real binaries: restore after installs killed at any
// point, or run again and again with one backup directory, returns the tree
// as it was before the first; and the lock that keeps install, remove and
// restore of one install directory apart.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <tuple>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

// Random bytes that bzip2 cannot shrink, so that decoding takes a while.
std::string noise(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(random());
  return out;
}

// What an administrator had in the install directory before the product:
// files the product replaces (one of them a link where the product has a
// file), files of their own, an empty directory.
void make_before(const std::string& target) {
  write_file(target + "/etc/conf", "edited by the administrator");
  fs::permissions(target + "/etc/conf", fs::perms::owner_read | fs::perms::owner_write);
  write_file(target + "/bin/run", "#!/bin/sh\necho old\n");
  fs::permissions(target + "/bin/run", fs::perms(0755));
  write_file(target + "/doc/README", "old readme");
  fs::create_directories(target + "/lib");
  fs::create_symlink("libx.so.1", target + "/lib/libx.so");
  fs::create_directories(target + "/var/empty");
  write_file(target + "/keep/notes", "not the product's");
}

// A version of the product: the administrator's files replaced, and new
// files in directories that do not exist yet.
std::vector<ForgedEntry> product(unsigned version, size_t files, size_t size) {
  const std::string v = std::to_string(version);
  std::vector<ForgedEntry> out{{"etc/conf", "conf " + v}, {"bin/run", "#!/bin/sh\necho " + v + "\n", 0755},
                               {"doc/README", "readme " + v}, {"lib/libx.so", "library " + v}};
  for (size_t i = 0; i < files; ++i)
    out.push_back({"share/d" + std::to_string(i % 7) + "/f" + std::to_string(i), noise(size, version * 1000 + i)});
  return out;
}

struct Site {
  TempDir dir;
  const std::string target = dir / "target";
  Site() { make_before(target); }
  RunResult kestrel(const std::vector<std::string>& args, unsigned kill_after_ms = 0,
                    std::vector<std::string> env = {}) const {
    return run_kestrel(args, {dir.path(), env, {}, 60, kill_after_ms});
  }
  RunResult install(const std::string& archive, unsigned kill_after_ms = 0, const char* jobs = "KESTREL_JOBS=1") const {
    return kestrel({"install", "-d", "target", "-b", "saved", "-o", "o", "../" + archive}, kill_after_ms, {jobs});
  }
  RunResult restore() const { return kestrel({"restore", "-d", "target", "-b", "saved"}); }
};

// Killed anywhere, alone or followed by more runs (killed or not), an
// install with -b is undone exactly: the same objects, bytes, modes and
// link targets, no temporaries, no directories of its own, no backup tree.
TEST(BackupRecovery, AKilledInstallIsUndoneExactly) {
  std::vector<ForgedEntry> files = product(1, 60, 16 << 10);
  Site timing;
  write_forged_archive(timing.dir / "v1.tic", files, product_key());
  const auto before = snapshot(timing.target);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(timing.install("v1.tic").status, 0);
  const auto full = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  ASSERT_EQ(timing.restore().status, 0);
  EXPECT_EQ(snapshot(timing.target), before);

  constexpr unsigned kPoints = 8;
  unsigned midway = 0;
  for (unsigned k = 1; k <= kPoints; ++k) {
    const unsigned ms = std::max<unsigned>(1, static_cast<unsigned>(full.count()) * k / kPoints);
    const char* jobs = k % 3 == 0 ? "KESTREL_JOBS=3" : "KESTREL_JOBS=1";
    Site s;
    fs::copy_file(timing.dir / "v1.tic", s.dir / "v1.tic");
    const auto own = snapshot(s.target);
    s.install("v1.tic", ms, jobs);
    midway += file_exists(s.target + "/saved") && !file_exists(s.target + "/" + files.back().pathname);
    if (k % 2 == 0) {
      // Run again, killed again, then to the end: the first run's backups stay.
      s.install("v1.tic", ms / 2 + 1, jobs);
      EXPECT_EQ(s.install("v1.tic", 0, jobs).status, 0);
    }
    // Killed before it kept anything (a slow start): nothing was written
    // either, and there is nothing to restore.
    if (file_exists(s.target + "/saved")) {
      const RunResult r = s.restore();
      EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()))
          << "killed after " << ms << " ms";
    }
    EXPECT_EQ(snapshot(s.target), own) << "killed after " << ms << " ms" << (k % 2 == 0 ? ", then run again" : "");
  }
  EXPECT_GT(midway, 0u) << "no kill landed while the install was under way";
}

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
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
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
