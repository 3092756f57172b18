// verify, remove and restore through the real binary: an installed product
// checked against its archives, taken away, and an installation undone from
// its backup tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace {

namespace fs = std::filesystem;

const std::string kBanner = "Tarnvale Install Utility Version 17.0.11.7254\n";

// The sample product as a set of two archives beside the install directory
// target/, which holds what an administrator had there before.
struct Site {
  TempDir dir;
  const std::string target = dir / "target";

  Site() {
    EXPECT_TRUE(build_sample_set(dir.path()));
    fs::create_directories(target + "/var/empty");
    write_file(target + "/etc/local.conf", "not the product's\n");
    ::chmod((target + "/etc/local.conf").c_str(), 0600);
  }

  RunResult kestrel(const std::string& command, const std::vector<std::string>& switches,
                    const std::vector<std::string>& env = {}) const {
    std::vector<std::string> args{command, "-d", "target"};
    args.insert(args.end(), switches.begin(), switches.end());
    args.insert(args.end(), {"../server.tic", "../client.tic"});
    return run_kestrel(args, {dir.path(), env, {}, 60});
  }

  void install() const { ASSERT_EQ(kestrel("install", {"-o", "*"}).status, 0); }

  std::string at(const std::string& name) const { return target + "/" + name; }
};

TEST(Verify, ACleanInstallMatchesAndEachChangeIsNamedWithoutWritingAnything) {
  Site s;
  s.install();
  RunResult r = s.kestrel("verify", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));

  std::string conf = read_file(s.at("etc/tarnserve.conf"));
  conf[conf.size() / 2] ^= 1;
  write_file(s.at("etc/tarnserve.conf"), conf);
  ::chmod(s.at("bin/tarnsql").c_str(), 0700);
  fs::remove(s.at("share/doc/README"));
  fs::remove(s.at("bin/tarnserve"));
  fs::create_symlink("tarnsql", s.at("bin/tarnserve"));
  fs::remove(s.at("lib/libtarn.so"));
  fs::create_symlink("libtarn.so.2", s.at("lib/libtarn.so"));
  write_file(s.at("etc/local.conf"), "not in the archives, not compared");

  const auto before = snapshot(s.target, a_snapshot::kAllTimes);
  for (const char* jobs : {"KESTREL_JOBS=1", "KESTREL_JOBS=3"}) {
    r = s.kestrel("verify", {"-o", "*"}, {jobs});
    EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(1, std::string())) << jobs;
    EXPECT_EQ(r.out,
              "type bin/tarnserve\nmode bin/tarnsql\ncontent etc/tarnserve.conf\ntarget lib/libtarn.so\n"
              "missing share/doc/README\n")
        << jobs;
  }
  // Only the selected files: the client's, the library's stream coming from
  // the other archive.
  r = s.kestrel("verify", {"-o", "client"});
  EXPECT_EQ(r.out, "mode bin/tarnsql\ntarget lib/libtarn.so\n");
  EXPECT_EQ(snapshot(s.target, a_snapshot::kAllTimes), before);
}

// Archives that cannot be trusted make the command fail; nothing is said
// about the installed files.
TEST(Verify, AnArchiveOrStreamThatFailsIsAFailureNotADifference) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"d/f", "contents"}}, product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-o", "o", "../f.tic"}, {dir.path(), {}, {}}).err, "");
  std::string bytes = read_file(dir / "f.tic");
  bytes.back() ^= 1;
  write_file(dir / "tampered.tic", bytes);
  write_with_spoiled_stream_mac(dir / "f.tic", dir / "bad-mac.tic", "d/f");

  const struct { std::string command, archive, err; } cases[] = {
      {"verify", "../tampered.tic", "kestrel: verify: ../tampered.tic: archive does not match its MAC\n"},
      {"verify", "../bad-mac.tic", "kestrel: verify: d/f: stream does not match its MAC\n"},
      {"remove", "../bad-mac.tic", "kestrel: remove: d/f: stream does not match its MAC\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel({c.command, "-d", "target", "-o", "o", c.archive}, {dir.path(), {}, {}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(255, std::string(), c.err)) << c.archive;
  }
  EXPECT_EQ(read_file(dir / "target/d/f"), "contents") << "remove removes nothing when a stream fails";
}

TEST(Remove, RemovesWhatMatchesAndKeepsWhatWasChanged) {
  // Removed to the tree as it was before the install: the administrator's
  // directories and files stay, and so does share/, which an empty
  // directory of theirs keeps from being emptied.
  Site s;
  fs::create_directories(s.at("share/empty"));
  const auto before = snapshot(s.target);
  s.install();
  RunResult r = s.kestrel("remove", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(0, std::string(), std::string()));
  EXPECT_EQ(snapshot(s.target), before);

  // A changed file stays, and its directory with it; a file whose
  // permission bits changed is removed all the same.
  s.install();
  write_file(s.at("share/doc/README"), "my notes");
  ::chmod(s.at("bin/tarnsql").c_str(), 0700);
  r = s.kestrel("remove", {"-o", "*"});
  EXPECT_EQ(std::tie(r.status, r.out, r.err),
            std::make_tuple(1, std::string(), std::string("kestrel: remove: kept changed file share/doc/README\n")));
  const auto after = snapshot(s.target);
  auto expected = before;
  for (const char* kept : {"share/doc", "share/doc/README"}) expected[kept] = after.at(kept);
  EXPECT_EQ(after, expected);
}

