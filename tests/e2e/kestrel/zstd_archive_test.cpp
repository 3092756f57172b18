// Archives built with --compression zstd, through the real binaries: the
// same bytes for any number of jobs and any run, streams that bsdtar reads
// as .tar.zst once decrypted, and every kestrel command doing with them
// exactly what it does with the bzip2 archive of the same tree, also in a
// set that mixes both.
#include <archive.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/stream_reader.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "tic/archive/tic.h"

namespace {

namespace fs = std::filesystem;

const std::string kSample = SAMPLE_DIR;

// The sample product's server archive, with a data file of two zstd pieces.
void make_tree(const TempDir& dir) {
  fs::copy(kSample + "/tree", dir / "tree", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  std::mt19937 random(7);
  std::string data;
  while (data.size() < 6 * 1000 * 1000) data += "row " + std::to_string(random() % 100000) + ";";
  write_file(dir / "tree/share/data.bin", data);
  write_file(dir / "server.list", read_file(kSample + "/server.list") + "share/data.bin;server;;0;0;0\n");
}

RunResult build(const TempDir& dir, const std::string& archive, const std::string& compression, int jobs = 2) {
  return run_tictool({"build", "--compression", compression, "-j", std::to_string(jobs), "-C", "tree", "server.list",
                      archive, "#server.ctl", "bin/tarnserve", "etc", "lib", "share/doc/README",
                      "share/doc/server.txt", "share/data.bin"},
                     {dir.path(), {"SOURCE_DATE_EPOCH=1700000000"}, {}});
}


struct Installed {
  RunResult install;
  RunResult verify;
  std::map<std::string, std::string> tree;  // log and backup tree included
};

// Installs |archives| over an edited configuration file, with a log and a
// backup tree, then verifies the result.
Installed install(const TempDir& dir, const std::string& target, const std::vector<std::string>& archives,
                  int jobs = 2) {
  write_file(dir / (target + "/etc/tarnserve.conf"), "edited\n");
  const RunOptions options{dir.path(), {"KESTREL_JOBS=" + std::to_string(jobs)}, {}};
  std::vector<std::string> args{"install", "-d", dir / target, "-l", "install.log", "-b", "backup", "-o", "*"};
  for (const std::string& a : archives) args.push_back(dir / a);
  Installed out;
  out.install = run_kestrel(args, options);
  args = {"verify", "-d", dir / target, "-o", "*"};
  for (const std::string& a : archives) args.push_back(dir / a);
  out.verify = run_kestrel(args, options);
  out.tree = snapshot(dir / target, a_snapshot::kContent);
  // The backup tree names the install directory it was made for.
  out.tree.erase("backup/.kestrel-backup/directory");
  out.tree.erase("backup/.kestrel-backup/record.json");
  out.tree.erase("backup/.kestrel-backup");
  return out;
}

TEST(ZstdArchive, BuildsTheSameBytesForAnyJobsAndAnyRun) {
  TempDir dir;
  make_tree(dir);
  ASSERT_EQ(build(dir, "j1.tic", "zstd", 1).status, 0);
  const std::string archive = read_file(dir / "j1.tic");
  for (const int jobs : {2, 4, 4}) {
    const RunResult r = build(dir, "again.tic", "zstd", jobs);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "again.tic"), archive) << jobs << " jobs";
  }
  ASSERT_EQ(build(dir, "level.tic", "zstd:3").status, 0);
  EXPECT_NE(read_file(dir / "level.tic"), archive) << "the level is the one asked for";
  const RunResult bad = build(dir, "bad.tic", "zstd:23");
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err.substr(0, bad.err.find('\n')),
            "tictool: not a compression: zstd:23 (bzip2, or zstd with a level from 1 to 22, as in zstd:19)");
}

// Decrypted, each stream is a .tar.zst: frames of the pieces, and for the
// keyed archive a skippable frame that makes the stored length whole
// records; tictool dump says so.
TEST(ZstdArchive, ADecryptedStreamIsATarZstForBsdtar) {
  TempDir dir;
  make_tree(dir);
  ASSERT_EQ(build(dir, "z.tic", "zstd").status, 0);
  const TicToc toc = Tic((dir / "z.tic").c_str(), false, nullptr, 0).get_toc();
  for (const std::string name : {"share/data.bin", "bin/tarnserve", "share/doc/README"}) {
    const StoredStream stream = read_stored_stream(dir / "z.tic", toc.file_map.at(name), product_key());
    EXPECT_EQ(stream.error, "") << name;
    EXPECT_EQ(stream.decrypted.size() % 8, 0u) << name;
    write_file(dir / "stream.tar.zst", stream.decrypted);
    const RunResult bsdtar = run_program("/bin/sh", {"sh", "-c", "bsdtar -xOf stream.tar.zst"}, {dir.path(), {}, {}});
    EXPECT_EQ(bsdtar.status, 0) << name << ": " << bsdtar.err;
    EXPECT_EQ(bsdtar.out, read_file(dir / ("tree/" + name))) << name;
  }
  const std::string data =
      read_stored_stream(dir / "z.tic", toc.file_map.at("share/data.bin"), product_key()).decrypted;
  size_t frames = 0;
  for (size_t at = data.find("\x28\xb5\x2f\xfd"); at != std::string::npos; at = data.find("\x28\xb5\x2f\xfd", at + 1))
    ++frames;
  EXPECT_GE(frames, 2u) << "6 MB in pieces of 4 MiB";
  const RunResult dump = run_tictool({"dump", dir / "z.tic"}, {dir.path(), {}, {}});
  EXPECT_NE(dump.out.find("  entry share/data.bin\n    size 6000"), std::string::npos);
  EXPECT_EQ(dump.out.find("    compression bzip2"), std::string::npos);
  EXPECT_NE(dump.out.find("    compression zstd"), std::string::npos);
}

