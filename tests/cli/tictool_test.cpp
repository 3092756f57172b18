// tictool through the real binary: its command line, the sample product, and
// one line and status 1 for every input it cannot build from.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

namespace {

const std::string kSample = SAMPLE_DIR;

RunResult tictool_in(const std::string& dir, const std::vector<std::string>& args) {
  RunOptions options;
  options.cwd = dir;
  return run_tictool(args, options);
}

RunResult kestrel_in(const std::string& dir, const std::vector<std::string>& args) {
  RunOptions options;
  options.cwd = dir;
  return run_kestrel(args, options);
}

void expect_result(const RunResult& r, int status, const std::string& out, const std::string& err) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

// True when |path| exists with a header that is not all zero bytes.
bool has_header(const std::string& path) {
  if (!file_exists(path)) return false;
  return read_file(path).substr(0, 104) != std::string(104, '\0');
}

TEST(TictoolCommandLine, HelpOnStandardOutputAndUsageErrorsWithStatusTwo) {
  TempDir dir;
  const RunResult main_help = tictool_in(dir.path(), {"--help"});
  EXPECT_EQ(main_help.status, 0);
  EXPECT_EQ(main_help.out.rfind("usage: tictool <command> [options] [args ...]\n", 0), 0u);
  EXPECT_EQ(main_help.err, "");
  const RunResult build_help = tictool_in(dir.path(), {"BUILD", "-v", "--help", "ignored"});
  EXPECT_EQ(build_help.status, 0);
  EXPECT_EQ(build_help.out.rfind("usage: tictool build [options] <list-file> <archive> <path> [<path> ...]\n", 0), 0u);
  expect_result(tictool_in(dir.path(), {"help"}), 0, main_help.out, "");

  const std::string& main_usage = main_help.out;
  const std::string& build_usage = build_help.out;
  const struct {
    std::vector<std::string> args;
    std::string message;
    const std::string& usage;
  } cases[] = {
      {{}, "missing command", main_usage},
      {{"frob"}, "unknown command: frob", main_usage},
      {{"build"}, "missing list file", build_usage},
      {{"build", "l"}, "missing archive", build_usage},
      {{"build", "-a", "l", "a.tic"}, "missing path to scan", build_usage},
      {{"build", "-x", "l", "a.tic", "p"}, "unknown option: -x", build_usage},
      {{"build", "-k", "two", "l", "a.tic", "p"}, "not a number of path elements: two", build_usage},
      {{"build", "-C"}, "option -C needs a value", build_usage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    expect_result(tictool_in(dir.path(), c.args), 2, "", "tictool: " + c.message + "\n" + c.usage);
  }
}

// The two archives of the sample product, built as its README says.
struct SampleArchives {
  TempDir dir;
  RunResult server, client;

  SampleArchives() {
    server = tictool_in(dir.path(), {"build", "-C", kSample + "/tree", kSample + "/server.list", "server.tic",
                                     "#server.ctl", "bin/tarnserve", "etc", "lib", "share/doc/README",
                                     "share/doc/server.txt"});
    client = tictool_in(dir.path(), {"build", "-a", "-C", kSample + "/tree", kSample + "/client.list", "client.tic",
                                     "#client.ctl", "bin/tarnsql", "share/doc/client.txt"});
  }
};

TEST(TictoolBuild, TheSampleProductBuildsIntoASetThatKestrelReads) {
  SampleArchives s;
  expect_result(s.server, 0, "", "");
  expect_result(s.client, 0, "", "");
  const std::string& d = s.dir.path();

  expect_result(kestrel_in(d, {"validate", "server.tic", "client.tic"}), 0, "", "");
  expect_result(kestrel_in(d, {"list", "-o", "*", "server.tic", "client.tic"}), 0,
                "#client.ctl\n#server.ctl\nbin/tarnserve\nbin/tarnsql\netc/tarnserve.conf\nlib/libtarn.so\n"
                "lib/libtarn.so.1\nshare/doc/README\nshare/doc/client.txt\nshare/doc/server.txt\n",
                "");
  expect_result(kestrel_in(d, {"list", "-a", "-o", "client", "client.tic"}), 0,
                "#client.ctl\nbin/tarnsql\nlib/libtarn.so\nlib/libtarn.so.1\n", "");
  expect_result(kestrel_in(d, {"options", "server.tic", "client.tic"}), 0, "client 15 docs 15 server 15 \n", "");
  // Alone, the client archive lacks the library's data.
  expect_result(kestrel_in(d, {"options", "client.tic"}), 0, "client 11 docs 15 server 11 \n", "");

  const std::string key = product_key();
  const std::string server_path = s.dir / "server.tic";
  Tic server(server_path.c_str(), false, reinterpret_cast<const unsigned char*>(key.data()),
             static_cast<int>(key.size()));
  const TicTocEntry& link = server.get_toc().file_map.at("lib/libtarn.so");
  EXPECT_NE(link.data_offset, 0u);
  EXPECT_EQ(link.file_size, 12u) << "the link's own size";
}

TEST(TictoolBuild, VerboseLinesKeyAndProductSwitches) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "tree/sub/b", "b");
  write_file(dir / "list", "a;x;;0;0;0\nsub/b;x;;0;0;0\n");

