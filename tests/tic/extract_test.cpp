// Extraction in process: the order of files, what the progress hook is told,
// and the step each failure records in the error word.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/archive_writer.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "tic/error.h"
#include "tic/multi_tic.h"

namespace {

const std::string kKey = "extraction test key";
const auto* const kKeyBytes = reinterpret_cast<const unsigned char*>(kKey.data());
const int kKeyLength = static_cast<int>(kKey.size());

// Each test runs in a fresh working directory with a clear error word.
class Extract : public testing::Test {
 protected:
  Extract() { ERROR = 0; }

  // Writes |archive| with one forged stream per entry of |files| (table name
  // -> tar entry); each file is the only member of an option named after it.
  static void write_archive(const std::string& archive, const std::map<std::string, ForgedEntry>& files) {
    TicToc toc;
    std::map<std::string, std::string> payloads;
    for (const auto& [name, entry] : files) {
      const ForgedStream stream = forge_stream(entry, kKey);
      TicTocEntry& e = toc.file_map[name] = make_entry(toc.options.option_mask(name), 0, entry.contents.size());
      std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
      payloads[name] = stream.stored;
    }
    write_test_archive(archive, toc, true, payloads);
  }

  static unsigned step() { return static_cast<unsigned>(ERROR >> 8) & 0xfff; }

 private:
  TempDir dir_;
  ScopedWorkingDirectory cwd_{dir_.path()};
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

ForgedEntry file(const std::string& pathname, size_t size) { return {pathname, std::string(size, 'x'), 0644, "", ""}; }

TEST_F(Extract, ReadsTheSelectedStreamsInDataOffsetOrderAcrossTheSet) {
  write_archive("a.tic", {{"m", file("m", 5)}, {"z", file("z", 7)}});
  write_archive("b.tic", {{"b", file("b", 11)}, {"y", file("y", 1)}});
  RecordingSet set({"a.tic", "b.tic"}, false, kKeyBytes, kKeyLength);
  ASSERT_EQ(set.read_toc(false), 0);
  set.get_toc().file_map["listed-only"] = make_entry(kFullMask);  // no stream: never extracted
  EXPECT_EQ(set.extract("", ""), 0);
  EXPECT_EQ(set.extract("unknown", ""), 0);
  EXPECT_TRUE(set.calls.empty());
  ASSERT_EQ(set.extract("z|m|b|listed-only", ""), 0);
  // b and m both start at 104 and go by name; z follows m in a.tic.
  EXPECT_EQ(set.calls, (std::vector<std::string>{"b 11 420 0/23", "m 5 420 11/23", "z 7 420 16/23"}));
  EXPECT_EQ(read_file("z"), std::string(7, 'x'));
  EXPECT_FALSE(file_exists("y"));
}

TEST_F(Extract, EachFailureStopsWithItsStep) {
  ForgedEntry padded = file("padded", 3);
  padded.trailer = std::string(200000, '\0');  // more than one block left over after the tar data
  write_archive("a.tic", {{"mac", file("mac", 3)}, {"padded", padded}, {"victim", file("other", 3)}});
  Tic tic("a.tic", false, kKeyBytes, kKeyLength);
  tic.get_toc().file_map["mac"].mac[0] ^= 1;
  const std::pair<const char*, unsigned> cases[] = {{"mac", 0x5e9}, {"padded", 0x5e8}, {"victim", 0x5db}};
  for (const auto& [name, expected_step] : cases) {
    ERROR = 0;
    EXPECT_EQ(tic.extract(name, ""), -1) << name;
    EXPECT_EQ(step(), expected_step) << name;
  }
  EXPECT_TRUE(file_exists("mac")) << "the code is checked once the file is written";
  EXPECT_FALSE(file_exists("other") || file_exists("victim")) << "a stream under another name is not written";
}

}  // namespace
