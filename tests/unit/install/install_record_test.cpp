// The record of an installation as a document, its file's name, and the
// JSON helper's conversions of names that need not be UTF-8.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/install_record.h"
#include "install/install_steps.h"
#include "install/record_store.h"
#include "platform/json.h"
#include "support/temp_dir.h"

namespace {

an_install_record sample_record() {
  an_install_record record;
  record.directory = "/opt/t\xff";
  a_recorded_install install;
  install.command = "install";
  install.when = "2026-12-01T10:00:00Z";
  install.kestrel = "kestrel 17.0.11 build 7254";
  install.complete = true;
  install.options = "server|docs";
  install.selected = {"docs", "server"};
  a_recorded_archive archive;
  archive.path = "/media/server.tic";
  archive.size = 5000000000ULL;  // past 4 GiB
  archive.mac[0] = 0xab;
  archive.version = "17.0.11 build 7254";
  install.archives.push_back(archive);
  record.installs.push_back(install);
  a_recorded_file file;
  file.mode = 04755;
  file.size = 3;
  file.sha256[31] = 7;
  file.mac[0] = 1;
  record.files.put("bin/x", file);
  a_recorded_file directory;
  directory.type = a_file_type::kDirectory;
  directory.mode = 0755;
  record.files.put("d\x80\xfe", directory);  // not UTF-8
  a_recorded_file link;
  link.type = a_file_type::kSymlink;
  link.mode = 0777;
  record.files.put("lib/l\xc3\xa9", link);
  return record;
}

TEST(InstallRecord, ADocumentGivesBackEveryByteOfTheRecord) {
  const an_install_record record = sample_record();
  std::string why;
  const Result<Json> parsed = parse_json(json_document(record_to_json(record)));
  ASSERT_TRUE(parsed.ok());
  const Json& document = parsed.value();
  an_install_record back;
  ASSERT_TRUE(record_from_json(document, back).ok());
  EXPECT_EQ(json_document(record_to_json(back)), json_document(record_to_json(record)));
  EXPECT_EQ(back.directory, "/opt/t\xff");
  ASSERT_EQ(back.files.contains("d\x80\xfe"), true);
  EXPECT_EQ(back.files.at("bin/x").mode, 04755u);
  EXPECT_EQ(back.installs.at(0).archives.at(0).size, 5000000000ULL);
  // Names that are UTF-8 stay readable strings; the others are hex.
  EXPECT_EQ(document["files"][2]["name"], "lib/l\xc3\xa9");
  EXPECT_EQ(document["files"][1]["name"], Json::parse(R"({"hex": "6480fe"})"));
}

// The record is written in pieces, a file to a line: the text is the
// document record_to_json makes, with or without files and a backup name.
TEST(InstallRecord, TheTextWrittenInPiecesIsTheDocument) {
  const std::string backup = "/var/backup\xfe";
  an_install_record empty = sample_record();
  empty.files.clear();
  for (const an_install_record& record : {sample_record(), empty}) {
    std::string text;
    size_t pieces = 0;
    ASSERT_TRUE(put_record_text(record, nullptr, [&](const std::string& piece) {
      text += piece;
      ++pieces;
    }).ok());
    EXPECT_EQ(pieces, record.files.size() + 2);
    EXPECT_EQ(text.back(), '\n');
    std::string why;
    Result<Json> parsed = parse_json(text);
    ASSERT_TRUE(parsed.ok()) << text;
    EXPECT_EQ(parsed.value(), record_to_json(record));
    an_install_record back;
    ASSERT_TRUE(record_from_text(text, back).ok());
    EXPECT_EQ(record_to_json(back), record_to_json(record));

    text.clear();
    ASSERT_TRUE(put_record_text(record, &backup, [&](const std::string& piece) { text += piece; }).ok());
    parsed = parse_json(text);
    ASSERT_TRUE(parsed.ok()) << text;
    Json& document = parsed.value();
    std::string kept;
    ASSERT_TRUE(bytes_from_json(document["backup"], kept));
    EXPECT_EQ(kept, backup);
    document.erase("backup");
    EXPECT_EQ(document, record_to_json(record));
  }
}

// A state file is there whole or not at all: a writer that is not
// committed leaves neither the file nor its temporary; one committed leaves
// exactly what it was given, made in blocks, and nothing else.
TEST(InstallRecord, AStateFileIsWrittenWholeOrNotAtAll) {
  const TempDir dir;
  const std::string state = dir / "state/deeper";
  const std::string path = state + "/record.json";
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(state)) out.push_back(entry.path().filename());
    return out;
  };
  {
    RecordFileWriter writer;
    ASSERT_TRUE(writer.open(state, path).ok());
    writer.put("{\"lost\": true}");
  }
  EXPECT_TRUE(names().empty());

  RecordFileWriter writer;
  ASSERT_TRUE(writer.open(state, path).ok());
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";  // several blocks
  for (size_t at = 0; at < text.size(); at += 1000) writer.put(text.substr(at, 1000));
  ASSERT_TRUE(writer.commit().ok());
  EXPECT_EQ(names(), std::vector<std::string>{"record.json"});
  std::ifstream in(path);
  std::stringstream read;
  read << in.rdbuf();
  EXPECT_EQ(read.str(), text);
}

