// Option masks: bit values and the selection form of option expressions. The
// defining form is shown through the list file, copying through merging.
#include <gtest/gtest.h>

#include <string>

#include "tic/format/options.h"

namespace {

// A table whose options are defined by |expression|, in order of appearance.
TicOptions defined(const std::string& expression) {
  TicOptions options;
  options.option_mask(expression);
  return options;
}

// The options a, b, "a,b" and " a" have bits 0 to 3.
TEST(OptionMask, SelectionSkipsEmptyPiecesAndUnknownNamesAndTakesNamesExactly) {
  const TicOptions options = defined("a|b|a,b| a");
  const std::pair<const char*, unsigned long long> cases[] = {
      {"", 0}, {"|", 0}, {"a||b|", 3}, {"a|zzz", 1}, {"a,b", 4}, {" a", 8}, {"a ", 0}, {"unknown|*|a", kFullMask}};
  for (const auto& [expr, mask] : cases) EXPECT_EQ(options.option_mask(expr), mask) << '"' << expr << '"';
  EXPECT_EQ(options.option_map.size(), 4u) << "selection must not define options";
}

TEST(OptionMask, Bit31SpreadsIntoTheUpperHalfAndBitsRepeatEvery32) {
  std::string names;
  for (int i = 0; i < 64; ++i) names += "o" + std::to_string(i) + "|";
  const TicOptions options = defined(names);
  const unsigned long long file_of_31 = options.option_mask("o31");
  EXPECT_EQ(file_of_31, 0xFFFFFFFF80000000ULL);
  // A file of option 31 alone is selected by o31 and o63 (and "*"), by no other option.
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ((file_of_31 & options.option_mask("o" + std::to_string(i))) != 0, i % 32 == 31) << i;
  EXPECT_EQ(options.option_mask("o32"), options.option_mask("o0")) << "the 33rd option shares the first one's bit";
}

}  // namespace
