// Option masks: bit values, selection and definition of option expressions.
#include <gtest/gtest.h>

#include "tic/options.h"

namespace {

// A table with options defined in the order given (bits 0, 1, 2, ...).
TicOptions table_of(std::initializer_list<const char*> names) {
  TicOptions options;
  for (const char* name : names) options.option_mask(name);
  return options;
}

unsigned long long select(const TicOptions& options, const std::string& expression) {
  return options.option_mask(expression);
}

TEST(OptionMask, BitValuesRepeatEvery32AndBit31SpreadsIntoTheUpperHalf) {
  EXPECT_EQ(option_bit_value(0), 1ULL);
  EXPECT_EQ(option_bit_value(30), 1ULL << 30);
  EXPECT_EQ(option_bit_value(31), 0xFFFFFFFF80000000ULL);
  EXPECT_EQ(option_bit_value(32), 1ULL);
  EXPECT_EQ(option_bit_value(63), 0xFFFFFFFF80000000ULL);
}

TEST(OptionMask, SelectionSkipsEmptyPiecesAndUnknownNames) {
  const TicOptions options = table_of({"a", "b", "c"});
  EXPECT_EQ(select(options, ""), 0ULL);
  EXPECT_EQ(select(options, "|"), 0ULL);
  EXPECT_EQ(select(options, "a|b"), 3ULL);
  EXPECT_EQ(select(options, "a||b|"), 3ULL);
  EXPECT_EQ(select(options, "|c"), 4ULL);
  EXPECT_EQ(select(options, "a|zzz"), 1ULL);
  EXPECT_EQ(options.option_map.size(), 3u) << "selection must not define options";
}

TEST(OptionMask, StarAnywhereSelectsEverything) {
  const TicOptions options = table_of({"a"});
  EXPECT_EQ(select(options, "*"), kFullMask);
  EXPECT_EQ(select(options, "a|*"), kFullMask);
  EXPECT_EQ(select(options, "unknown|*|other"), kFullMask);
  EXPECT_EQ(select(TicOptions(), "*"), kFullMask);
}

TEST(OptionMask, NamesAreExactCaseSensitiveAndKeepBlanksAndCommas) {
  const TicOptions options = table_of({"a", "b", "a,b", " a"});
  EXPECT_EQ(select(options, "A"), 0ULL);
  EXPECT_EQ(select(options, "a,b"), option_bit_value(2));
  EXPECT_EQ(select(options, " a"), option_bit_value(3));
  EXPECT_EQ(select(options, "a "), 0ULL);
}

TEST(OptionMask, Option31SelectsOnlyThroughItselfOrTheFullMask) {
  TicOptions options;
  for (int i = 0; i < 64; ++i) options.option_mask("o" + std::to_string(i));
  const unsigned long long file_of_31 = select(options, "o31");
  EXPECT_EQ(file_of_31, 0xFFFFFFFF80000000ULL);
  for (int i = 0; i < 63; ++i) {
    if (i == 31) continue;
    EXPECT_EQ(file_of_31 & select(options, "o" + std::to_string(i)), 0ULL) << i;
  }
  EXPECT_NE(file_of_31 & select(options, "o63"), 0ULL);
  EXPECT_NE(file_of_31 & select(options, "*"), 0ULL);
}

TEST(OptionMask, The33rdOptionSharesTheBitOfTheFirst) {
  TicOptions options;
  for (int i = 0; i < 33; ++i) options.option_mask("o" + std::to_string(i));
  EXPECT_EQ(options.option_map.at("o32").bit, 32u);
  EXPECT_EQ(select(options, "o32"), select(options, "o0"));
}

TEST(OptionMask, DefiningFormNumbersByFirstAppearance) {
  TicOptions options;
  EXPECT_EQ(options.option_mask("c"), 1ULL);
  EXPECT_EQ(options.option_mask("a|c||b"), 1ULL | 2ULL | 4ULL);
  EXPECT_EQ(options.option_map.at("c").bit, 0u);
  EXPECT_EQ(options.option_map.at("a").bit, 1u);
  EXPECT_EQ(options.option_map.at("b").bit, 2u);
  EXPECT_EQ(options.option_mask(""), 0ULL);
  EXPECT_EQ(options.option_mask("|"), 0ULL);
  // "*" is an ordinary name when defining.
  EXPECT_EQ(options.option_mask("*"), option_bit_value(3));
  EXPECT_EQ(options.option_map.size(), 4u);
}

TEST(OptionMask, CopyToRenumbersAndCarriesTheDescription) {
  TicOptions from = table_of({"x", "y"});
  from.description_map["y"] = "#y.ctl";
  TicOptions to = table_of({"a"});
  to.description_map["y"] = "stale";

  EXPECT_TRUE(from.copy_to(to, "y"));
  EXPECT_EQ(to.option_map.at("y").bit, 1u);
  EXPECT_EQ(to.description_map.at("y"), "#y.ctl");
  EXPECT_FALSE(from.copy_to(to, "y")) << "target already has it";
  EXPECT_FALSE(from.copy_to(to, "absent"));
  EXPECT_TRUE(from.copy_to(to, "x"));
  EXPECT_EQ(to.option_map.at("x").bit, 2u);
  EXPECT_EQ(to.description_map.count("x"), 0u);
}

}  // namespace
