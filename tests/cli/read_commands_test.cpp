// The read-only commands through the real binary: list, space, options and
// validate.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

// A set of two archives with MACs under the product key:
//   main.tic   options "", client, docs, server, tools; lib/client.so without data
//   extra.tic  the data of lib/client.so, and the option Zeta whose control
//              file has no record (written without -a)
// and beside them: swapped.tic (main.tic in the other byte order),
// tampered.tic, junk.tic and a FIFO.
class ReadCommands : public testing::Test {
 protected:
  ReadCommands() {
    TicToc main;
    auto add = [&](TicToc& toc, const char* name, const char* options, unsigned long long size,
                   const char* control = "") {
      toc.file_map[name] = make_entry(toc.options.option_mask(options), 0, size);
      if (*control) toc.file_map[name].control_mask = toc.options.option_mask(control);
    };
    add(main, "#client.ctl", "", 0, "client");  // named with "#", no data
    add(main, "bin/server", "server", 300, "server");  // control file with data
    add(main, "doc/manual", "docs", 20, "docs");  // control file without data
    add(main, "bin/client", "client", 100);
    add(main, "lib/client.so", "client", 4000);
    add(main, "#tools.ctl", "", 0, "tools");
    add(main, "share/tools.dat", "tools", 7);
    main.file_map["share/tools.dat"].aux_c = 1;  // carried: never missing
    add(main, "Zebra", "docs", 1);
    add(main, "bin/server.conf", "server", 5);
    add(main, "nomask", "", 1000);
    main.options.option_map[""].bit = 4;
    write_test_archive(dir / "main.tic", main, true,
                       {{"bin/server", "S"}, {"bin/client", "C"}, {"Zebra", "Z"}, {"bin/server.conf", "F"},
                        {"nomask", "N"}});
    TicToc extra;
    add(extra, "lib/client.so", "client", 4000);
    add(extra, "zeta.ctl", "", 0, "Zeta");
    write_test_archive(dir / "extra.tic", extra, false, {{"lib/client.so", "L"}});
    for (const char* name : {"main.tic", "extra.tic"}) write_test_archive_mac(dir / name, product_key());

    std::string bytes = read_file(dir / "main.tic");
    write_file(dir / "swapped.tic", bytes);
    swap_archive_byte_order(dir / "swapped.tic");
    write_test_archive_mac(dir / "swapped.tic", product_key());
    bytes.back() ^= 1;  // the last byte of the string table
    write_file(dir / "tampered.tic", bytes);
    write_file(dir / "junk.tic", "not an archive");
    // Opening a FIFO with no writer blocks: validate must never get that far.
    EXPECT_EQ(mkfifo((dir / "fifo.tic").c_str(), 0644), 0);
  }

  struct Case { std::vector<std::string> args; std::string out; int status = 0; };

  void expect_runs(const std::vector<Case>& cases) {
    RunOptions options;
    options.cwd = dir.path();
    options.timeout_seconds = 10;
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.args));
      const RunResult r = run_kestrel(c.args, options);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(r.err, "");
    }
  }

  TempDir dir;
};

TEST_F(ReadCommands, ListPrintsSelectedNamesOnceInByteOrder) {
  expect_runs({
      {{"list", "-o", "*", "main.tic"}, "Zebra\nbin/client\nbin/server\nbin/server.conf\n"},
      {{"list", "-o", "server||docs|", "main.tic"}, "Zebra\nbin/server\nbin/server.conf\n"},
      // -a adds entries without data; an entry without option bits is never selected.
      {{"list", "-a", "-o", "*", "main.tic"},
       "Zebra\nbin/client\nbin/server\nbin/server.conf\ndoc/manual\nlib/client.so\nshare/tools.dat\n"},
      {{"list", "-o", "client", "main.tic", "extra.tic"}, "bin/client\nlib/client.so\n"},
      {{"list", "-o", "client", "extra.tic", "main.tic", "extra.tic"}, "bin/client\nlib/client.so\n"},
      {{"list", "-o", "client", "extra.tic", "swapped.tic"}, "bin/client\nlib/client.so\n"},
      {{"list", "-o", "Client|nothing", "main.tic"}, ""},
      {{"list", "-o", "*", "a-missing.tic", "main.tic"}, ""},
  });
}

TEST_F(ReadCommands, SpaceSumsTheSizesOfSelectedFilesWithData) {
  expect_runs({
      {{"space", "-o", "*", "main.tic", "extra.tic"}, "4406\n"},
      {{"space", "-d", "/nonexistent", "-o", "client", "main.tic", "extra.tic"}, "4100\n"},
      {{"space", "main.tic"}, "0\n"},
      {{"space"}, "0\n"},
      {{"space", "-o", "*", "missing.tic"}, "0\n"},
  });
}

TEST_F(ReadCommands, OptionsReportsAvailabilityAndCompleteness) {
  // client: "#" control file but lib/client.so lacks data -> 11; docs:
  // control file without data -> 9; server -> 15; tools: its file lacks
  // data but is carried -> 15; the unnamed option -> 0; Zeta: control file
  // absent -> 9, and sorts before the lower-case names.
  expect_runs({
      {{"options", "main.tic"}, " 0 client 11 docs 9 server 15 tools 15 \n"},
      {{"options", "-d", "ignored", "main.tic", "extra.tic"}, " 0 Zeta 9 client 15 docs 9 server 15 tools 15 \n"},
      {{"options", "missing.tic"}, "\n"},
      {{"options"}, "\n"},
  });
}

TEST_F(ReadCommands, ValidateStopsAtTheFirstBadArchive) {
  expect_runs({
      {{"validate", "main.tic", "extra.tic", "swapped.tic"}, ""},
      {{"validate"}, ""},
      {{"validate", "main.tic", "missing.tic", "fifo.tic"}, "", 255},
      {{"validate", "junk.tic"}, "", 255},
      {{"validate", "main.tic", "tampered.tic"}, "", 255},
      {{"validate", "-d", "main.tic"}, "", 255},  // "-d" is an archive name here
  });
}

}  // namespace
