// Option expressions. The input is up to three lines: a defining expression
// and two selections a and b. Checked: the defining form numbers new options
// in order of first appearance; a|b selects the union of a and b; "*"
// anywhere selects everything; empty pieces change nothing; selecting never
// defines; the selection equals the pieces' bit values cut by split().
#include <string>
#include <string_view>
#include <vector>

#include "memory_file.h"
#include "tic/format/options.h"
#include "tic/format/split.h"

namespace {

std::string_view next_line(std::string_view& text) {
  const size_t end = text.find('\n');
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

// The selection mask computed piece by piece from split().
unsigned long long by_pieces(const TicOptions& options, const std::string& expression) {
  if (expression.empty()) return 0;
  std::vector<std::string> pieces;
  split(expression, "|", pieces);
  unsigned long long mask = 0;
  for (const std::string& piece : pieces) {
    if (piece == "*") return kFullMask;
    auto found = options.option_map.find(piece);
    if (found != options.option_map.end()) mask |= option_bit_value(found->second.bit);
  }
  return mask;
}

bool has_star(const std::string& expression) {
  bool star = false;
  for_each_option_name(expression, [&](std::string_view name) { return !(star = name == "*"); });
  return star;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string defining(next_line(input));
  const std::string a(next_line(input));
  const std::string b(next_line(input));

  TicOptions options;
  const unsigned long long defined = options.option_mask(defining);
  std::vector<std::string> order;
  unsigned long long expected = 0;
  for_each_option_name(defining, [&](std::string_view name) {
    const std::string text(name);
    bool seen = false;
    for (const std::string& earlier : order) seen = seen || earlier == text;
    if (!seen) order.push_back(text);
    return true;
  });
  FUZZ_CHECK(options.option_map.size() == order.size(), "options defined");
  for (size_t i = 0; i < order.size(); ++i) {
    FUZZ_CHECK(options.option_map.at(order[i]).bit == i, "not numbered by first appearance");
    expected |= option_bit_value(i);
  }
  FUZZ_CHECK(defined == expected, "the defining mask");

  const TicOptions& table = options;
  const size_t count = table.option_map.size();
  const unsigned long long mask_a = table.option_mask(a);
  const unsigned long long mask_b = table.option_mask(b);
  FUZZ_CHECK(mask_a == by_pieces(table, a) && mask_b == by_pieces(table, b), "pieces");
  FUZZ_CHECK(table.option_mask(a + "|" + b) == (mask_a | mask_b), "a|b is not the union");
  FUZZ_CHECK(table.option_mask(a + "|*|" + b) == kFullMask, "* does not select everything");
  FUZZ_CHECK(table.option_mask("||" + a + "|||") == mask_a, "empty pieces changed the mask");
  FUZZ_CHECK(table.option_mask(defining) == (has_star(defining) ? kFullMask : defined),
             "a defined expression selects what it defined");
  FUZZ_CHECK(table.option_map.size() == count, "selection defined an option");

  // Defining b on top adds its new names after the existing ones, and b
  // then selects what defining it gave.
  const unsigned long long again = options.option_mask(b);
  for (const auto& [name, option] : options.option_map) FUZZ_CHECK(option.bit < options.option_map.size(), "bits");
  FUZZ_CHECK(has_star(b) || again == table.option_mask(b), "defining b");
  return 0;
}
