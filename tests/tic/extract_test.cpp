// Extraction in process: the order of files, what the progress hook is told,
// and the step each failure records in the error word.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "support/archive_writer.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/multi_tic.h"

namespace {

// Runs each test inside a fresh directory, with a clear error word.
class Extract : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(saved_, sizeof saved_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    ERROR = 0;
  }
  void TearDown() override { ASSERT_EQ(chdir(saved_), 0); }

  // Writes |archive| with one forged stream per entry of |files| (table name
  // -> entry); each table entry belongs to option "o" and records its size.
  void write_archive(const std::string& archive, const std::vector<std::pair<std::string, ForgedEntry>>& files) {
    TicToc toc;
    std::map<std::string, std::string> payloads;
    for (const auto& [name, entry] : files) {
      const ForgedStream stream = forge_stream(entry, key_);
      TicTocEntry e = make_entry(toc.options.option_mask("o"), 0, entry.contents.size());
      std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
      toc.file_map[name] = e;
      payloads[name] = stream.stored;
    }
    write_test_archive(archive, toc, true, payloads);
  }

  static unsigned step() { return static_cast<unsigned>(ERROR >> 8) & 0xfff; }

  const std::string key_ = product_key();
  const unsigned char* key() const { return reinterpret_cast<const unsigned char*>(key_.data()); }
  int key_length() const { return static_cast<int>(key_.size()); }

 private:
  TempDir dir_;
  char saved_[4096];
};

// A set that records what the progress hook is told.
struct RecordingSet : MultiTic {
  using MultiTic::MultiTic;
  void extraction_progress(const std::string& name, unsigned long long size, unsigned long mode,
                           unsigned long long done, unsigned long long total) override {
    calls.push_back(name + " " + std::to_string(size) + " " + std::to_string(mode & 0777) + " " +
                    std::to_string(done) + "/" + std::to_string(total));
  }
  std::vector<std::string> calls;
};

ForgedEntry file(const std::string& pathname, size_t size) {
  ForgedEntry e;
  e.pathname = pathname;
  e.contents = std::string(size, 'x');
  return e;
}

TEST_F(Extract, ReadsStreamsInDataOffsetOrderAcrossTheSet) {
  write_archive("a.tic", {{"m", file("m", 5)}, {"z", file("z", 7)}});
  write_archive("b.tic", {{"b", file("b", 11)}});
  RecordingSet set({"a.tic", "b.tic"}, false, key(), key_length());
  ASSERT_EQ(set.extract("o", ""), 0);
  // b and m both start at 104 (ordered by name); z follows m in a.tic.
  EXPECT_EQ(set.calls, (std::vector<std::string>{"b 11 420 0/23", "m 5 420 11/23", "z 7 420 16/23"}));
  EXPECT_EQ(read_file("z"), std::string(7, 'x'));
  EXPECT_EQ(ERROR, 0);
}

TEST_F(Extract, SelectsOnlyEntriesWithDataThatShareAnOptionBit) {
  write_archive("a.tic", {{"f", file("f", 1)}});
  RecordingSet set({"a.tic"}, false, key(), key_length());
  ASSERT_EQ(set.read_toc(false), 0);
  set.get_toc().file_map["listed-only"] = make_entry(kFullMask);
  EXPECT_EQ(set.extract("", ""), 0);
  EXPECT_EQ(set.extract("unknown", ""), 0);
  EXPECT_TRUE(set.calls.empty());
  EXPECT_EQ(set.extract("*", ""), 0);
  EXPECT_EQ(set.calls, std::vector<std::string>{"f 1 420 0/1"});
}

TEST_F(Extract, AnUnreadableTableRecordsItsStep) {
  RecordingSet set({"missing.tic"}, false, key(), key_length());
  EXPECT_EQ(set.extract("o", ""), -1);
  EXPECT_EQ(step(), 0x591u);
}

TEST_F(Extract, AMacMismatchIsFoundAfterTheFileIsWritten) {
  write_archive("a.tic", {{"f", file("f", 3)}});
  Tic tic("a.tic", false, key(), key_length());
  tic.get_toc().file_map["f"].mac[0] ^= 1;
  EXPECT_EQ(tic.extract("o", ""), -1);
  EXPECT_EQ(step(), 0x5e9u);
  EXPECT_TRUE(file_exists("f"));
}

TEST_F(Extract, StoredBytesLeftOverAreRefused) {
  ForgedEntry padded = file("f", 3);
  padded.trailer = std::string(200000, '\0');
  write_archive("a.tic", {{"f", padded}});
  Tic tic("a.tic", false, key(), key_length());
  EXPECT_EQ(tic.extract("o", ""), -1);
  EXPECT_EQ(step(), 0x5e8u);
}

TEST_F(Extract, AStreamUnderAnotherNameIsNotWritten) {
  write_archive("a.tic", {{"victim", file("other", 3)}});
  Tic tic("a.tic", false, key(), key_length());
  EXPECT_EQ(tic.extract("o", ""), -1);
  EXPECT_EQ(step(), 0x5dbu);
  EXPECT_FALSE(file_exists("other"));
  EXPECT_FALSE(file_exists("victim"));
}

TEST_F(Extract, TheWrongKeyFailsTheFirstStream) {
  write_archive("a.tic", {{"f", file("f", 3)}});
  const std::string other = "another key entirely";
  Tic tic("a.tic", false, reinterpret_cast<const unsigned char*>(other.data()), static_cast<int>(other.size()));
  EXPECT_EQ(tic.extract("o", ""), -1);
  EXPECT_NE(ERROR, 0);
  EXPECT_FALSE(file_exists("f"));
}

}  // namespace
