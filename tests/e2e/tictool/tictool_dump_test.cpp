// tictool dump through the real binary: the sample set against what kestrel
// reads from it, the JSON document against the text, and damaged archives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/archive_writer.h"
#include "support/command_output.h"
#include "support/run.h"
#include "support/temp_dir.h"

namespace {

// The lines of the section that begins with |heading| (up to the next line
// at the left margin).
std::set<std::string> section(const std::string& dump, const std::string& heading) {
  std::set<std::string> lines;
  bool inside = false;
  for (const std::string& line : lines_of(dump)) {
    if (line.empty() || line[0] != ' ') inside = line == heading;
    else if (inside) lines.insert(line);
  }
  return lines;
}

// Prints the text dump from the JSON document alone: when the two agree
// line for line, the document carries every fact of the text.
const char kJsonToText[] = R"PY(
import json, sys
doc = json.load(open(sys.argv[1]))
out = []
def mask(names, value):
    return ("|".join(names) or "-") + " (mask " + value + ")"
def options(list):
    for o in list:
        out.append("  option " + o["name"])
        out.append("    number %d" % o["number"])
        out.append("    description " + (o["description"] if o["description"] is not None else "-"))
        out.append("    archives " + (" ".join(o["archives"]) or "-"))
def entries(list):
    for e in list:
        out.append("  entry " + e["name"])
        out.append("    size %d" % e["size"])
        out.append("    mode " + (e["mode"] or "-"))
        out.append("    compression " + (e["compression"] or "-"))
        out.append("    options " + mask(e["options"], e["mask"]))
        out.append("    control " + mask(e["control"], e["control_mask"]))
        out.append("    archive " + (e["archive"] or "-"))
        out.append("    data offset %d" % e["data_offset"])
        out.append("    stored length %d" % e["stored_length"])
        out.append("    mac " + e["mac"])
        out.append("    aux %d %d %d" % tuple(e["aux"]))
for a in doc["archives"]:
    h = a["header"]
    out.append("archive " + a["path"])
    out.append("  size %d" % a["size"])
    out.append("  mac %s (key: %s)" % (h["mac"], h["key"]))
    out.append("  version %d.%d.%d build %d" % (h["major"], h["minor"], h["patch"], h["build"]))
    out.append("  byte order " + h["byte_order"])
    out.append("  stamp block %d bytes at %d" % (h["version_length"], h["version_offset"]))
    out.append("  entry table %d entries at %d" % (h["entry_count"], h["toc_offset"]))
    out.append("  option table %d options at %d" % (h["option_count"], h["option_offset"]))
    out.append("  string table %d strings at %d" % (h["string_count"], h["string_offset"]))
    options(a["options"])
    entries(a["entries"])
    out += ["  string %d %s" % (i, s) for i, s in enumerate(a["strings"])]
    out += ["  stamp %s=%s" % (s["key"], s["value"]) for s in a["stamp"]]
    out += ["  stopped " + p for p in a["problems"]]
if doc["set"] is not None:
    out.append("set " + " ".join(doc["set"]["archives"]))
    options(doc["set"]["options"])
    entries(doc["set"]["entries"])
print("\n".join(out))
print("complete" if doc["complete"] else "incomplete")
)PY";

bool have_python() { return run_program("/usr/bin/env", {"env", "python3", "-c", "pass"}).status == 0; }

