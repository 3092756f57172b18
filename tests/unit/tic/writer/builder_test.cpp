// The archive builder, read back stream by stream with libarchive directly,
// and what it says when it fails. Sizes, modes, the all flag and tictool's
// messages show through tictool and install.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "scan/dir_scan.h"
#include "tic/writer/builder.h"
#include "support/fresh_error_word.h"
#include "support/archive_writer.h"
#include "support/hex.h"
#include "support/stream_reader.h"
#include "support/temp_dir.h"
#include "tic/writer/writer_steps.h"
#include "tic/archive/tic.h"

namespace {

constexpr char kList[] = "bin/tool;o;;0;0;0\nempty;o;;0;0;0\nlib/libx.so;o;;0;0;0\nlib/libx.so.1;o;;0;0;0\n";

class Builder : public FreshErrorWord {};

// The keyed archive lies outside the tree; the unkeyed one is written inside
// it, over an earlier build that the scan finds, and must leave itself out.
TEST_F(Builder, StreamsTablesAndHeaderReadBackWithAndWithoutAKey) {
  TempDir tmp;
  std::string noise;  // bzip2 cannot shrink it below several 8192-byte blocks
  for (unsigned s = 12345; noise.size() < 30000;) noise += static_cast<char>((s = s * 1103515245u + 12345u) >> 23);
  write_file(tmp / "tree/bin/tool", noise);
  write_file(tmp / "tree/empty", "");
  write_file(tmp / "tree/lib/libx.so.1", "library");
  ASSERT_EQ(symlink("libx.so.1", (tmp / "tree/lib/libx.so").c_str()), 0);
  write_file(tmp / "list", kList);
  ScopedWorkingDirectory in_tree(tmp / "tree");

  const struct { std::string key, path; const char* product; unsigned major, build; } cases[] = {
      {product_key(), tmp / "keyed.tic", "nimbrel_core", 1, 4716},
      {"", "self.tic", "tarnvale", 17, 7254},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ERROR = 0;
    if (c.key.empty()) write_file(c.path, "an earlier build");
    {
      Tic tic(c.path.c_str(), false, bytes_of(c.key), static_cast<int>(c.key.size()));
      tic.set_product_name(c.product);
      TicWriter writer;
      tic.set_compressor(&writer);
      a_dir_scan_info scan;
      ASSERT_EQ(scan.scan_dir("."), 0);
      ASSERT_TRUE(tic.get_toc().read((tmp / "list").c_str()));
      ASSERT_EQ(tic.compress(&scan, false), 0);
    }
    Tic reader(c.path.c_str(), false, bytes_of(c.key), static_cast<int>(c.key.size()));
    EXPECT_EQ(reader.validate(), 0) << "the header MAC";
    const TicToc& toc = reader.get_toc();
    EXPECT_EQ(toc.file_map.count("self.tic"), 0u);

    // Streams lie back to back from 104 in path order.
    uint64_t next = 104;
    bool padded = true;
    for (const std::string name : {"bin/tool", "empty", "lib/libx.so", "lib/libx.so.1"}) {
      SCOPED_TRACE(name);
      const TicTocEntry& entry = toc.file_map.at(name);
      EXPECT_EQ(entry.data_offset, next);
      next = entry.data_offset + entry.stored_length;
      padded = padded && entry.stored_length % 8 == 0;
      const StoredStream s = read_stored_stream(c.path, entry, c.key);
      EXPECT_EQ(s.error, "");
      EXPECT_EQ(s.mac, std::string(reinterpret_cast<const char*>(entry.mac), 32));
      EXPECT_EQ(s.entries, 1);
      EXPECT_EQ(s.pathname, name);
      EXPECT_EQ(s.symlink, name == "lib/libx.so" ? "libx.so.1" : "");
      EXPECT_EQ(s.data, name == "lib/libx.so" ? "" : read_file(name));
    }
    EXPECT_GT(toc.file_map.at("bin/tool").stored_length, 2u * 8192);
    EXPECT_EQ(padded, !c.key.empty()) << "whole 8-byte records under a key only";

    TicHeader header;
    std::memcpy(&header, read_file(c.path).data(), sizeof header);
    EXPECT_EQ(header.version_offset, next) << "the stamp block follows the last stream, no other";
    EXPECT_EQ(header.toc_offset, header.version_offset + header.version_length);
    EXPECT_EQ(header.major, c.major);
    EXPECT_EQ(header.build, c.build);
  }
}

// The builder returns its failure, about the archive or the file it was
// archiving, and leaves the error word alone; Tic::compress publishes it.
TEST_F(Builder, AFailureNamesTheArchiveOrTheFileAndOnlyCompressPublishesIt) {
  TempDir tmp;
  write_file(tmp / "tree/bin/tool", "tool");
  write_file(tmp / "tree/extra", "not listed at first");
  ScopedWorkingDirectory in_tree(tmp / "tree");
  a_dir_scan_info scan;
  ASSERT_EQ(scan.scan_dir("."), 0);
  const std::string nowhere = tmp / "absent/a.tic", archive = tmp / "a.tic";
  Tic tic(nullptr, false, nullptr, 0);
  ASSERT_TRUE(tic.get_toc().decode_list("bin/tool;o;;0;0;0\n").ok());
  TicBuilder builder(tic);
  TicWriter writer;
  tic.set_compressor(&writer);

  tic.set_path(nowhere.c_str());
  const Outcome unopened = builder.compress(scan, false);
  EXPECT_EQ(unopened.failure().step, kStepOpenArchive);
  EXPECT_EQ(unopened.failure().line(), nowhere + ": No such file or directory");
  EXPECT_EQ(ERROR, 0);
  EXPECT_EQ(tic.compress(&scan, false), 1);
  EXPECT_EQ(ERROR, ENOENT | (kStepOpenArchive.code << 8));

  ERROR = 0;
  tic.set_path(archive.c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(tic.compress(&scan, false), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File not in toc: extra\n");
  EXPECT_EQ(ERROR, kErrorNotInToc);
  EXPECT_EQ(published_failure().subject, "extra");

  if (geteuid() == 0) return;  // root reads what it likes
  ERROR = 0;
  tic.get_toc().file_map["extra"] = tic.get_toc().file_map.at("bin/tool");
  ASSERT_EQ(chmod("extra", 0), 0);
  const Outcome unread = builder.compress(scan, false);
  EXPECT_EQ(unread.failure().step, kStepOpenFile);
  EXPECT_EQ(unread.failure().line(), "extra: Permission denied");
  EXPECT_EQ(ERROR, 0);
}

}  // namespace
