#include "tic/options.h"

#include <vector>

#include "platform/byte_order.h"
#include "tic/split.h"

void TicOption::swap_endian() {
  reverse_in_place(name_index);
  reverse_in_place(description_index);
  reverse_in_place(bit);
}

unsigned long long option_bit_value(uint64_t bit) {
  const auto low = static_cast<int32_t>(static_cast<uint32_t>(1) << (bit % 32));
  return static_cast<unsigned long long>(static_cast<int64_t>(low));
}

unsigned long long TicOptions::option_mask(const std::string& expression) const {
  if (expression.empty()) return 0;
  std::vector<std::string> pieces;
  split(expression, "|", pieces);
  unsigned long long mask = 0;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    if (piece == "*") return kFullMask;
    auto found = option_map.find(piece);
    if (found != option_map.end()) mask |= option_bit_value(found->second.bit);
  }
  return mask;
}

unsigned long long TicOptions::option_mask(const std::string& expression) {
  if (expression.empty()) return 0;
  std::vector<std::string> pieces;
  split(expression, "|", pieces);
  unsigned long long mask = 0;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    auto found = option_map.find(piece);
    if (found == option_map.end()) {
      TicOption option;
      option.bit = option_map.size();
      found = option_map.emplace(piece, option).first;
    }
    mask |= option_bit_value(found->second.bit);
  }
  return mask;
}

bool TicOptions::copy_to(TicOptions& target, const std::string& name) const {
  auto found = option_map.find(name);
  if (found == option_map.end() || target.option_map.count(name) != 0) return false;
  TicOption copy = found->second;
  copy.bit = target.option_map.size();
  target.option_map.emplace(name, copy);
  auto description = description_map.find(name);
  if (description != description_map.end()) target.description_map[name] = description->second;
  return true;
}
