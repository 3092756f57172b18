// A file larger than one piece, through the real binaries: tictool build
// writes it as a run of bzip2 streams, the same for any number of jobs, that
// any bzip2 reader takes as one stream; kestrel decodes the pieces on all
// its workers and gets what a single decoder gets, or fails where it fails,
// with bzip2 pieces as with zstd ones.
#include <archive.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/archive_writer.h"
#include "support/bzip2_false_start.h"
#include "support/run.h"
#include "support/stream_forge.h"
#include "support/stream_reader.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

namespace {

const RunOptions kEpoch{"", {"SOURCE_DATE_EPOCH=1700000000"}, {}};

// About |size| bytes of words: compressible, yet every piece differs.
std::string words(size_t size, unsigned seed) {
  static const char* const kWords[] = {"table ", "entry ", "stream ", "piece ", "install ", "option ", "archive ",
                                       "key ",   "block ", "offset ", "\n",      "17.0.11 ", "tarnvale "};
  std::mt19937 random(seed);
  std::string out;
  while (out.size() < size) out += kWords[random() % (sizeof kWords / sizeof kWords[0])];
  return out;
}

// The stream of |name| in |archive|, read without the project's reader.
StoredStream stream_of(const std::string& archive, const std::string& name) {
  const TicToc toc = Tic(archive.c_str(), false, nullptr, 0).get_toc();
  return read_stored_stream(archive, toc.file_map.at(name), product_key());
}

// How many bzip2 streams start in |bytes|: "BZh9" and the block magic.
int bzip2_starts(const std::string& bytes) {
  int n = 0;
  for (size_t at = bytes.find("BZh91AY&SY"); at != std::string::npos; at = bytes.find("BZh91AY&SY", at + 1)) ++n;
  return n;
}

// A tree of one big file and one small one, built into |archive| with |jobs|
// and |compression|.
void build(const TempDir& dir, const std::string& archive, int jobs, const std::string& compression = "bzip2") {
  RunOptions options = kEpoch;
  options.cwd = dir.path();
  const RunResult r = run_tictool({"build", "-j", std::to_string(jobs), "--compression", compression, "-C", "tree",
                                   "files.list", archive, "big.bin", "small.txt"},
                                  options);
  ASSERT_EQ(r.status, 0) << r.err;
}

void make_tree(const TempDir& dir, const std::string& big) {
  write_file(dir / "tree/big.bin", big);
  write_file(dir / "tree/small.txt", "small\n");
  write_file(dir / "files.list", "big.bin;o;;0;0;0\nsmall.txt;o;;0;0;0\n");
}

RunResult install(const TempDir& dir, const std::string& archive, const std::string& target, int jobs) {
  std::filesystem::create_directories(dir / target);
  return run_kestrel({"install", "-d", dir / target, "-o", "*", dir / archive},
                     {dir.path(), {"KESTREL_JOBS=" + std::to_string(jobs)}, {}});
}

TEST(BigFile, BuildsTheSameWithAnyJobsAsBzip2StreamsThatInstallWithAnyWorkers) {
  TempDir dir;
  const std::string big = words(3 * 1000 * 1000, 1);
  make_tree(dir, big);
  for (const int jobs : {1, 2, 4}) build(dir, "j" + std::to_string(jobs) + ".tic", jobs);
  const std::string archive = read_file(dir / "j1.tic");
  EXPECT_EQ(read_file(dir / "j2.tic"), archive);
  EXPECT_EQ(read_file(dir / "j4.tic"), archive);

  // Four pieces of the tar stream, each a bzip2 stream of its own, which
  // bzip2 itself decodes as one.
  const StoredStream stream = stream_of(dir / "j1.tic", "big.bin");
  ASSERT_EQ(stream.error, "");
  EXPECT_EQ(stream.data, big);
  EXPECT_EQ(bzip2_starts(stream.decrypted), 4);
  write_file(dir / "big.tar.bz2", stream.decrypted);
  const RunResult bzip2 = run_program("/bin/sh", {"sh", "-c", "bzip2 -dc < big.tar.bz2"}, {dir.path(), {}, {}});
  ASSERT_EQ(bzip2.status, 0) << bzip2.err;
  EXPECT_EQ(bzip2.out.size() % 512, 0u);
  EXPECT_EQ(bzip2.out.compare(257, 5, "ustar"), 0);
  const size_t data = bzip2.out.find(big);
  EXPECT_TRUE(data != std::string::npos && data % 512 == 0) << "the tar stream holds the file's bytes whole";

  const RunResult one = install(dir, "j1.tic", "one", 1);
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(read_file(dir / "one/big.bin"), big);
  for (const int jobs : {2, 4}) {
    const std::string target = "w" + std::to_string(jobs);
    const RunResult r = install(dir, "j1.tic", target, jobs);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, one.out);
    EXPECT_EQ(read_file(dir / (target + "/big.bin")), big) << jobs << " workers";
  }
  const RunResult verify = run_kestrel({"verify", "-d", dir / "w2", "-o", "*", dir / "j1.tic"},
                                       {dir.path(), {"KESTREL_JOBS=2"}, {}});
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_EQ(verify.out, "");
}

