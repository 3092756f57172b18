// Rewriting the version class while content streams by in buffers.
#include "stamp/class_stamper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// A stamp among other bytes: a broken-off marker before the real one, and a
// second VERSION_CLASS= after the block that must stay as it is.
const std::string kSample = "\x7f" "ELF @@==Version= broken @@==Version==@1@MODULE=kestrel\0"
                            "VERSION_CLASS=GA\0VERSION_MAJOR=17\0\0 later VERSION_CLASS=GA"s;

std::string stamped(std::string bytes, const std::string& with) {
  bytes.replace(bytes.find("=GA"), 3, "=" + with);
  return bytes;
}

// Feeds |bytes| to a fresh stamper in pieces cut at |cuts| (ascending);
// |done| is the last call's result.
std::string stamp_in_pieces(std::string bytes, const std::vector<size_t>& cuts, unsigned* done,
                            const char* version_class = "RC") {
  a_version_class_stamper stamper(version_class);
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : bytes.size();
    *done = stamper(bytes.data() + from, static_cast<unsigned>(to - from));
    from = to;
  }
  return bytes;
}

TEST(ClassStamper, AnySplitGivesTheSameBytesAsTheWholeBuffer) {
  const std::string expected = stamped(kSample, "RC");
  unsigned done = 0;
  ASSERT_EQ(stamp_in_pieces(kSample, {}, &done), expected);
  EXPECT_EQ(done, 1u);
  // Two pieces cut anywhere, and three pieces, so that the marker and the key
  // are also spread over three buffers.
  for (size_t first = 0; first <= kSample.size(); ++first) {
    for (size_t second = first; second <= kSample.size(); ++second) {
      ASSERT_EQ(stamp_in_pieces(kSample, {first, second}, &done), expected) << first << "," << second;
      ASSERT_EQ(done, 1u) << first << "," << second;
    }
  }
}

TEST(ClassStamper, KeyEndingAtOrJustBeforeABuffersEnd) {
  const std::string head = "@@==Version==@1@MODULE=m\0VERSION_CLASS="s;
  std::string one_before = head + "G", next = "A\0"s;
  a_version_class_stamper stamper("RC");
  EXPECT_EQ(stamper(one_before.data(), static_cast<unsigned>(one_before.size())), 0u);
  EXPECT_EQ(one_before, head + "R");
  EXPECT_EQ(stamper(next.data(), 2), 1u);
  EXPECT_EQ(next, "C\0"s);

  std::string at_end = head, after = "GA\0"s, later = "VERSION_CLASS=GA";
  a_version_class_stamper stamper2("RC");
  EXPECT_EQ(stamper2(at_end.data(), static_cast<unsigned>(at_end.size())), 0u);
  EXPECT_EQ(at_end, head);
  EXPECT_EQ(stamper2(after.data(), 3), 1u);
  EXPECT_EQ(after, "RC\0"s);
  EXPECT_EQ(stamper2(later.data(), static_cast<unsigned>(later.size())), 1u);
  EXPECT_EQ(later, "VERSION_CLASS=GA") << "finished: later buffers are left alone";
}

TEST(ClassStamper, EmptyAndOneCharacterClasses) {
  unsigned done = 0;
  EXPECT_EQ(stamp_in_pieces(kSample, {30}, &done, ""), kSample);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(stamp_in_pieces(kSample, {}, &done, "X"), stamped(kSample, "X\0"s)) << "terminator is written second";
  EXPECT_EQ(done, 1u);
}

TEST(PostTagMatcher, TagsAcrossBuffers) {
  a_post_tag_matcher matcher;
  EXPECT_EQ(matcher.match("TAG", 3), -2) << "no tag";
  matcher.set_tag("TAG");
  EXPECT_EQ(matcher.match("xxxT", 4), -1);
  EXPECT_EQ(matcher.match("AGz", 3), 2);
  EXPECT_EQ(matcher.match("TAG", 3), 0) << "found: 0 until a new tag is set";

  matcher.set_tag("TAG");
  EXPECT_EQ(matcher.match("xTAG", 4), -1) << "ends exactly at the buffer's end";
  EXPECT_EQ(matcher.match("z", 1), 0);

  // A carried part that breaks off: the whole tag from position 1 on.
  matcher.set_tag("TAG");
  EXPECT_EQ(matcher.match("xTA", 3), -1);
  EXPECT_EQ(matcher.match("xTAGz", 5), 4);

  // A buffer shorter than the pending part continues it, or drops it:
  // "xxAB" "CD" "EF" holds the tag, "xxAB" "AB" "EF" does not.
  matcher.set_tag("ABCDEF");
  EXPECT_EQ(matcher.match("xxAB", 4), -1);
  EXPECT_EQ(matcher.match("CD", 2), -1);
  EXPECT_EQ(matcher.match("EFg", 3), 2);
  matcher.set_tag("ABCDEF");
  EXPECT_EQ(matcher.match("xxAB", 4), -1);
  EXPECT_EQ(matcher.match("AB", 2), -1);
  EXPECT_EQ(matcher.match("EFg", 3), -1);
}

}  // namespace