// A file's line is the compact document, byte for byte, whatever its name.
TEST(InstallRecord, AFilesLineIsItsDocument) {
  a_recorded_file file;
  file.mode = 0755;
  file.size = 1234567890123ULL;
  file.sha256[0] = 0xab;
  file.mac[31] = 0x01;
  for (const std::string name : {"a/b.h", "d\x80\x01", "q\"uote", "back\\slash", "\xc3\xbctf", "tab\t"}) {
    for (const a_file_type type : {a_file_type::kFile, a_file_type::kDirectory}) {
      file.type = type;
      const std::string line = record_file_line(name, file);
      Result<Json> parsed = parse_json(line);
      ASSERT_TRUE(parsed) << line;
      const Json& document = parsed.value();
      EXPECT_EQ(json_document(document, -1), line);
      std::string back;
      a_recorded_file read;
      ASSERT_TRUE(recorded_file_from_json(document, back, read)) << line;
      EXPECT_EQ(back, name);
    }
  }
}

TEST(InstallRecord, DocumentsThatAreNotRecordsAreRefused) {
  const Json good = record_to_json(sample_record());
  const struct { const char* what; Json document; } cases[] = {
      {"not an object", Json::array()},
      {"another format", [&] { Json d = good; d["format"] = "kestrel-record 2"; return d; }()},
      {"no files", [&] { Json d = good; d.erase("files"); return d; }()},
      {"a bad mode", [&] { Json d = good; d["files"][0]["mode"] = "0999"; return d; }()},
      {"a short digest", [&] { Json d = good; d["files"][0]["sha256"] = "abcd"; return d; }()},
      {"an unknown type", [&] { Json d = good; d["files"][0]["type"] = "fifo"; return d; }()},
      {"a negative size", [&] { Json d = good; d["installs"][0]["archives"][0]["size"] = -1; return d; }()},
      {"a bad hex name", [&] { Json d = good; d["files"][1]["name"]["hex"] = "6"; return d; }()},
  };
  for (const auto& c : cases) {
    an_install_record record;
    Outcome read = record_from_json(c.document, record);
    EXPECT_FALSE(read.ok()) << c.what;
    EXPECT_EQ(read.failure().step, kStepDamagedRecord) << c.what;
    read = record_from_text(json_document(c.document), record);
    EXPECT_FALSE(read.ok()) << c.what << ", as text";
    EXPECT_FALSE(read.failure().cause.empty()) << c.what << ", as text";
    EXPECT_NE(read.failure().step, kStepForgedRecord) << c.what << ": damaged, not forged";
  }
  an_install_record record;
  const Outcome read = record_from_text(json_document(good).substr(0, 200), record);
  EXPECT_EQ(read.failure().cause, "not a JSON document");
}

