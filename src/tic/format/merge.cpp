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

  // Both tables are in name order: a cursor walks this one beside |other|,
  // a few steps at a time, and searches only when |other| jumps ahead, so
  // that merging costs about one step per name instead of a search.
  constexpr int kSteps = 8;
  auto cursor = file_map.begin();
  for (const auto& [name, from] : other.file_map) {
    int steps = 0;
    while (cursor != file_map.end() && cursor->first < name && ++steps <= kSteps) ++cursor;
    if (steps > kSteps) cursor = file_map.lower_bound(name);
    const bool added = cursor == file_map.end() || cursor->first != name;
    if (added) cursor = file_map.emplace_hint(cursor, name, from);
    TicTocEntry& into = cursor->second;
    ++cursor;
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

StreamSuppliers::StreamSuppliers(const std::vector<const TicToc*>& members) {
  cursors_.reserve(members.size());
  for (const TicToc* member : members) cursors_.emplace_back(member->file_map.begin(), member->file_map.end());
}

int StreamSuppliers::supplier(std::string_view name) {
  int found = -1;
  for (size_t m = 0; m < cursors_.size(); ++m) {
    auto& [at, end] = cursors_[m];
    while (at != end && std::string_view(at->first) < name) ++at;
    if (found == -1 && at != end && at->first == name && at->second.data_offset != 0) found = static_cast<int>(m);
  }
  return found;
}

std::vector<int> stream_suppliers(const std::vector<const TicToc*>& members,
                                  const std::vector<std::string_view>& names) {
  StreamSuppliers walk(members);
  std::vector<int> suppliers;
  suppliers.reserve(names.size());
  for (std::string_view name : names) suppliers.push_back(walk.supplier(name));
  return suppliers;
}
