// Extraction in process: the step each failure records in the error word.
// install shows the order of files, the progress line and the streams it
// refuses end to end.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/fresh_error_word.h"
#include "support/archive_writer.h"
#include "support/hex.h"
#include "support/stream_forge.h"
#include "support/temp_dir.h"
#include "install/extraction.h"
#include "install/install_steps.h"
#include "tic/archive/tic.h"

namespace {

const std::string kKey = "extraction test key";

ForgedEntry file(const std::string& pathname) { return {pathname, "abc", 0644, "", ""}; }

class Extract : public FreshErrorWord {};

TEST_F(Extract, EachFailureStopsWithItsStep) {
  TempDir dir;
  ScopedWorkingDirectory cwd(dir.path());
  ForgedEntry padded = file("padded");
  padded.trailer = std::string(200000, '\0');  // more than one block left over after the tar data
  // Each file is the only member of an option named after it; "victim" holds a file of another name.
  const std::map<std::string, ForgedEntry> files{{"mac", file("mac")}, {"padded", padded}, {"victim", file("other")}};
  TicToc toc;
  std::map<std::string, std::string> payloads;
  for (const auto& [name, entry] : files) {
    const ForgedStream stream = forge_stream(entry, kKey);
    TicTocEntry& e = toc.file_map[name] = make_entry(toc.options.option_mask(name), 0, entry.contents.size());
    std::copy(stream.mac.begin(), stream.mac.end(), e.mac);
    payloads[name] = stream.stored;
  }
  write_test_archive("a.tic", toc, true, payloads);
  Tic tic("a.tic", false, bytes_of(kKey), static_cast<int>(kKey.size()));
  CurrentDirectoryExtractor extractor;
  tic.set_extractor(&extractor);
  tic.get_toc().file_map["mac"].mac[0] ^= 1;
  tic.get_toc().file_map["no-stream"] = make_entry(kFullMask);  // selected by every option, never read
  const std::pair<const char*, unsigned> cases[] = {{"mac", 0x5e9}, {"padded", 0x5e8}, {"victim", 0x5ca}};
  for (const auto& [name, expected_step] : cases) {
    ERROR = 0;
    EXPECT_EQ(tic.extract(name, ""), -1) << name;
    EXPECT_EQ((ERROR >> 8) & 0xfff, expected_step) << name;
  }
  EXPECT_FALSE(file_exists("mac")) << "a file is put in place only once its code is checked";
}

}  // namespace