// A record is untrusted input: its names go through the checks an
// archive's names get at install, and a name install would refuse, or a
// second name for one path, marks the record as forged.
TEST(InstallRecord, NamesAreReadAsAnArchivesAreAndAForgedOneIsRefused) {
  const Json good = record_to_json(sample_record());
  const struct { std::string name; std::string why; } cases[] = {
      {"../x", "../x: \"..\" in path"},
      {"d/../../x", "d/../../x: \"..\" in path"},
      {"/etc/passwd", "/etc/passwd: absolute path"},
      {"", ": empty name"},
      {"bin/\x1b[2J", "bin/\x1b[2J: control character in name"},
      {"bin/", "bin/: not a file name"},
      {"bin/.", "bin/.: not a file name"},
      {"bin/.kestrel-tmp-1-2", "bin/.kestrel-tmp-1-2: name reserved for temporaries"},
      {"./bin//x", "bin/x recorded twice"},
      {"bin/x", "bin/x recorded twice"},
  };
  for (const auto& c : cases) {
    Json document = good;
    document["files"][1]["name"] = json_bytes(c.name);
    for (const bool as_text : {false, true}) {
      an_install_record record;
      const Outcome read =
          as_text ? record_from_text(json_document(document), record) : record_from_json(document, record);
      EXPECT_FALSE(read.ok()) << c.name;
      EXPECT_EQ(read.failure().step, kStepForgedRecord) << c.name;
      EXPECT_EQ(read.failure().cause, "forged record: " + c.why) << (as_text ? "as text" : "as a document");
    }
  }
  // Any other spelling of a path is read as install reads it.
  Json document = good;
  document["files"][1]["name"] = "./d//e/./f";
  an_install_record record;
  ASSERT_TRUE(record_from_text(json_document(document), record).ok());
  EXPECT_EQ(record.files.contains("d/e/f"), true);
}

TEST(InstallRecord, InstallsAddUpAndTheirOptionTextsJoin) {
  an_install_record record = sample_record();
  a_recorded_install client = record.installs[0];
  client.options = "client";
  record.add_install(client);
  EXPECT_EQ(record.option_text(), "server|docs|client");
  // The same archives with the same text: the later entry replaces it.
  a_recorded_install again = record.installs[0];
  again.when = "2026-12-02T10:00:00Z";
  record.add_install(again);
  ASSERT_EQ(record.installs.size(), 2u);
  EXPECT_EQ(record.installs[1].when, "2026-12-02T10:00:00Z");
  EXPECT_EQ(record.versions(), std::vector<std::string>{"17.0.11 build 7254"});
  EXPECT_EQ(record_time(0), "1970-01-01T00:00:00Z");
}

TEST(RecordStore, ARecordIsNamedFromItsDirectoryAndNeverTooLong) {
  EXPECT_EQ(record_file_name("/opt/tarnvale"), "opt-tarnvale.json");
  EXPECT_EQ(record_file_name("/"), "-.json");
  EXPECT_EQ(record_file_name("/srv/my-app/.hidden dir"), "srv-my%2Dapp-.hidden%20dir.json");
  EXPECT_NE(record_file_name("/a-b"), record_file_name("/a/b"));
  const std::string deep = "/" + std::string(300, 'x');
  const std::string name = record_file_name(deep);
  EXPECT_LE(name.size(), 185u);
  EXPECT_NE(name, record_file_name(deep + "y"));
}

// Only what root or this user alone may have written is trusted, by owner
// and mode (the commands' refusals are shown through the real binary).
TEST(RecordStore, OnlyStateThatOthersCannotHaveWrittenIsTrusted) {
  struct stat st {};
  st.st_mode = S_IFDIR | 0755;
  EXPECT_EQ(state_owner_problem(st), "") << "root's";
  st.st_uid = geteuid();
  EXPECT_EQ(state_owner_problem(st), "") << "this user's";
  st.st_mode = S_IFREG | 0620;
  const std::string writable = state_owner_problem(st);
  EXPECT_EQ(writable.substr(0, writable.find(';')), "owned by uid " + std::to_string(geteuid()) + " with mode 0620");
  st.st_mode = S_IFREG | 0644;
  st.st_uid = geteuid() + 1;
  const std::string must = geteuid() == 0 ? "root" : "root or to uid " + std::to_string(geteuid());
  EXPECT_EQ(state_owner_problem(st), "owned by uid " + std::to_string(geteuid() + 1) +
                                         " with mode 0644; must belong to " + must +
                                         " and not be writable by group or others");
}

TEST(Json, TextsThatAreNotUtf8StayValidAndBytesComeBack) {
  EXPECT_EQ(json_text("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(json_text("a\xff"), "a\xc3\xbf") << "a stray byte is the character of its value";
  EXPECT_EQ(json_document(json_text("\x01")), "\"\\u0001\"");
  for (const std::string& bytes : {std::string("plain"), std::string("\xed\xa0\x80", 3), std::string("\0x", 2),
                                  std::string("\xf4\x90\x80\x80")}) {
    std::string back;
    ASSERT_TRUE(bytes_from_json(json_bytes(bytes), back));
    EXPECT_EQ(back, bytes);
  }
  EXPECT_FALSE(is_utf8("\xc0\x80")) << "overlong";
  std::string out;
  EXPECT_FALSE(bytes_from_json(Json(3), out));
}

}  // namespace
