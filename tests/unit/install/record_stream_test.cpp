// A record read as a stream: any layout of the document, checked whole
// before its files are walked, and walked again from what was checked.
#include "install/record_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include "install/install_steps.h"
#include "install/record_files.h"
#include "support/temp_dir.h"

namespace {

const std::string kDigest(64, 'a');

std::string file_line(const std::string& name) {
  return R"({"name":")" + name + R"(","type":"file","mode":"0644","size":1,"sha256":")" + kDigest +
         R"(","mac":")" + kDigest + R"("})";
}

// A record with |files| (their JSON objects) in the layout a first install
// writes: the files before the other members.
std::string record_text(const std::vector<std::string>& files) {
  std::string text = "{\n \"files\": [";
  for (size_t i = 0; i < files.size(); ++i) text += (i == 0 ? "\n  " : ",\n  ") + files[i];
  return text + "\n ],\n \"format\": \"kestrel-record 1\",\n \"directory\": \"/opt/t\",\n \"installs\": []\n}\n";
}

std::vector<std::string> lines_of(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& name : names) out.push_back(file_line(name));
  return out;
}

class RecordStreamTest : public testing::Test {
 protected:
  // Opens |text| as a record file: its stream, or its failure.
  Result<std::shared_ptr<const RecordStream>> open_text(const std::string& text) {
    write_file(path_, text);
    return RecordStream::open(UniqueFd(open(path_.c_str(), O_RDONLY | O_CLOEXEC)), head_);
  }
  // The names a walk of |stream| gives.
  static std::vector<std::string> walked(const std::shared_ptr<const RecordStream>& stream) {
    a_record_files files;
    files.attach(stream);
    std::vector<std::string> names;
    EXPECT_TRUE(files.walk([&](const std::string& name, const a_recorded_file&) {
                       names.push_back(name);
                       return true;
                     })
                    .ok());
    return names;
  }

  TempDir dir_;
  std::string path_ = dir_ / "record.json";
  Json head_;
};

TEST_F(RecordStreamTest, EveryLayoutOfTheDocumentGivesTheSameRecord) {
  const std::vector<std::string> names{"B", "a", "b/c", "\xc3\xa4"};
  Result<std::shared_ptr<const RecordStream>> lines = open_text(record_text(lines_of(names)));
  ASSERT_TRUE(lines.ok()) << lines.failure().text();
  const Json head = head_;
  EXPECT_EQ(head["directory"], "/opt/t");
  EXPECT_EQ(head["files"], Json::array());
  EXPECT_EQ(lines.value()->count(), 4u);
  EXPECT_EQ(walked(lines.value()), names);
  // The same document as any JSON writer may lay it out: indented, on one
  // line, files after the members, escapes where none are needed.
  Json document = Json::parse(record_text(lines_of(names)));
  std::string escaped = json_document(document, -1);
  escaped.replace(escaped.find("\"b/c\""), 5, "\"b\\/c\"");
  for (const std::string& text : {json_document(document, 3), json_document(document, -1), escaped}) {
    Result<std::shared_ptr<const RecordStream>> other = open_text(text);
    ASSERT_TRUE(other.ok()) << text;
    EXPECT_EQ(head_, head);
    EXPECT_EQ(walked(other.value()), names) << text;
  }
  Result<std::shared_ptr<const RecordStream>> none = open_text(record_text({}));
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none.value()->count(), 0u);
  EXPECT_TRUE(walked(none.value()).empty());
}

// A record of an earlier kestrel lists a first install's files in the order
// they were put in place: it is read sorted, and a name reached twice is
// refused still.
TEST_F(RecordStreamTest, ARecordInInstallOrderIsReadSorted) {
  for (const auto& [given, sorted] : std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>{
           {{"z", "a/b", "B", "a"}, {"B", "a", "a/b", "z"}}, {{"b", "B"}, {"B", "b"}}}) {
    // As written, and on one line with the files between other members.
    const std::string text = record_text(lines_of(given));
    for (const std::string& layout : {text, json_document(Json::parse(text), -1)}) {
      Result<std::shared_ptr<const RecordStream>> opened = open_text(layout);
      ASSERT_TRUE(opened.ok()) << opened.failure().text();
      EXPECT_EQ(walked(opened.value()), sorted);
      EXPECT_EQ(head_["directory"], "/opt/t");
    }
  }
  Result<std::shared_ptr<const RecordStream>> twice = open_text(record_text(lines_of({"z", "a", "./z"})));
  ASSERT_FALSE(twice.ok());
  EXPECT_EQ(twice.failure().cause, "forged record: z recorded twice");
}

