// The archive builder, read back stream by stream with libarchive directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// Bytes that bzip2 cannot shrink much, so that a stream spans several
// 8192-byte blocks.
std::string noise(size_t length) {
  std::string out(length, '\0');
  unsigned state = 12345;
  for (char& c : out) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  return out;
}

constexpr char kList[] =
    "#ctl;server;server;0;0;0\n"
    "bin/tool;server;;0;0;0\n"
    "doc/readme;docs;;0;0;0\n"
    "empty;server;;0;0;0\n"
    "lib/libx.so;server|client;;0;0;0\n"
    "lib/libx.so.1;server|client;;0;0;0\n";

// A product tree in tree/ and its list file, with the working directory in
// tree/ for the test's lifetime: scanned paths are entry names.
class Builder : public testing::Test {
 protected:
  Builder() {
    ERROR = 0;
    write_file(tmp / "tree/#ctl", "control\n");
    write_file(tmp / "tree/bin/tool", noise(30000));
    chmod((tmp / "tree/bin/tool").c_str(), 0755);
    write_file(tmp / "tree/doc/readme", "read me\n");
    write_file(tmp / "tree/empty", "");
    write_file(tmp / "tree/lib/libx.so.1", "library");
    EXPECT_EQ(symlink("libx.so.1", (tmp / "tree/lib/libx.so").c_str()), 0);
    write_file(tmp / "list", kList);
    cwd = std::make_unique<ScopedWorkingDirectory>(tmp / "tree");
  }

  a_dir_scan_info scan_tree() {
    a_dir_scan_info scan;
    EXPECT_EQ(scan.scan_dir("."), 0);
    return scan;
  }

  // Builds archive |name| (in the test directory) from |scan|.
  int build(Tic& tic, const a_dir_scan_info& scan, bool all = false, const std::string& list = kList) {
    write_file(tmp / "list", list);
    EXPECT_TRUE(tic.get_toc().read((tmp / "list").c_str()));
    return tic.compress(&scan, all);
  }

  // A Tic borrows its path: keep the string alive as long as the object.
  std::string archive(const std::string& name) const { return tmp / name; }

  TempDir tmp;
  const std::string key = product_key();
  std::unique_ptr<ScopedWorkingDirectory> cwd;
};

const unsigned char* bytes(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

TicHeader header_of(const std::string& path) {
  TicHeader header;
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  EXPECT_EQ(pread_full(fd.get(), &header, sizeof header, 0), 104);
  return header;
}

// Entries with a stream, in the order their streams lie in the file.
std::vector<std::pair<std::string, TicTocEntry>> streams_in_file_order(const TicToc& toc) {
  std::vector<std::pair<std::string, TicTocEntry>> out;
  for (const auto& [name, entry] : toc.file_map)
    if (entry.data_offset != 0) out.emplace_back(name, entry);
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.second.data_offset < b.second.data_offset; });
  return out;
}

TEST_F(Builder, KeyedArchiveHoldsOneVerifiedStreamPerFileBackToBackInPathOrder) {
  const std::string path = archive("keyed.tic");
  {
    Tic tic(path.c_str(), false, bytes(key), static_cast<int>(key.size()));
    ASSERT_EQ(build(tic, scan_tree()), 0);
  }
  EXPECT_EQ(ERROR, 0);
  Tic reader(path.c_str(), false, bytes(key), static_cast<int>(key.size()));
  EXPECT_EQ(reader.validate(), 0) << "the header MAC covers the tables";

  const auto streams = streams_in_file_order(reader.get_toc());
  ASSERT_EQ(streams.size(), 6u);
  uint64_t next = 104;
  std::vector<std::string> file_order;
  for (const auto& [name, entry] : streams) {
    SCOPED_TRACE(name);
    file_order.push_back(name);
    EXPECT_EQ(entry.data_offset, next) << "no gap between streams";
    next = entry.data_offset + entry.stored_length;
    EXPECT_EQ(entry.stored_length % 8, 0u) << "whole 8-byte records under a key";

    struct stat st;
    ASSERT_EQ(lstat(name.c_str(), &st), 0);
    EXPECT_EQ(entry.file_size, static_cast<uint64_t>(st.st_size));

    const StoredStream s = read_stored_stream(path, entry, key);
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.mac, std::string(reinterpret_cast<const char*>(entry.mac), 32));
    EXPECT_EQ(s.entries, 1);
    EXPECT_EQ(s.pathname, name);
    EXPECT_EQ(s.mode, st.st_mode);
    if (S_ISLNK(st.st_mode)) {
      EXPECT_EQ(s.symlink, "libx.so.1");
      EXPECT_EQ(s.data, "");
    } else {
      EXPECT_EQ(s.data, read_file(name));
    }
  }
  EXPECT_EQ(file_order, (std::vector<std::string>{"#ctl", "bin/tool", "doc/readme", "empty", "lib/libx.so",
                                                  "lib/libx.so.1"}));
  EXPECT_GT(reader.get_toc().file_map.at("bin/tool").stored_length, 2u * 8192) << "spans several blocks";
  EXPECT_EQ(header_of(path).version_offset, next) << "the stamp block follows the last stream";

  Tic unkeyed(path.c_str(), false, nullptr, 0);
  EXPECT_NE(unkeyed.validate(), 0);
}