// And the bzip2 archive itself installs the same with one worker or four:
// output, log, backup tree and installed tree.
TEST(ZstdArchive, EveryCommandDoesWhatItDoesWithTheBzip2Archive) {
  TempDir dir;
  make_tree(dir);
  ASSERT_EQ(build(dir, "b.tic", "bzip2").status, 0);
  ASSERT_EQ(build(dir, "z.tic", "zstd").status, 0);
  const Installed bzip2 = install(dir, "b", {"b.tic"});
  ASSERT_EQ(bzip2.install.status, 0) << bzip2.install.err;
  EXPECT_EQ(bzip2.tree.at("backup/etc/tarnserve.conf").substr(6), "edited\n");
  const std::pair<std::string, int> others[] = {{"b.tic", 1}, {"b.tic", 4}, {"z.tic", 1}, {"z.tic", 2}};
  for (const auto& [archive, jobs] : others) {
    SCOPED_TRACE(archive + " with " + std::to_string(jobs) + " workers");
    const Installed other = install(dir, archive + std::to_string(jobs), {archive}, jobs);
    EXPECT_EQ(std::tie(other.install.status, other.install.out, other.install.err),
              std::tie(bzip2.install.status, bzip2.install.out, bzip2.install.err));
    EXPECT_EQ(std::tie(other.verify.status, other.verify.out), std::tie(bzip2.verify.status, bzip2.verify.out));
    EXPECT_EQ(other.tree, bzip2.tree);
  }
  for (const std::string archive : {"b.tic", "z.tic"}) {
    const RunResult r = run_kestrel({"validate", dir / archive}, {dir.path(), {}, {}});
    EXPECT_EQ(r.status, 0) << archive;
    EXPECT_EQ(r.out + r.err, "") << archive;
  }
}

TEST(ZstdArchive, ASetOfABzip2AndAZstdArchiveInstalls) {
  TempDir dir;
  const RunOptions here{dir.path(), {}, {}};
  ASSERT_EQ(run_tictool({"build", "-C", kSample + "/tree", kSample + "/server.list", "server.tic", "#server.ctl",
                         "bin/tarnserve", "etc", "lib", "share/doc/README", "share/doc/server.txt"}, here).status, 0);
  for (const std::string compression : {"bzip2", "zstd"})
    ASSERT_EQ(run_tictool({"build", "-a", "--compression", compression, "-C", kSample + "/tree",
                           kSample + "/client.list", "client-" + compression + ".tic", "#client.ctl", "bin/tarnsql",
                           "share/doc/client.txt"},
                          here).status,
              0);
  Installed plain = install(dir, "plain", {"server.tic", "client-bzip2.tic"});
  Installed mixed = install(dir, "mixed", {"server.tic", "client-zstd.tic"});
  EXPECT_EQ(plain.install.status, 0) << plain.install.err;
  EXPECT_EQ(mixed.install.status, 0) << mixed.install.err;
  EXPECT_EQ(mixed.verify.status, 0) << mixed.verify.err;
  // Files come out by data offset, and the streams of the two client
  // archives differ in length: the same lines, in another order.
  for (Installed* i : {&plain, &mixed}) {
    std::string& log = i->tree.at("install.log");
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < log.size(); at = end + 1) lines.push_back(log.substr(at, (end = log.find('\n', at)) - at));
    std::sort(lines.begin(), lines.end());
    log.clear();
    for (const std::string& line : lines) log += line + "\n";
  }
  EXPECT_EQ(mixed.tree, plain.tree);
}

// A stream whose zstd frame declares a 128 MiB window, forged as no tictool
// writes it, is refused with one line before it is decoded: the old file
// stays and no temporary is left, with one worker or two. tictool's
// strongest level writes frames of at most an 8 MiB window.
TEST(ZstdArchive, AFrameDeclaringAWindowOver8MiBIsRefused) {
  TempDir dir;
  ForgedEntry entry("f", "new contents");
  entry.compressed = zstd_frame_with_window(tar_stream(entry), 27);
  write_forged_archive(dir / "w.tic", {entry}, product_key());
  const std::map<std::string, std::string> before{{"f", std::to_string(S_IFREG | 0644) + " old"}};
  for (const int jobs : {1, 2}) {
    write_file(dir / "t/f", "old");
    chmod((dir / "t/f").c_str(), 0644);
    const RunResult r = run_kestrel({"install", "-d", dir / "t", "-o", "o", dir / "w.tic"},
                                    {dir.path(), {"KESTREL_JOBS=" + std::to_string(jobs)}, {}});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "kestrel: install: f: zstd frame needs a window over 8 MiB\n");
    EXPECT_EQ(snapshot(dir / "t", a_snapshot::kContent), before) << jobs << " workers";
  }
  ASSERT_EQ(run_tictool({"build", "--compression", "zstd:22", "-C", kSample + "/tree", kSample + "/server.list",
                         "z22.tic", "#server.ctl", "bin/tarnserve"},
                        {dir.path(), {}, {}})
                .status,
            0);
  const TicToc toc = Tic((dir / "z22.tic").c_str(), false, nullptr, 0).get_toc();
  const std::string data =
      read_stored_stream(dir / "z22.tic", toc.file_map.at("bin/tarnserve"), product_key()).decrypted;
  ASSERT_EQ(data.compare(0, 4, "\x28\xb5\x2f\xfd"), 0);
  const unsigned char descriptor = static_cast<unsigned char>(data[4]);
  ASSERT_EQ(descriptor & 0x20, 0) << "a window descriptor follows";
  EXPECT_EQ(10 + (static_cast<unsigned char>(data[5]) >> 3), 23) << "the window of level 22, capped";
}

}  // namespace
