// The files an extraction writes, handed out as two workers would take
// them (ExtractionFeed): each with its path and the file it waits for,
// found in a ring of a few files whatever the number of files.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "install/extraction.h"
#include "install/extraction_feed.h"
#include "support/laid_out_archive.h"
#include "support/temp_dir.h"
#include "tic/archive/stream_order.h"

namespace {

// "m" lies further back than any window reaches from "m/z"; "a/b" goes
// beside its path, so nothing below it waits for it.
const std::vector<std::string> kNames = {"a",   "a/b", "a/b/c", "a/d", "m",   "m/0", "m/1", "m/2", "m/3", "m/4",
                                         "m/5", "m/6", "m/7",   "m/8", "m/9", "m/z", "n/q", "n/q/r"};

TEST(ExtractionFeed, EachFileWaitsForTheLatestDirectoryOnItsPathWithinTheWindow) {
  TempDir dir;
  std::vector<LaidOutEntry> entries;
  for (const std::string& name : kNames) entries.push_back({name, 1, "stream of " + name, 1, 0, 0, 0, 0});
  const std::string archive_path = dir / "a.tic";  // the archive keeps a pointer to it
  write_file(archive_path, lay_out_archive(entries, {{"o", "", 0}}, false, "feed").bytes);
  Tic archive(archive_path.c_str(), false, nullptr, 0);
  for (const size_t window : {1, 2, 4}) {
    StreamOrder order(archive, "o");
    ASSERT_EQ(order.start(), 0);
    ExtractionFeed feed(order, [](const a_stream_ref& ref) { return *ref.name == "a/b"; }, window);
    // Taken in pairs the wrong way round, as two workers may take them.
    std::vector<a_fed_file> fed(kNames.size());
    for (size_t i = 0; i < kNames.size(); i += 2) {
      if (i + 1 < kNames.size()) fed[i + 1] = feed.take(i + 1);
      fed[i] = feed.take(i);
    }
    for (size_t i = 0; i < kNames.size(); ++i) {
      const std::string& path = fed[i].path;
      EXPECT_EQ(path, kNames[i] + (i == 1 ? kBesideSuffix : "")) << i;
      // The latest earlier path that is a directory on this one.
      long long expected = -1;
      for (size_t j = 0; j < i; ++j)
        if (path.compare(0, fed[j].path.size() + 1, fed[j].path + "/") == 0) expected = static_cast<long long>(j);
      // Further back than the window, the file is in place before this one is taken.
      if (expected >= 0 && i - static_cast<size_t>(expected) > window)
        EXPECT_TRUE(fed[i].depends_on == expected || fed[i].depends_on == -1) << path;
      else
        EXPECT_EQ(fed[i].depends_on, expected) << path << ", window " << window;
    }
    if (window >= 2) {
      EXPECT_EQ(fed[2].depends_on, 0) << "a/b/c waits for a, not for a/b written beside";
    }
  }
}

}  // namespace