// A name reached twice is a forgery, whether or not its two spellings stand
// together, and so is a name no archive could install.
TEST_F(RecordStreamTest, PathsTwiceOrForgedAreRefused) {
  struct a_case {
    std::vector<std::string> names;
    a_step step;
    std::string cause;
  };
  const std::vector<a_case> cases{
      {{"a", "b", "./a"}, kStepForgedRecord, "forged record: a recorded twice"},
      {{"a", "b//c", "b/c"}, kStepForgedRecord, "forged record: b/c recorded twice"},
      {{"a", "../x"}, kStepForgedRecord, "forged record: ../x: \"..\" in path"},
      {{"b", "../x"}, kStepForgedRecord, "forged record: ../x: \"..\" in path"},
  };
  for (const a_case& c : cases) {
    Result<std::shared_ptr<const RecordStream>> opened = open_text(record_text(lines_of(c.names)));
    ASSERT_FALSE(opened.ok()) << testing::PrintToString(c.names);
    EXPECT_EQ(opened.failure().step, c.step) << testing::PrintToString(c.names);
    EXPECT_EQ(opened.failure().cause, c.cause) << testing::PrintToString(c.names);
  }
}

TEST_F(RecordStreamTest, ATextThatIsNoRecordIsDamaged) {
  const std::string good = record_text(lines_of({"a", "b"}));
  const std::vector<std::pair<std::string, std::string>> cases{
      {good.substr(0, good.size() / 2), "not a JSON document"},
      {good.substr(0, good.find("\"b\"")), "not a JSON document"},
      {good + "x", "not a JSON document"},
      {record_text({file_line("a"), R"({"name":"b","type":"socket"})"}), "bad file in record"},
      {record_text({file_line("a"), file_line("b").insert(1, std::string(70000, ' '))}), "file too long in record"},
      {"", "not a JSON document"},
  };
  for (const auto& [text, cause] : cases) {
    Result<std::shared_ptr<const RecordStream>> opened = open_text(text);
    ASSERT_FALSE(opened.ok()) << text.substr(0, 200);
    EXPECT_EQ(opened.failure().step, kStepDamagedRecord);
    EXPECT_EQ(opened.failure().cause, cause) << text.substr(0, 200);
  }
}

// Names long and many enough to cross the blocks the text is read in.
TEST_F(RecordStreamTest, AWalkReadsWhatWasCheckedEvenWhenANewRecordTakesItsPlace) {
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    char name[32];
    snprintf(name, sizeof name, "d/%05d-", i);
    names.push_back(name + std::string(static_cast<size_t>(i % 97), 'x'));
  }
  Result<std::shared_ptr<const RecordStream>> opened = open_text(record_text(lines_of(names)));
  ASSERT_TRUE(opened.ok()) << opened.failure().text();
  const std::string replaced = dir_ / "new.json";
  write_file(replaced, record_text(lines_of({"other"})));
  ASSERT_EQ(rename(replaced.c_str(), path_.c_str()), 0);
  EXPECT_EQ(walked(opened.value()), names);
  EXPECT_EQ(walked(opened.value()), names) << "walked again";
}

// What a command changes lies over the files as read.
TEST_F(RecordStreamTest, ChangesInMemoryLieOverTheFilesAsRead) {
  Result<std::shared_ptr<const RecordStream>> opened = open_text(record_text(lines_of({"a", "c", "e"})));
  ASSERT_TRUE(opened.ok());
  a_record_files files;
  files.attach(opened.value());
  a_recorded_file changed;
  changed.size = 99;
  files.put("b", changed);
  files.put("c", changed);
  files.erase("e");
  files.put("f", changed);
  std::vector<std::string> seen;
  ASSERT_TRUE(files
                  .walk([&](const std::string& name, const a_recorded_file& file) {
                    seen.push_back(name + " " + std::to_string(file.size));
                    return true;
                  })
                  .ok());
  EXPECT_EQ(seen, (std::vector<std::string>{"a 1", "b 99", "c 99", "f 99"}));
  EXPECT_EQ(files.size(), 4u);
  EXPECT_TRUE(files.contains("a"));
  EXPECT_FALSE(files.contains("e"));
  EXPECT_EQ(files.at("c").size, 99u);
}

}  // namespace
