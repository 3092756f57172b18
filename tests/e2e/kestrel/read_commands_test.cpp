// The read-only commands through the real binary: list, space, options and
// validate; list --json and options --json parsed back, the same facts as
// the text lines in the same order, and a valid document whatever bytes the
// names hold.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

// A set of two archives with MACs under the product key:
//   main.tic   options "", client, docs, server, tools; lib/client.so without data
//   extra.tic  the data of lib/client.so, and the option Zeta whose control
//              file has no record (written without -a)
// and beside them tampered.tic and a FIFO.
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
    add(main, "share/tools.dat", "tools", 7);  // tools has no control file
    main.file_map["share/tools.dat"].aux_c = 1;  // carried: never missing
    add(main, "Zebra", "docs", 1);
    add(main, "nomask", "", 1000);
    main.options.option_map[""].bit = 4;
    const std::map<std::string, std::string> main_streams{
        {"bin/server", "S"}, {"bin/client", "C"}, {"Zebra", "Z"}, {"nomask", "N"}};
    seal_test_streams(main, main_streams, product_key());
    write_test_archive(dir / "main.tic", main, true, main_streams);
    TicToc extra;
    add(extra, "lib/client.so", "client", 4000);
    add(extra, "zeta.ctl", "", 0, "Zeta");
    seal_test_streams(extra, {{"lib/client.so", "L"}}, product_key());
    write_test_archive(dir / "extra.tic", extra, false, {{"lib/client.so", "L"}});
    for (const char* name : {"main.tic", "extra.tic"}) write_test_archive_mac(dir / name, product_key());
    std::string bytes = read_file(dir / "main.tic");
    bytes.back() ^= 1;  // the last byte of the string table
    write_file(dir / "tampered.tic", bytes);
    // Opening a FIFO with no writer blocks: validate must never get that far.
    EXPECT_EQ(mkfifo((dir / "fifo.tic").c_str(), 0644), 0);
  }

  struct Case { std::vector<std::string> args; std::string out; int status = 0; std::string err = ""; };

  void expect_runs(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      const RunResult r = run_kestrel(c.args, {dir.path(), {}, {}, 10});
      EXPECT_EQ(std::tie(r.status, r.out, r.err), std::tie(c.status, c.out, c.err)) << testing::PrintToString(c.args);
    }
  }

  TempDir dir;
};

// An entry without option bits is never selected, not even by "*".
TEST_F(ReadCommands, ListAndSpaceTakeTheSelectedFilesWithData) {
  expect_runs({
      {{"list", "-o", "*", "main.tic"}, "Zebra\nbin/client\nbin/server\n"},
      {{"list", "-a", "-o", "*", "main.tic"},
       "Zebra\nbin/client\nbin/server\ndoc/manual\nlib/client.so\nshare/tools.dat\n"},
      {{"space", "-o", "*", "main.tic", "extra.tic"}, "4401\n"},
      {{"space", "-d", "/nonexistent", "-o", "client", "main.tic", "extra.tic"}, "4100\n"},
      {{"space", "main.tic"}, "0\n"},  // without -o nothing is selected
  });
}

TEST_F(ReadCommands, OptionsReportsAvailabilityAndCompleteness) {
  // client: "#" control file but lib/client.so lacks data -> 11; docs:
  // control file without data -> 9; server -> 15; tools: no control file,
  // its file lacks data but is carried -> 15; the unnamed option -> 0;
  // Zeta: control file absent -> 9, and sorts before the lower-case names.
  expect_runs({
      {{"options", "main.tic"}, " 0 client 11 docs 9 server 15 tools 15 \n"},
      {{"options", "-d", "ignored", "main.tic", "extra.tic"}, " 0 Zeta 9 client 15 docs 9 server 15 tools 15 \n"},
      {{"options", "missing.tic"}, "\n", 0, "kestrel: options: missing.tic: No such file or directory\n"},
      {{"options", "fifo.tic"}, "\n", 0, "kestrel: options: fifo.tic: not a regular file\n"},
  });
}

// The completeness test reads each option's name as an option text: "*"
// lacks what any option lacks, "x|y" what x or y lacks. (Read as a set,
// the names also remap: the files of x join y through "x|y".)
TEST_F(ReadCommands, OptionsReadsEachNameAsAnOptionText) {
  TicToc toc;
  toc.options.option_mask("x|y|z");
  toc.options.option_map["*"].bit = 3;
  toc.options.option_map["x|y"].bit = 4;
  toc.file_map["#ctl"] = make_entry(0);  // string 0: every option's control file, present
  toc.file_map["f1"] = make_entry(toc.options.option_mask("x"), 0, 1);  // lacks its data
  toc.file_map["f2"] = make_entry(toc.options.option_mask("y"), 0, 1);
  toc.file_map["f3"] = make_entry(toc.options.option_mask("z"), 0, 1);
  const std::map<std::string, std::string> streams{{"f2", "Y"}, {"f3", "Z"}};
  seal_test_streams(toc, streams, product_key());
  write_test_archive(dir / "names.tic", toc, true, streams);
  expect_runs({{{"options", "names.tic"}, "* 11 x 11 x|y 11 y 11 z 15 \n"}});
}