TEST_F(Builder, UnkeyedStreamsAreStoredAsTheCompressorWroteThem) {
  const std::string path = archive("plain.tic");
  {
    Tic tic(path.c_str(), false, nullptr, 0);
    ASSERT_EQ(build(tic, scan_tree()), 0);
  }
  Tic reader(path.c_str(), false, nullptr, 0);
  EXPECT_EQ(reader.validate(), 0) << "the MAC with an empty key";
  bool some_length_unaligned = false;
  for (const auto& [name, entry] : streams_in_file_order(reader.get_toc())) {
    const StoredStream s = read_stored_stream(path, entry, "");
    EXPECT_EQ(s.error, "") << name;
    EXPECT_EQ(s.pathname, name);
    EXPECT_EQ(s.mac, std::string(reinterpret_cast<const char*>(entry.mac), 32));
    if (entry.stored_length % 8 != 0) some_length_unaligned = true;
  }
  EXPECT_TRUE(some_length_unaligned) << "no padding without a key";
}

TEST_F(Builder, TheArchiveInsideTheScannedTreeIsSkipped) {
  Tic tic("self.tic", false, nullptr, 0);
  write_file("self.tic", "an earlier build");
  ASSERT_EQ(build(tic, scan_tree()), 0) << "self.tic is not listed, so archiving it would fail";
  Tic reader("self.tic", false, nullptr, 0);
  EXPECT_EQ(reader.get_toc().file_map.count("self.tic"), 0u);
  EXPECT_EQ(reader.get_toc().file_map.size(), 6u);
}

TEST_F(Builder, AScannedFileMissingFromTheTableLeavesNoHeader) {
  const std::string path = archive("partial.tic");
  Tic tic(path.c_str(), false, bytes(key), static_cast<int>(key.size()));
  std::string list = kList;
  list.erase(list.find("doc/readme"), std::string("doc/readme;docs;;0;0;0\n").size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(build(tic, scan_tree(), false, list), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "File not in toc: doc/readme\n");
  EXPECT_EQ(ERROR, -1);
  const std::string written = read_file(path);
  EXPECT_EQ(written.substr(0, 104), std::string(104, '\0'));
  EXPECT_GT(written.size(), 104u) << "the streams before it stay";
  EXPECT_EQ(tic.descriptor(), -1);
}

TEST_F(Builder, FailuresRecordTheirStep) {
  a_dir_scan_info scan;
  scan.init_with_list({"bin/tool", "vanished"});
  std::string list = kList;
  list += "vanished;server;;0;0;0\n";
  const std::string path = archive("vanished.tic");
  Tic tic(path.c_str(), false, nullptr, 0);
  EXPECT_EQ(build(tic, scan, false, list), 1);
  EXPECT_EQ(ERROR, 0x48000 | ENOENT) << "lstat of the entry";
  EXPECT_EQ(read_file(path).substr(0, 104), std::string(104, '\0'));

  ERROR = 0;
  const std::string nowhere = archive("no/such/dir/x.tic");
  Tic unwritable(nowhere.c_str(), false, nullptr, 0);
  EXPECT_EQ(unwritable.compress(&scan, false), 1);
  EXPECT_EQ(ERROR, 0x44a00 | ENOENT);
}

TEST_F(Builder, AllDecidesWhetherFilesWithoutDataKeepTheirRecords) {
  std::string list = kList;
  list += "extra/nodata;client;;0;0;0\n#client.ctl;client;client;0;0;0\n";
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "all" : "not all");
    const std::string path = archive(all ? "all.tic" : "some.tic");
    {
      Tic tic(path.c_str(), false, nullptr, 0);
      ASSERT_EQ(build(tic, scan_tree(), all, list), 0);
    }
    Tic reader(path.c_str(), false, nullptr, 0);
    const TicToc& toc = reader.get_toc();
    EXPECT_EQ(toc.file_map.count("extra/nodata"), all ? 1u : 0u);
    EXPECT_EQ(toc.file_map.count("#client.ctl"), all ? 1u : 0u);
    if (all) {
      EXPECT_EQ(toc.file_map.at("extra/nodata").data_offset, 0u);
    }
    EXPECT_EQ(toc.options.description_map.at("client"), "#client.ctl") << "its name is kept either way";
    EXPECT_EQ(toc.options.description_map.at("server"), "#ctl");
  }
}

