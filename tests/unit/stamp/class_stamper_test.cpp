// Rewriting the version class while content streams by in buffers.
#include "stamp/class_stamper.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;

// A stamp among other bytes: a broken-off marker before the real one, and a
// second VERSION_CLASS= after the block that must stay as it is.
const std::string kSample = "\x7f" "ELF @@==Version= broken @@==Version==@1@MODULE=kestrel\0"
                            "VERSION_CLASS=GA\0VERSION_MAJOR=17\0\0 later VERSION_CLASS=GA"s;

// kSample with the two characters of |with| (a terminator counts) as its class.
std::string stamped(const char* with) { return std::string(kSample).replace(kSample.find("=GA") + 1, 2, with, 2); }

// Feeds kSample to a fresh stamper in pieces ending at |ends|; the bytes and the last call's result.
std::pair<std::string, unsigned> stamp(std::vector<size_t> ends, const char* version_class = "RC") {
  a_version_class_stamper stamper(version_class);
  std::string bytes = kSample;
  unsigned done = 0;
  size_t from = 0;
  ends.push_back(bytes.size());
  for (size_t to : ends) {
    done = stamper(&bytes[from], static_cast<unsigned>(to - from));
    from = to;
  }
  return {bytes, done};
}

// Two cuts anywhere, empty pieces included: the marker and the key spread
// over up to three buffers, and the class characters fall on either side of
// a cut. A one-character class writes its terminator second; an empty one
// writes nothing.
TEST(ClassStamper, AnySplitGivesTheSameBytesAsTheWholeBuffer) {
  for (size_t first = 0; first <= kSample.size(); ++first) {
    for (size_t second = first; second <= kSample.size(); ++second)
      ASSERT_EQ(stamp({first, second}), std::pair(stamped("RC"), 1u)) << first << "," << second;
  }
  EXPECT_EQ(stamp({30}, ""), std::pair(kSample, 1u));
  EXPECT_EQ(stamp({}, "X"), std::pair(stamped("X"), 1u));
}

}  // namespace