// The set is read in byte-wise order of the archive names and stops at the
// first that cannot be read: list and space take nothing of it; options
// reports the archives before it (none when it sorts first).
TEST_F(ReadCommands, AnUnreadableArchiveOfTheSetIsNamedAndEndsWithZero) {
  const auto said = [&](const char* command) {
    return "kestrel: " + std::string(command) + ": missing.tic: No such file or directory\n";
  };
  expect_runs({
      {{"list", "-o", "*", "main.tic", "missing.tic"}, "", 0, said("list")},
      {{"space", "-o", "*", "main.tic", "missing.tic"}, "0\n", 0, said("space")},
      {{"options", "main.tic", "missing.tic"}, " 0 client 11 docs 9 server 15 tools 15 \n", 0, said("options")},
      {{"options", "missing.tic", "tampered.tic"}, "\n", 0, said("options")},
      {{"options", "extra.tic", "fifo.tic", "main.tic"}, "Zeta 9 client 15 \n", 0,
       "kestrel: options: fifo.tic: not a regular file\n"},
  });
}

TEST_F(ReadCommands, ValidateStopsAtTheFirstBadArchive) {
  expect_runs({
      {{"validate", "main.tic", "extra.tic"}, ""},
      {{"validate", "main.tic", "missing.tic", "fifo.tic"}, "", 255,
       "kestrel: validate: missing.tic: No such file or directory\n"},
      {{"validate", "fifo.tic"}, "", 255, "kestrel: validate: fifo.tic: not a regular file\n"},
      {{"validate", "main.tic", "tampered.tic"}, "", 255, "kestrel: validate: tampered.tic: archive does not match its MAC\n"},
      {{"validate", "-d", "main.tic"}, "", 255, "kestrel: validate: -d: No such file or directory\n"},  // an archive name here
  });
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The document, which ends in a line break as every output line does.
Json parsed(const RunResult& r) {
  EXPECT_EQ(r.out.back(), '\n');
  return json_of(r);
}

TEST(JsonDocuments, ListGivesEachFileItsSizeAndWhetherItHasData) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const RunOptions here{dir.path(), {}, {}};
  for (const std::vector<std::string>& archives : {std::vector<std::string>{"server.tic", "client.tic"},
                                                   std::vector<std::string>{"client.tic"}}) {
    std::vector<std::string> args{"list", "-a", "-o", "*"};
    args.insert(args.end(), archives.begin(), archives.end());
    const RunResult text = run_kestrel(args, here);
    args.insert(args.begin() + 1, "--json");
    const RunResult json = run_kestrel(args, here);
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(json.err, "");
    const Json files = parsed(json)["files"];
    std::vector<std::string> names;
    for (const Json& file : files) names.push_back(file["name"]);
    EXPECT_EQ(names, words_of(text.out));
    for (const Json& file : files) {
      // The client archive alone holds no data of the library.
      const bool library = file["name"].get<std::string>().rfind("lib/", 0) == 0;
      EXPECT_EQ(file["data"], !(library && archives.size() == 1)) << file;
      if (file["data"] == true && file["name"] == "bin/tarnsql") {
        EXPECT_EQ(file["size"], read_file(std::string(SAMPLE_DIR) + "/tree/bin/tarnsql").size());
      }
    }
  }
  const RunResult none = run_kestrel({"list", "--json", "missing.tic"}, here);
  EXPECT_EQ(none.out, "{\n  \"files\": []\n}\n");
  EXPECT_EQ(none.err, "kestrel: list: missing.tic: No such file or directory\n");
}

TEST(JsonDocuments, OptionsGivesTheNumberAndWhatItsBitsSay) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const RunOptions here{dir.path(), {}, {}};
  for (const char* archive : {"server.tic", "client.tic"}) {
    const RunResult text = run_kestrel({"options", archive, "server.tic"}, here);
    const RunResult json = run_kestrel({"options", "--json", archive, "server.tic"}, here);
    ASSERT_EQ(json.status, 0);
    std::vector<std::string> pairs;
    const Json document = parsed(json);
    for (const Json& option : document["options"]) {
      const int number = option["number"];
      pairs.push_back(option["name"]);
      pairs.push_back(std::to_string(number));
      EXPECT_EQ(option["available"], (number & 2) != 0) << option;
      EXPECT_EQ(option["complete"], (number & 4) != 0) << option;
      EXPECT_TRUE(option["control_file"].is_string()) << "every option of the sample has one";
    }
    EXPECT_EQ(pairs, words_of(text.out));
  }
  const RunResult client = run_kestrel({"options", "--json", "client.tic"}, here);
  const Json first = parsed(client)["options"][0];
  EXPECT_EQ(first["name"], "client");
  EXPECT_EQ(first["number"], 11) << "the library's data is in server.tic";
  EXPECT_EQ(first["control_file"], "#client.ctl");
  EXPECT_EQ(run_kestrel({"options", "--json"}, here).out, "{\n  \"options\": []\n}\n");
}

// A name with a control character and a byte that is not UTF-8 still
// makes a valid document: the control character escaped, the stray byte
// as the character of its value.
TEST(JsonDocuments, NamesOfAnyBytesMakeAValidDocument) {
  TempDir dir;
  const std::string odd = std::string("a\x01") + "b\xff";
  TicToc toc;
  const Outcome listed = toc.decode_list(odd + ";o\xfe;;0;0;0\n");
  ASSERT_TRUE(listed.ok()) << listed.failure().line();
  write_test_archive(dir / "odd.tic", toc, true, {{odd, "stored"}});
  const RunOptions here{dir.path(), {}, {}};
  const RunResult list = run_kestrel({"list", "--json", "-o", "*", "odd.tic"}, here);
  EXPECT_NE(list.out.find("\"a\\u0001b\xc3\xbf\""), std::string::npos) << list.out;
  EXPECT_EQ(parsed(list)["files"][0]["name"], "a\x01" "b\xc3\xbf");
  const RunResult options = run_kestrel({"options", "--json", "odd.tic"}, here);
  EXPECT_EQ(parsed(options)["options"][0]["name"], "o\xc3\xbe");
}

}  // namespace