// Streams another writer made: one bzip2 stream of many blocks, and pieces
// followed by bytes that hold a stream start where no stream starts (a
// reader takes what follows the last stream for the end).
TEST(BigFile, StreamsOfOtherWritersInstallAsASingleDecoderReadsThem) {
  TempDir dir;
  std::mt19937 random(2);
  std::string big = words(2500 * 1000, 2);
  // The last piece compresses to more than the smallest piece.
  while (big.size() < 2800 * 1000) big.push_back(static_cast<char>(random()));
  ForgedEntry single("big.bin", big);
  ForgedEntry trailed("big.bin", big);
  trailed.compressed = compress_pieces(tar_stream(trailed), ARCHIVE_FILTER_BZIP2, 900000);
  trailed.trailer = std::string("\0\0\0", 3) + "BZh91AY&SY" + std::string(100, 'x');
  write_forged_archive(dir / "single.tic", {single}, product_key());
  write_forged_archive(dir / "trailed.tic", {trailed}, product_key());
  EXPECT_EQ(bzip2_starts(stream_of(dir / "single.tic", "big.bin").decrypted), 1);
  EXPECT_EQ(bzip2_starts(stream_of(dir / "trailed.tic", "big.bin").decrypted), 5);
  for (const std::string archive : {"single.tic", "trailed.tic"}) {
    for (const int jobs : {1, 2}) {
      const std::string target = archive + std::to_string(jobs);
      const RunResult r = install(dir, archive, target, jobs);
      EXPECT_EQ(r.status, 0) << archive << ", " << jobs << " workers: " << r.err;
      EXPECT_EQ(read_file(dir / (target + "/big.bin")), big) << archive << ", " << jobs << " workers";
    }
  }
}

// A stream whose second block holds "BZh91AY&SY" at a byte boundary, far
// enough into the stream to be taken for the start of the next piece: the
// piece before it does not decode to there, so it is no start, and the
// stream installs as one decoder reads it.
TEST(BigFile, AStreamStartInsideCompressedDataDoesNotSplitTheStream) {
  TempDir dir;
  std::mt19937 random(4);
  std::string contents(300000, '\0');
  for (char& c : contents) c = static_cast<char>(random());
  const std::string tar = tar_stream(ForgedEntry("big.bin", contents));
  const size_t first_size = 100000;
  const std::string first = compress_pieces(tar.substr(0, first_size), ARCHIVE_FILTER_BZIP2, first_size);
  std::string spliced;
  size_t cut = 0;
  for (size_t size = 300; spliced.empty() && size < 700; size += 7) {
    cut = first_size + size;
    spliced = bzip2_with_false_start(first, compress_pieces(tar.substr(first_size, size), ARCHIVE_FILTER_BZIP2, size));
  }
  ASSERT_FALSE(spliced.empty());
  const size_t false_start = spliced.find("BZh91AY&SY", 1);
  ASSERT_NE(false_start, std::string::npos);
  EXPECT_GT(false_start, size_t{64 * 1024}) << "where a piece would be cut";
  write_file(dir / "spliced.bz2", spliced);
  const RunResult bzip2 = run_program("/bin/sh", {"sh", "-c", "bzip2 -dc < spliced.bz2"}, {dir.path(), {}, {}});
  ASSERT_EQ(bzip2.status, 0) << "a valid bzip2 stream: " << bzip2.err;
  EXPECT_EQ(bzip2.out, tar.substr(0, cut));

  ForgedEntry entry("big.bin", contents);
  entry.compressed = spliced + compress_pieces(tar.substr(cut), ARCHIVE_FILTER_BZIP2, 900000);
  write_forged_archive(dir / "a.tic", {entry}, product_key());
  EXPECT_EQ(bzip2_starts(stream_of(dir / "a.tic", "big.bin").decrypted), 3);
  for (const int jobs : {1, 2}) {
    const std::string target = "t" + std::to_string(jobs);
    const RunResult r = install(dir, "a.tic", target, jobs);
    EXPECT_EQ(r.status, 0) << jobs << " workers: " << r.err;
    EXPECT_EQ(read_file(dir / (target + "/big.bin")), contents) << jobs << " workers";
  }
}

// A byte changed in a later piece of a big file, or in a small file's one
// piece, of either compression: the file fails as it does with one worker,
// with the same one line, and the file it was to replace stays.
TEST(BigFile, ADamagedPieceFailsTheFileAndKeepsTheOldOne) {
  TempDir dir;
  make_tree(dir, words(5 * 1000 * 1000, 3));
  for (const std::string compression : {"bzip2", "zstd"}) {
    build(dir, compression + ".tic", 2, compression);
    const TicToc toc = Tic((dir / (compression + ".tic")).c_str(), false, nullptr, 0).get_toc();
    for (const std::string name : {"big.bin", "small.txt"}) {
      const TicTocEntry& entry = toc.file_map.at(name);
      std::string bytes = read_file(dir / (compression + ".tic"));
      bytes[entry.data_offset + entry.stored_length * 7 / 8] ^= 0x10;  // a later piece, in either
      write_file(dir / "damaged.tic", bytes);
      std::string first_error;
      for (const int jobs : {1, 2, 4}) {
        SCOPED_TRACE(compression + " " + name + ", " + std::to_string(jobs) + " workers");
        const std::string target = "t" + std::to_string(jobs);
        write_file(dir / (target + "/" + name), "old");
        const RunResult r = install(dir, "damaged.tic", target, jobs);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err.rfind("kestrel: install: " + name + ": ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        if (jobs == 1) first_error = r.err;
        EXPECT_EQ(r.err, first_error);
        EXPECT_EQ(read_file(dir / (target + "/" + name)), "old");
      }
    }
  }
}

}  // namespace
