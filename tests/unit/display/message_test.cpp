// Names made fit to show in a line, and the one-line messages.
#include "display/message.h"

#include <gtest/gtest.h>

TEST(Printable, ControlCharactersAreEscapedAndEverythingElsePasses) {
  const struct {
    std::string name;
    std::string shown;
  } cases[] = {
      {"bin/tool", "bin/tool"},
      {std::string("a\nok", 4), "a\\x0aok"},
      {"\r 50% fake", "\\x0d 50% fake"},
      {"\x1b[2J", "\\x1b[2J"},
      {std::string("nul\0x", 5), "nul\\x00x"},
      {"del\x7f", "del\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},            // UTF-8 passes
      {"c1\xc2\x9b", "c1\\xc2\\x9b"},            // a C1 control in UTF-8
      {"lone\x9b", "lone\\x9b"},                 // a C1 byte on its own
      {"latin1\xe9", "latin1\xe9"},              // not UTF-8, not a control
      {"back\\x0a", "back\\x0a"},                // a backslash is not escaped
  };
  for (const auto& c : cases) EXPECT_EQ(printable(c.name), c.shown);
}

TEST(Complain, OneLineOnStandardError) {
  testing::internal::CaptureStderr();
  complain_as("kestrel", "install: /opt/x: No space left on device");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "kestrel: install: /opt/x: No space left on device\n");
}