TEST(TictoolDump, TheSampleSetShowsWhatKestrelReadsAndTheJsonDocumentTheSameFacts) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const RunOptions here{dir.path(), {}, {}};
  const RunResult text = run_tictool({"dump", "server.tic", "client.tic"}, here);
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.err, "");

  // Every file that list -a names, with data or without, and every option
  // that options reports, are in the set; every name is a string of some
  // member.
  const std::set<std::string> set = section(text.out, "set client.tic server.tic");
  const std::set<std::string> server = section(text.out, "archive server.tic");
  const std::set<std::string> client = section(text.out, "archive client.tic");
  std::set<std::string> strings;  // the texts of "  string <n> <text>"
  for (const std::set<std::string>* member : {&server, &client})
    for (const std::string& line : *member)
      if (line.rfind("  string ", 0) == 0) strings.insert(line.substr(line.find(' ', 9) + 1));
  const RunResult listed = run_kestrel({"list", "-a", "-o", "*", "server.tic", "client.tic"}, here);
  ASSERT_FALSE(lines_of(listed.out).empty());
  for (const std::string& name : lines_of(listed.out)) {
    EXPECT_EQ(set.count("  entry " + name), 1u) << name;
    EXPECT_EQ(strings.count(name), 1u) << name;
  }
  std::istringstream options(run_kestrel({"options", "server.tic", "client.tic"}, here).out);
  for (std::string name, number; options >> name >> number;) {
    EXPECT_EQ(set.count("  option " + name), 1u) << name;
    EXPECT_EQ(server.count("  option " + name), 1u) << name;
  }
  // The library's data is in server.tic only; client.tic lists it without.
  EXPECT_EQ(set.count("    archive server.tic"), 1u);
  EXPECT_EQ(client.count("    archive -"), 1u);
  EXPECT_EQ(server.count("    mode lrwxrwxrwx"), 1u) << "lib/libtarn.so, read from its stream's tar header";
  EXPECT_EQ(server.count("    mode -rwxr-xr-x"), 1u) << "bin/tarnserve";
  EXPECT_EQ(server.count("  stamp MODULE=tarnvale"), 1u);

  ASSERT_TRUE(have_python()) << "python3 reads the JSON document (scripts/deps.sh installs it)";
  const RunResult json = run_tictool({"dump", "--json", "server.tic", "client.tic"}, here);
  ASSERT_EQ(json.status, 0);
  write_file(dir / "dump.json", json.out);
  const RunResult replayed = run_program("/usr/bin/env", {"env", "python3", "-c", kJsonToText, dir / "dump.json"});
  EXPECT_EQ(replayed.err, "");
  EXPECT_EQ(replayed.out, text.out + "complete\n");
}

// Each damage shows what reads before it and where reading stopped, and
// ends with 255; the JSON document says the same.
TEST(TictoolDump, DamagedArchivesShowWhatPrecedesTheDamage) {
  TempDir dir;
  ASSERT_TRUE(build_sample_set(dir.path()));
  const std::string server = read_file(dir / "server.tic");
  TicHeader header;
  std::memcpy(&header, server.data(), sizeof header);
  write_file(dir / "strings-cut.tic", server.substr(0, server.size() - 30));
  write_file(dir / "tables-gone.tic", server.substr(0, header.version_offset + 10));
  write_file(dir / "short.tic", server.substr(0, 50));
  write_file(dir / "swapped.tic", server);
  swap_archive_byte_order(dir / "swapped.tic");
  write_test_archive_mac(dir / "swapped.tic", product_key());

  const struct {
    std::string archive;
    int status;
    std::vector<std::string> shown, stopped;
  } cases[] = {
      {"strings-cut.tic", 255, {"  entry #server.ctl", "  entry share/doc/README", "  string 5 share/doc/README"},
       {"  stopped string table: string 6 of 10 at offset ",
        "  stopped entry table: entry 6 names string 6, which was not read"}},
      {"tables-gone.tic", 255, {"  version 17.0.11 build 7254"},
       {"  stopped entry table: 0 of 7 entries at offset " + std::to_string(header.toc_offset) +
        " lie inside the file of " + std::to_string(header.version_offset + 10) + " bytes"}},
      {"short.tic", 255, {"  size 50"}, {"  stopped header: the file has 50 bytes, fewer than 104"}},
      {"swapped.tic", 0, {"  byte order swapped", "  entry lib/libtarn.so", "    mode lrwxrwxrwx"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive);
    const RunResult r = run_tictool({"dump", c.archive}, {dir.path(), {}, {}});
    EXPECT_EQ(r.status, c.status);
    const std::set<std::string> lines = section(r.out, "archive " + c.archive);
    for (const std::string& line : c.shown) EXPECT_EQ(lines.count(line), 1u) << line;
    // Each expected line begins one "stopped" line.
    for (const std::string& start : c.stopped) {
      auto found = lines.lower_bound(start);
      EXPECT_TRUE(found != lines.end() && found->rfind(start, 0) == 0) << start << "\n" << r.out;
    }
    if (c.stopped.empty()) {
      EXPECT_EQ(r.out.find("stopped"), std::string::npos);
    }
    const RunResult json = run_tictool({"dump", "--json", c.archive}, {dir.path(), {}, {}});
    EXPECT_EQ(json.status, c.status);
    EXPECT_NE(json.out.find(c.status == 0 ? "\"complete\": true\n}" : "\"complete\": false\n}"), std::string::npos);
  }
}

}  // namespace
