// The read-only commands through the real binary: list, space and options.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

// A set of two archives in a fresh directory:
//   main.tic   options client, docs, server, tools and one without a name
//   extra.tic  the data of lib/client.so, which main.tic lists without data
struct ProductArchives {
  TempDir dir;

  ProductArchives() {
    TicToc main;
    main.options.option_mask("client|docs|server|tools");
    main.options.option_map[""].bit = 4;
    auto mask = [&](const char* names) { return main.options.option_mask(names); };
    auto control = [&](const char* names, unsigned long long data_offset = 0) {
      TicTocEntry e = make_entry(0, data_offset);
      e.control_mask = mask(names);
      return e;
    };
    main.file_map["#client.ctl"] = control("client");   // control file named with "#", no data
    main.file_map["bin/server"] = make_entry(mask("server"), 0, 300);
    main.file_map["bin/server"].control_mask = mask("server");  // control file with data
    main.file_map["doc/manual"] = make_entry(mask("docs"), 0, 20);
    main.file_map["doc/manual"].control_mask = mask("docs");  // control file without data
    main.file_map["bin/client"] = make_entry(mask("client"), 0, 100);
    main.file_map["lib/client.so"] = make_entry(mask("client"), 0, 4000);  // data in extra.tic
    main.file_map["#tools.ctl"] = control("tools");
    main.file_map["share/tools.dat"] = make_entry(mask("tools"), 0, 7);
    main.file_map["share/tools.dat"].aux_c = 1;  // carried files never count as missing
    main.file_map["Zebra"] = make_entry(mask("docs"), 0, 1);
    main.file_map["bin/server.conf"] = make_entry(mask("server"), 0, 5);
    main.file_map["nomask"] = make_entry(0, 0, 1000);
    write_test_archive(dir / "main.tic", main, true,
                       {{"bin/server", "S"}, {"bin/client", "C"}, {"Zebra", "Z"}, {"bin/server.conf", "F"},
                        {"nomask", "N"}});

    TicToc extra;
    extra.file_map["lib/client.so"] = make_entry(extra.options.option_mask("client"), 0, 4000);
    write_test_archive(dir / "extra.tic", extra, true, {{"lib/client.so", "L"}});
  }

  RunResult kestrel(const std::vector<std::string>& args) const {
    RunOptions options;
    options.cwd = dir.path();
    return run_kestrel(args, options);
  }
};

void expect_output(const RunResult& r, const std::string& out) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, "");
}

TEST(ListCommand, PrintsSelectedNamesInByteOrder) {
  ProductArchives p;
  expect_output(p.kestrel({"list", "-o", "*", "main.tic"}), "Zebra\nbin/client\nbin/server\nbin/server.conf\n");
  expect_output(p.kestrel({"list", "-o", "server|docs", "main.tic"}), "Zebra\nbin/server\nbin/server.conf\n");
  expect_output(p.kestrel({"list", "-o", "server||docs|", "main.tic"}), "Zebra\nbin/server\nbin/server.conf\n");
}

TEST(ListCommand, AllAddsNamesWithoutData) {
  ProductArchives p;
  expect_output(p.kestrel({"list", "-o", "client", "main.tic"}), "bin/client\n");
  expect_output(p.kestrel({"list", "-a", "-o", "client", "main.tic"}), "bin/client\nlib/client.so\n");
  expect_output(p.kestrel({"list", "-o", "client", "--all", "main.tic"}), "bin/client\nlib/client.so\n");
  // An entry without option bits is never selected, not even by "*".
  expect_output(p.kestrel({"list", "-a", "-o", "*", "main.tic"}),
                "Zebra\nbin/client\nbin/server\nbin/server.conf\ndoc/manual\n"
                "lib/client.so\nshare/tools.dat\n");
}

TEST(ListCommand, SelectsNothingWithoutOrWithUnknownOptions) {
  ProductArchives p;
  expect_output(p.kestrel({"list", "main.tic"}), "");
  expect_output(p.kestrel({"list", "-a", "main.tic"}), "");
  expect_output(p.kestrel({"list", "-o", "Client|nothing", "main.tic"}), "");
  expect_output(p.kestrel({"list", "-o", "*"}), "");
}

TEST(ListCommand, ANameInSeveralArchivesIsPrintedOnceWhateverTheirOrder) {
  ProductArchives p;
  const std::string expected = "bin/client\nlib/client.so\n";
  expect_output(p.kestrel({"list", "-o", "client", "main.tic", "extra.tic"}), expected);
  expect_output(p.kestrel({"list", "-o", "client", "extra.tic", "main.tic", "extra.tic"}), expected);
}

TEST(ListCommand, UnreadableArchivesGiveEmptyOutput) {
  ProductArchives p;
  write_file(p.dir / "junk.tic", "not an archive");
  expect_output(p.kestrel({"list", "-o", "*", "a-missing.tic", "main.tic"}), "");
  expect_output(p.kestrel({"list", "-o", "*", "junk.tic"}), "");
}

TEST(ListCommand, ReadsArchivesOfTheOtherByteOrder) {
  ProductArchives p;
  swap_archive_byte_order(p.dir / "main.tic");
  swap_archive_byte_order(p.dir / "extra.tic");
  expect_output(p.kestrel({"list", "-o", "client", "main.tic", "extra.tic"}), "bin/client\nlib/client.so\n");
}

