#include <utility>
#include <vector>

#include "tic/format/toc.h"

bool TicToc::merge(const TicToc& other) {
  for (const auto& option : other.options.option_map) other.options.copy_to(options, option.first);

  // How each of |other|'s options maps into this table's numbering: the
  // option's mask in |other| (the full mask for "*") and its bit value here.
  // The pairs depend only on the two option tables, so they are computed
  // once for all entries.
  std::vector<std::pair<unsigned long long, unsigned long long>> remap;
  remap.reserve(other.options.option_map.size());
  for (const auto& option : other.options.option_map) {
    const unsigned long long in_other = other.options.option_mask(option.first);
    const unsigned long long in_this = options.option_mask(option.first);
    remap.emplace_back(in_other, in_this);
  }

  for (const auto& [name, from] : other.file_map) {
    auto [slot, added] = file_map.emplace(name, from);
    TicTocEntry& into = slot->second;
    if (added) {
      into.mask = 0;
    } else if (into.data_offset == 0 && from.data_offset != 0) {
      std::copy(std::begin(from.mac), std::end(from.mac), std::begin(into.mac));
      into.data_offset = from.data_offset;
      into.file_size = from.file_size;
      into.stored_length = from.stored_length;
    }
    into.aux_a |= from.aux_a;
    into.aux_b |= from.aux_b;
    into.aux_c &= from.aux_c;
    for (const auto& [in_other, in_this] : remap) {
      if ((from.mask & in_other) != 0) into.mask |= in_this;
      if ((from.control_mask & in_other) != 0) into.control_mask |= in_this;
    }
  }
  return true;
}

std::vector<int> stream_suppliers(const std::vector<const TicToc*>& members,
                                  const std::vector<std::string_view>& names) {
  // Each member's names and |names| are both in byte-wise order: one walk
  // down each member's table finds the supplier of every stream without a
  // lookup per name.
  using Cursor = std::map<std::string, TicTocEntry>::const_iterator;
  std::vector<std::pair<Cursor, Cursor>> cursors;
  for (const TicToc* member : members) cursors.emplace_back(member->file_map.begin(), member->file_map.end());
  std::vector<int> suppliers(names.size(), -1);
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t m = 0; m < cursors.size(); ++m) {
      auto& [at, end] = cursors[m];
      while (at != end && std::string_view(at->first) < names[i]) ++at;
      if (suppliers[i] == -1 && at != end && at->first == names[i] && at->second.data_offset != 0)
        suppliers[i] = static_cast<int>(m);
    }
  }
  return suppliers;
}