TEST_F(Builder, StampBlockAndHeaderCarryTheWritersVersion) {
  struct Case {
    const char* product;
    const char* module;
    unsigned major, minor, patch, build;
  };
  for (const Case& c : {Case{"nimbrel_core", "nimbrel", 1, 0, 0, 4716}, Case{"nimbrel", "nimbrel", 1, 0, 0, 4716},
                        Case{"tarnvale", "tarnvale", 17, 0, 11, 7254}}) {
    SCOPED_TRACE(c.product);
    const std::string path = archive(std::string(c.product) + ".tic");
    {
      Tic tic(path.c_str(), false, nullptr, 0);
      tic.set_product_name(c.product);
      ASSERT_EQ(build(tic, scan_tree()), 0);
      EXPECT_EQ(tic.product_name(), c.module);
    }
    const TicHeader header = header_of(path);
    EXPECT_EQ(header.major, c.major);
    EXPECT_EQ(header.minor, c.minor);
    EXPECT_EQ(header.patch, c.patch);
    EXPECT_EQ(header.build, c.build);
    EXPECT_EQ(header.toc_offset, header.version_offset + header.version_length);

    auto info = std::make_unique<dbversion_info>();
    ASSERT_EQ(__Get_dbversion_info(path.c_str(), info.get(), 0), kInfoFound);
    EXPECT_EQ(info->file_offset, header.version_offset + 16);
    EXPECT_STREQ(__Find_arg(info.get(), "MODULE"), c.module);
    EXPECT_EQ(std::string(__Find_arg(info.get(), "VERSION_MAJOR")), std::to_string(c.major));
    EXPECT_EQ(std::string(__Find_arg(info.get(), "VERSION_PATCH")), std::to_string(c.patch));
    EXPECT_EQ(std::string(__Find_arg(info.get(), "BUILD_NUMBER")), std::to_string(c.build));
  }
}

// Records every call of the builder's progress hook.
class RecordingTic : public Tic {
 public:
  using Tic::Tic;
  struct Call {
    std::string name;
    unsigned long long size;
    unsigned long mode;
    unsigned long long done, total;
  };
  std::vector<Call> calls;
  void compression_progress(const std::string& name, unsigned long long size, unsigned long mode,
                            unsigned long long done, unsigned long long total) override {
    calls.push_back({name, size, mode, done, total});
  }
};

TEST_F(Builder, ProgressHookGetsEachFileWithTheSumOfThoseBefore) {
  const std::string path = archive("progress.tic");
  RecordingTic tic(path.c_str(), false, nullptr, 0);
  ASSERT_EQ(build(tic, scan_tree()), 0);
  ASSERT_EQ(tic.calls.size(), 6u);
  unsigned long long done = 0;
  for (const RecordingTic::Call& call : tic.calls) {
    SCOPED_TRACE(call.name);
    struct stat st;
    ASSERT_EQ(lstat(call.name.c_str(), &st), 0);
    EXPECT_EQ(call.size, static_cast<unsigned long long>(st.st_size));
    EXPECT_EQ(call.mode, static_cast<unsigned long>(st.st_mode));
    EXPECT_EQ(call.done, done);
    EXPECT_EQ(call.total, 0u);
    done += call.size;
  }
  EXPECT_EQ(tic.calls[4].name, "lib/libx.so");
  EXPECT_EQ(tic.calls[4].size, 9u) << "a link's size is its target's length";

  testing::internal::CaptureStdout();
  const std::string verbose_path = archive("verbose.tic");
  Tic verbose(verbose_path.c_str(), true, nullptr, 0);
  ASSERT_EQ(build(verbose, scan_tree()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Compressing #ctl\nCompressing bin/tool\nCompressing doc/readme\nCompressing empty\n"
            "Compressing lib/libx.so\nCompressing lib/libx.so.1\n");
}

}  // namespace
