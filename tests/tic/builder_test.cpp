// The archive builder, read back stream by stream with libarchive directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "scan/dir_scan.h"
#include "stamp/dbversion.h"
#include "support/archive_writer.h"
#include "support/stream_reader.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/tic.h"

namespace {

constexpr char kList[] =
    "#ctl;server;server;0;0;0\n"
    "bin/tool;server;;0;0;0\n"
    "doc/readme;docs;;0;0;0\n"
    "empty;server;;0;0;0\n"
    "lib/libx.so;server|client;;0;0;0\n"
    "lib/libx.so.1;server|client;;0;0;0\n"
    "extra/nodata;client;;0;0;0\n"
    "#client.ctl;client;client;0;0;0\n";

// A product tree in tree/, the working directory for the test's lifetime:
// scanned paths are entry names.
class Builder : public testing::Test {
 protected:
  Builder() {
    ERROR = 0;
    std::string noise(30000, '\0');  // bzip2 cannot shrink it below several 8192-byte blocks
    unsigned state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 23);
    write_file(tmp / "tree/#ctl", "control\n");
    write_file(tmp / "tree/bin/tool", noise);
    chmod((tmp / "tree/bin/tool").c_str(), 0755);
    write_file(tmp / "tree/doc/readme", "read me\n");
    write_file(tmp / "tree/empty", "");
    write_file(tmp / "tree/lib/libx.so.1", "library");
    EXPECT_EQ(symlink("libx.so.1", (tmp / "tree/lib/libx.so").c_str()), 0);
    cwd = std::make_unique<ScopedWorkingDirectory>(tmp / "tree");
  }

  // Builds |tic| from a scan of the tree with the table of |list|.
  int build(Tic& tic, bool all = false, const std::string& list = kList) {
    a_dir_scan_info scan;
    EXPECT_EQ(scan.scan_dir("."), 0);
    write_file(tmp / "list", list);
    EXPECT_TRUE(tic.get_toc().read((tmp / "list").c_str()));
    return tic.compress(&scan, all);
  }

  TempDir tmp;
  std::unique_ptr<ScopedWorkingDirectory> cwd;
};

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

// The keyed archive lies outside the tree; the unkeyed one is written inside
// it, over an earlier build that the scan finds, and must leave itself out.
TEST_F(Builder, StreamsTablesAndStampReadBackWithAndWithoutAKey) {
  const struct { std::string key, path; bool all; const char *product, *module; unsigned major, build; } cases[] = {
      {product_key(), tmp / "keyed.tic", false, "nimbrel_core", "nimbrel", 1, 4716},
      {"", "self.tic", true, "tarnvale", "tarnvale", 17, 7254},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    if (c.key.empty()) write_file(c.path, "an earlier build");
    {
      Tic tic(c.path.c_str(), false, bytes(c.key), static_cast<int>(c.key.size()));
      tic.set_product_name(c.product);
      ASSERT_EQ(build(tic, c.all), 0);
    }
    Tic reader(c.path.c_str(), false, bytes(c.key), static_cast<int>(c.key.size()));
    EXPECT_EQ(reader.validate(), 0) << "the header MAC";
    const TicToc& toc = reader.get_toc();
    EXPECT_EQ(toc.file_map.count("self.tic"), 0u);
    // Without all, entries without data go; a control file keeps its name.
    EXPECT_EQ(toc.file_map.count("extra/nodata"), c.all ? 1u : 0u);
    EXPECT_EQ(toc.options.description_map.at("client"), "#client.ctl");

    // Streams lie back to back from 104 in path order.
    uint64_t next = 104;
    bool padded = true;
    for (const std::string name : {"#ctl", "bin/tool", "doc/readme", "empty", "lib/libx.so", "lib/libx.so.1"}) {
      SCOPED_TRACE(name);
      const TicTocEntry& entry = toc.file_map.at(name);
      EXPECT_EQ(entry.data_offset, next);
      next = entry.data_offset + entry.stored_length;
      padded = padded && entry.stored_length % 8 == 0;
      struct stat st;
      ASSERT_EQ(lstat(name.c_str(), &st), 0);
      EXPECT_EQ(entry.file_size, static_cast<uint64_t>(st.st_size));
      const StoredStream s = read_stored_stream(c.path, entry, c.key);
      EXPECT_EQ(s.error, "");
      EXPECT_EQ(s.mac, std::string(reinterpret_cast<const char*>(entry.mac), 32));
      EXPECT_EQ(s.entries, 1);
      EXPECT_EQ(s.pathname, name);
      EXPECT_EQ(s.mode, st.st_mode);
      EXPECT_EQ(s.symlink, S_ISLNK(st.st_mode) ? "libx.so.1" : "");
      EXPECT_EQ(s.data, S_ISLNK(st.st_mode) ? "" : read_file(name));
    }
    EXPECT_GT(toc.file_map.at("bin/tool").stored_length, 2u * 8192);
    EXPECT_EQ(padded, !c.key.empty()) << "whole 8-byte records under a key only";

    TicHeader header;
    UniqueFd fd(::open(c.path.c_str(), O_RDONLY));
    ASSERT_EQ(pread_full(fd.get(), &header, sizeof header, 0), 104);
    EXPECT_EQ(header.version_offset, next) << "the stamp block follows the last stream, no other";
    EXPECT_EQ(header.toc_offset, header.version_offset + header.version_length);
    EXPECT_EQ(header.major, c.major);
    EXPECT_EQ(header.build, c.build);
    auto info = std::make_unique<dbversion_info>();
    ASSERT_EQ(__Get_dbversion_info(c.path.c_str(), info.get(), 0), kInfoFound);
    EXPECT_EQ(info->file_offset, header.version_offset + 16);
    EXPECT_STREQ(__Find_arg(info.get(), "MODULE"), c.module);
    EXPECT_EQ(std::string(__Find_arg(info.get(), "BUILD_NUMBER")), std::to_string(c.build));
  }
}

TEST_F(Builder, AScannedFileMissingFromTheTableLeavesNoHeader) {
  const std::string path = tmp / "partial.tic";
  Tic tic(path.c_str(), false, nullptr, 0);
  std::string list = kList;
  list.erase(list.find("doc/readme"), std::string("doc/readme;docs;;0;0;0\n").size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(build(tic, false, list), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File not in toc: doc/readme\n");
  const std::string written = read_file(path);
  EXPECT_EQ(written.substr(0, 104), std::string(104, '\0'));
  EXPECT_GT(written.size(), 104u) << "the streams before it stay";
}

}  // namespace
