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
std::string stamped(const char* with) {
  std::string bytes = kSample;
  bytes.replace(bytes.find("=GA") + 1, 2, with, 2);
  return bytes;
}

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

// Two pieces cut anywhere (the key ending one character before a buffer's end
// or exactly at it among them), and three, so that the marker and the key
// also spread over three buffers.
TEST(ClassStamper, AnySplitGivesTheSameBytesAsTheWholeBuffer) {
  const auto whole = std::pair(stamped("RC"), 1u);
  ASSERT_EQ(stamp({}), whole);
  for (size_t first = 0; first <= kSample.size(); ++first) {
    for (size_t second = first; second <= kSample.size(); ++second)
      ASSERT_EQ(stamp({first, second}), whole) << first << "," << second;
  }
}

TEST(ClassStamper, EmptyAndOneCharacterClasses) {
  EXPECT_EQ(stamp({30}, ""), std::pair(kSample, 1u));
  EXPECT_EQ(stamp({}, "X"), std::pair(stamped("X"), 1u)) << "its terminator is written second";
}

}  // namespace