// A directory the installation made, replaced by a link since: its files
// are neither read, removed nor restored through it, and the backup tree
// keeps its marker.
TEST(RemoveAndRestore, NeverThroughASymbolicLink) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "f.tic", {{"d/f", "contents"}}, product_key());
  const RunOptions here{dir.path(), {}, {}};
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-b", "backup", "-o", "o", "../f.tic"}, here).err, "");
  fs::rename(dir / "target/d", dir / "outside");
  fs::create_directory_symlink(dir / "outside", dir / "target/d");
  RunResult r = run_kestrel({"verify", "-d", "target", "-o", "o", "../f.tic"}, here);
  EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(1, std::string("missing d/f\n"), std::string()));
  r = run_kestrel({"remove", "-d", "target", "-o", "o", "../f.tic"}, here);
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: remove: d/f: refusing to remove through symbolic link d\n")));
  r = run_kestrel({"restore", "-d", "target", "-b", "backup"}, here);
  EXPECT_EQ(std::tie(r.status, r.err),
            std::make_tuple(255, std::string("kestrel: restore: d/f: refusing to write through symbolic link d\n")));
  EXPECT_EQ(read_file(dir / "outside/f"), "contents");
  EXPECT_EQ(read_file(dir / "target/backup/d/f"), "created as d/f\n");
}

TEST(Restore, AnInstallOverAnEarlierOneGoesBackToTheEarlier) {
  TempDir dir;
  fs::create_directory(dir / "target");
  write_forged_archive(dir / "v1.tic",
                       {{"a/x", "one"}, {"a/y", "why"}, {"b/z", "zed"}, {"bin/run", "#!/bin/sh\n", 0755}},
                       product_key());
  write_forged_archive(dir / "v2.tic",
                       {{"a/x", "ONE"}, {"b/z", "zed", 0600}, {"c/new", "new"}, {"bin/run", "#!/bin/sh\n", 0700},
                        forged_link("l", "b/z")},
                       product_key());
  ASSERT_EQ(run_kestrel({"install", "-d", "target", "-o", "o", "../v1.tic"}, {dir.path(), {}, {}}).err, "");
  const auto earlier = snapshot(dir / "target");
  const std::vector<std::string> over{"install", "-d", "target", "-b", "../backup-2", "-o", "o", "../v2.tic"};
  ASSERT_EQ(run_kestrel(over, {dir.path(), {}, {}}).err, "");
  ASSERT_NE(snapshot(dir / "target"), earlier);
  const RunResult r = run_kestrel({"restore", "-d", "target", "-b", "../backup-2"}, {dir.path(), {}, {}});
  EXPECT_EQ(std::tie(r.status, r.err), std::make_tuple(0, std::string()));
  EXPECT_EQ(snapshot(dir / "target"), earlier);
  EXPECT_FALSE(file_exists(dir / "backup-2"));
}

TEST(AdminCommands, UsageAndFailuresOfTheCommandAsAWhole) {
  TempDir dir;
  fs::create_directories(dir / "target/backup");
  fs::create_directory_symlink(dir / "target/backup", dir / "target/linked");
  write_file(dir / "target/file", "");
  const std::string here = fs::canonical(dir.path()).string();
  const struct { std::vector<std::string> args; std::string err; } cases[] = {
      {{"verify"}, "kestrel: verify: " + here + ": nothing is recorded for this install directory\n"},
      {{"REMOVE", "-o", "*"}, "kestrel: remove: *: an option text selects from archives: name them, or leave out -o\n"},
      {{"restore", "-d", "target"}, kBanner + "usage: restore -b <backup_dir> [-d <install_dir>]\n"},
      {{"restore", "-b", "backup", "extra"}, kBanner + "usage: restore -b <backup_dir> [-d <install_dir>]\n"},
      {{"verify", "-d", "missing", "x.tic"}, "kestrel: verify: missing: No such file or directory\n"},
      {{"remove", "-d", "target", "missing.tic"}, "kestrel: remove: missing.tic: No such file or directory\n"},
      {{"restore", "-d", "target", "-b", "missing"}, "kestrel: restore: missing: No such file or directory\n"},
      {{"restore", "-d", "target", "-b", "file"}, "kestrel: restore: file: Not a directory\n"},
      {{"restore", "-d", "target", "-b", "linked"},
       "kestrel: restore: linked: refusing to follow symbolic link linked\n"},
      {{"restore", "-d", "target", "-b", "."}, "kestrel: restore: .: backup directory holds the install directory\n"},
      {{"restore", "-d", "target/backup", "-b", ".."},
       "kestrel: restore: ..: backup directory holds the install directory\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_kestrel(c.args, {dir.path(), {}, {}});
    EXPECT_EQ(std::tie(r.status, r.out, r.err), std::make_tuple(255, std::string(), c.err))
        << testing::PrintToString(c.args);
  }
}

}  // namespace