  expect_result(tictool_in(dir.path(), {"build", "-v", "--no-key", "-p", "nimbrel_core", "-C", "tree", "list",
                                        "plain.tic", "."}),
                0, "Compressing a\nCompressing sub/b\n", "");
  const std::string plain_path = dir / "plain.tic";
  Tic plain(plain_path.c_str(), false, nullptr, 0);
  EXPECT_EQ(plain.validate(), 0) << "no key";
  expect_result(kestrel_in(dir.path(), {"validate", "plain.tic"}), 255, "", "");
  TicHeader header;
  UniqueFd fd(::open((dir / "plain.tic").c_str(), O_RDONLY));
  ASSERT_EQ(pread_full(fd.get(), &header, sizeof header, 0), 104);
  EXPECT_EQ(header.major, 1);
  EXPECT_EQ(header.build, 4716u);

  // The files kept under their last path element, read from the directory
  // above, wherever tictool runs.
  write_file(dir / "sub-list", "sub/b;x;;0;0;0\n");
  expect_result(tictool_in(dir.path(), {"build", "-k", "1", "sub-list", "kept.tic", dir / "tree/sub/"}), 0, "", "");
  expect_result(kestrel_in(dir.path(), {"list", "-o", "x", "kept.tic"}), 0, "sub/b\n", "");
  expect_result(kestrel_in(dir.path(), {"validate", "kept.tic"}), 0, "", "");

  expect_result(tictool_in(dir.path(), {"build", "-k", "1", "sub-list", "two.tic", "tree/sub", "other/sub"}), 1, "",
                "tictool: other/sub: paths kept with -k must lie in one directory (other is not tree)\n");
}

TEST(TictoolBuild, EveryBadInputGivesOneLineStatusOneAndNoArchive) {
  TempDir dir;
  write_file(dir / "tree/a", "a");
  write_file(dir / "tree/extra", "not listed");
  write_file(dir / "tree/paths", "a\n/etc/passwd\n");
  write_file(dir / "list", "a;x;;0;0;0\n");
  write_file(dir / "bad.list", "a;x;;0;0;0\nbin/tool;client;;1;2\n");
  mkdir((dir / "listdir").c_str(), 0755);

  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"missing.list", "out.tic", "a"},
       "tictool: cannot read list file missing.list: No such file or directory\n"},
      {{"listdir", "out.tic", "a"}, "tictool: cannot read list file listdir: Is a directory\n"},
      {{"bad.list", "out.tic", "a"}, "load: invalid entry found: bin/tool\ntictool: cannot load list file bad.list\n"},
      {{"list", "out.tic", "/etc"},
       "tictool: /etc: absolute path; entry names are relative to the install directory\n"},
      {{"list", "out.tic", "a", "../tree/a"},
       "tictool: ../tree/a: \"..\" in path; entry names are relative to the install directory\n"},
      {{"list", "out.tic", "@paths"},
       "tictool: /etc/passwd: absolute path; entry names are relative to the install directory\n"},
      {{"list", "out.tic", "@no-paths"}, "tictool: cannot read path list no-paths: No such file or directory\n"},
      {{"list", "out.tic", "a", "nothere"}, "tictool: nothere: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args{"build", "-C", "tree"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expect_result(tictool_in(dir.path(), args), 1, "", c.err);
    EXPECT_FALSE(file_exists(dir / "out.tic"));
  }
  expect_result(tictool_in(dir.path(), {"build", "-C", "nowhere", "list", "out.tic", "a"}), 1, "",
                "tictool: cannot change into nowhere: No such file or directory\n");
  expect_result(tictool_in(dir.path(), {"build", "-C", "tree", "list", "no/such/dir/x.tic", "a"}), 1, "",
                "tictool: cannot write archive no/such/dir/x.tic: No such file or directory\n");
  // Failures while building remove what was written, an earlier good
  // archive's bytes included.
  expect_result(tictool_in(dir.path(), {"build", "-C", "tree", "list", "out.tic", "a"}), 0, "", "");
  ASSERT_TRUE(has_header(dir / "out.tic"));
  expect_result(tictool_in(dir.path(), {"build", "-C", "tree", "list", "out.tic", "."}), 1, "",
                "File not in toc: extra\n");
  EXPECT_FALSE(file_exists(dir / "out.tic"));
  // A listed path that is gone by the time it is archived: the builder's lstat.
  write_file(dir / "tree/gone-paths", "gone\n");
  write_file(dir / "gone.list", "gone;x;;0;0;0\n");
  expect_result(tictool_in(dir.path(), {"build", "-C", "tree", "gone.list", "out.tic", "@gone-paths"}), 1, "",
                "tictool: cannot archive gone: No such file or directory\n");
  EXPECT_FALSE(file_exists(dir / "out.tic")) << "what a failed build wrote is removed";
}

}  // namespace
