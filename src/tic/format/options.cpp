#include "tic/format/options.h"

#include <algorithm>
#include <utility>

#include "platform/byte_order.h"

void TicOption::swap_endian() {
  reverse_in_place(name_index);
  reverse_in_place(description_index);
  reverse_in_place(bit);
}

unsigned long long option_bit_value(uint64_t bit) {
  const auto low = static_cast<int32_t>(static_cast<uint32_t>(1) << (bit % 32));
  return static_cast<unsigned long long>(static_cast<int64_t>(low));
}

unsigned long long TicOptions::option_mask(std::string_view expression) const {
  unsigned long long mask = 0;
  for_each_option_name(expression, [&](std::string_view name) {
    if (name == "*") {
      mask = kFullMask;
      return false;
    }
    auto found = option_map.find(std::string(name));
    if (found != option_map.end()) mask |= option_bit_value(found->second.bit);
    return true;
  });
  return mask;
}

unsigned long long TicOptions::option_mask(std::string_view expression) {
  unsigned long long mask = 0;
  for_each_option_name(expression, [&](std::string_view name) {
    // A new option takes the number of options before it as its bit.
    auto [found, added] = option_map.try_emplace(std::string(name));
    if (added) found->second.bit = option_map.size() - 1;
    mask |= option_bit_value(found->second.bit);
    return true;
  });
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

std::vector<a_shared_bit> TicOptions::shared_bits() const {
  std::vector<std::pair<uint64_t, std::string>> by_bit;
  for (const auto& [name, option] : option_map) by_bit.emplace_back(option.bit, name);
  std::sort(by_bit.begin(), by_bit.end());
  std::vector<a_shared_bit> shared;
  for (size_t i = kDistinctOptions; i < by_bit.size(); ++i)
    shared.push_back({by_bit[i].second, by_bit[i].first, by_bit[i % kDistinctOptions].second});
  return shared;
}