TEST(SpaceCommand, SumsTheSizesOfSelectedFilesWithData) {
  ProductArchives p;
  expect_output(p.kestrel({"space", "-o", "server", "main.tic"}), "305\n");
  expect_output(p.kestrel({"space", "-o", "client", "main.tic", "extra.tic"}), "4100\n");
  expect_output(p.kestrel({"space", "-d", "/nonexistent", "-o", "client", "main.tic", "extra.tic"}), "4100\n");
  expect_output(p.kestrel({"space", "-o", "*", "main.tic", "extra.tic"}), "4406\n");
}

TEST(SpaceCommand, PrintsZeroWhenNothingIsSelectedOrReadable) {
  ProductArchives p;
  expect_output(p.kestrel({"space", "main.tic"}), "0\n");
  expect_output(p.kestrel({"space"}), "0\n");
  expect_output(p.kestrel({"space", "-o", "*", "missing.tic"}), "0\n");
  expect_output(p.kestrel({"space", "-o", "*", "main.tic", "-o", "client"}), "0\n");
}

TEST(OptionsCommand, ReportsAvailabilityAndCompleteness) {
  ProductArchives p;
  // client: "#" control file, but lib/client.so lacks its data -> 11
  // docs: control file without data -> 9; server: control file with data
  // -> 15; tools: its only file lacks data but is carried -> 15; the option
  // without a name -> 0.
  expect_output(p.kestrel({"options", "main.tic"}), " 0 client 11 docs 9 server 15 tools 15 \n");
  // Naming the archive that holds the missing data completes client.
  expect_output(p.kestrel({"options", "-d", "ignored", "main.tic", "extra.tic"}),
                " 0 client 15 docs 9 server 15 tools 15 \n");
}

TEST(OptionsCommand, AnAbsentControlFileLeavesTheOptionUnavailable) {
  TempDir dir;
  TicToc toc;
  TicTocEntry control = make_entry(0);
  control.control_mask = toc.options.option_mask("beta");
  toc.file_map["beta.ctl"] = control;  // no data: written without a record
  toc.file_map["b/file"] = make_entry(toc.options.option_mask("beta"));
  toc.options.option_mask("Alpha");
  toc.file_map["a/file"] = make_entry(toc.options.option_mask("Alpha"));
  write_test_archive(dir / "t.tic", toc, false, {{"a/file", "x"}, {"b/file", "y"}});
  RunOptions in_dir;
  in_dir.cwd = dir.path();
  // Alpha's description is the first string written, a/file, which has data.
  expect_output(run_kestrel({"options", "t.tic"}, in_dir), "Alpha 15 beta 9 \n");
}

TEST(OptionsCommand, PrintsALoneNewlineWhenNothingCouldBeRead) {
  ProductArchives p;
  expect_output(p.kestrel({"options", "missing.tic"}), "\n");
  expect_output(p.kestrel({"options"}), "\n");
}

}  // namespace

namespace {

// Genuine archives (MAC under the product key) in a fresh directory.
struct GenuineArchives {
  TempDir dir;

  GenuineArchives() {
    for (const char* name : {"one.tic", "two.tic"}) {
      TicToc toc;
      toc.file_map[std::string("file-of-") + name] = make_entry(toc.options.option_mask("o"), 0, 3);
      write_test_archive(dir / name, toc, true, {{std::string("file-of-") + name, "abc"}});
      write_test_archive_mac(dir / name, product_key());
    }
  }

  RunResult validate(std::vector<std::string> names, unsigned timeout = 60) const {
    names.insert(names.begin(), "validate");
    RunOptions options;
    options.cwd = dir.path();
    options.timeout_seconds = timeout;
    return run_kestrel(names, options);
  }
};

void expect_status(const RunResult& r, int status) {
  EXPECT_EQ(r.status, status);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(ValidateCommand, GenuineArchivesPass) {
  GenuineArchives g;
  expect_status(g.validate({"one.tic", "two.tic"}), 0);
  expect_status(g.validate({}), 0);
}

TEST(ValidateCommand, MissingUnreadableOrTamperedArchivesFail) {
  GenuineArchives g;
  write_file(g.dir / "junk.tic", std::string(50, 'j'));
  expect_status(g.validate({"one.tic", "missing.tic"}), 255);
  expect_status(g.validate({"junk.tic"}), 255);

  std::string bytes = read_file(g.dir / "two.tic");
  bytes[bytes.size() - 1] ^= 1;  // the last byte of the string table
  write_file(g.dir / "two.tic", bytes);
  expect_status(g.validate({"one.tic", "two.tic"}), 255);
}

TEST(ValidateCommand, ArchivesMadeWithAnotherKeyFail) {
  GenuineArchives g;
  write_test_archive_mac(g.dir / "one.tic", "not the product key");
  expect_status(g.validate({"one.tic"}), 255);
}

TEST(ValidateCommand, StopsAtTheFirstBadArchive) {
  GenuineArchives g;
  // Opening a FIFO with no writer blocks: validate must never get that far.
  ASSERT_EQ(mkfifo((g.dir / "fifo.tic").c_str(), 0644), 0);
  expect_status(g.validate({"one.tic", "missing.tic", "fifo.tic"}, 10), 255);
}

TEST(ValidateCommand, TakesNoSwitches) {
  GenuineArchives g;
  ASSERT_EQ(mkdir((g.dir / "sub").c_str(), 0755), 0);
  expect_status(g.validate({"-d", "sub", "one.tic"}), 255);
}

TEST(ValidateCommand, GenuineArchivesOfTheOtherByteOrderPass) {
  GenuineArchives g;
  swap_archive_byte_order(g.dir / "one.tic");
  write_test_archive_mac(g.dir / "one.tic", product_key());
  expect_status(g.validate({"one.tic", "two.tic"}), 0);
}

}  // namespace
