// Install options (components) and option masks.
//
// Every option has a bit number; every file carries a 64-bit mask of the
// options it belongs to. An option expression names options separated by
// "|" and turns into a mask; a file is taken when its mask and the
// expression's mask share a bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The 24-byte option record, the same in memory and in the option table.
struct TicOption {
  static constexpr size_t kSize = 24;

  uint64_t name_index = 0;         // option name in the string table
  uint64_t description_index = 0;  // description text (the control file name)
  uint64_t bit = 0;                // bit number in option masks

  void swap_endian();
};

static_assert(sizeof(TicOption) == TicOption::kSize, "TicOption must be 24 bytes");
static_assert(offsetof(TicOption, name_index) == 0);
static_assert(offsetof(TicOption, description_index) == 8);
static_assert(offsetof(TicOption, bit) == 16);

// The mask with all 64 bits set: what "*" selects and what a default entry
// carries.
constexpr unsigned long long kFullMask = ~0ULL;

// Bit value of bit number |bit|: the 32-bit value 1 << (bit mod 32) widened
// with sign, so bit 31 gives 0xFFFFFFFF80000000 and numbers from 32 on repeat
// the values of 0 to 31.
unsigned long long option_bit_value(uint64_t bit);

// Calls |visit| with each option name of |expression| in order: the pieces
// between "|", empty pieces skipped, nothing trimmed. Stops early when
// |visit| returns false. This is the one decoder of option expressions; it
// reads only the bytes of |expression|.
template <typename Visit>
void for_each_option_name(std::string_view expression, Visit visit) {
  while (!expression.empty()) {
    const size_t bar = expression.find('|');
    const std::string_view name = expression.substr(0, bar);
    if (!name.empty() && !visit(name)) return;
    if (bar == std::string_view::npos) return;
    expression.remove_prefix(bar + 1);
  }
}

// An option whose bit value an option before it already has.
struct a_shared_bit {
  std::string name;
  uint64_t bit = 0;
  std::string shares_with;
};

class TicOptions {
 public:
  // Masks tell this many options apart: from bit number 32 on, bit values
  // repeat those of the numbers 32 lower.
  static constexpr size_t kDistinctOptions = 32;

  virtual ~TicOptions() = default;

  // Option name -> record, in byte-wise name order.
  std::map<std::string, TicOption> option_map;
  // Option name -> description text (the name of the option's control file).
  std::map<std::string, std::string> description_map;

  // Selection form: the mask an expression selects. Empty pieces are skipped,
  // "*" anywhere gives the full mask, unknown names add nothing. Never
  // changes the table.
  //
  // Note: on a non-const table the overload below is chosen; callers that
  // select must call through a const reference.
  unsigned long long option_mask(std::string_view expression) const;

  // Defining form: unknown names become new options numbered by order of
  // first appearance; "*" is an ordinary name here.
  unsigned long long option_mask(std::string_view expression);

  // Copies option |name| into |target| with the next bit number of |target|,
  // together with its description. False when this table lacks the option or
  // |target| already has it.
  bool copy_to(TicOptions& target, const std::string& name) const;

  // The options beyond the first kDistinctOptions in bit order, each with
  // the option it shares its bit value with, so that the files of either
  // select with the other. Empty for a table an archive can carry apart.
  std::vector<a_shared_bit> shared_bits() const;
};
