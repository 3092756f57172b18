// list --json and options --json, parsed back: the same facts as the text
// lines, in the same order, and a valid document whatever bytes the names
// hold.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/json.h"
#include "support/archive_writer.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

Json parsed(const RunResult& r) {
  const Result<Json> document = parse_json(r.out);
  EXPECT_TRUE(document.ok()) << r.out;
  EXPECT_EQ(r.out.back(), '\n');
  return document ? document.value() : Json();
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
