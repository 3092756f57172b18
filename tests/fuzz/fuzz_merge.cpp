// Two archives read as one set: the first two bytes of the input tell where
// the first archive ends, the rest is the second. The merged table must hold
// every file and option of both members with one numbering, each file in the
// union of its options, its stream from the first member that has one and
// its carried words combined.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "memory_file.h"
#include "tic/archive/multi_tic.h"

namespace {

// The merged mask of an entry: the merged bit value of every option of every
// member whose selection shares a bit with that member's mask.
unsigned long long expected_mask(const TicToc& merged, const std::vector<const TicToc*>& members,
                                 const std::string& name, bool control) {
  unsigned long long mask = 0;
  bool first = true;
  for (const TicToc* member : members) {
    auto entry = member->file_map.find(name);
    if (entry == member->file_map.end()) continue;
    // A file new to the set comes in with its control mask as it was and
    // its mask cleared, both then remapped.
    if (first && control) mask = entry->second.control_mask;
    first = false;
    const unsigned long long own = control ? entry->second.control_mask : entry->second.mask;
    for (const auto& [option, record] : member->options.option_map) {
      if ((own & member->options.option_mask(option)) == 0) continue;
      // An option's name is evaluated as an expression on both sides: a name
      // holding "|" (which no list file can define) brings its pieces into
      // the set as options of their own.
      for_each_option_name(option, [&](std::string_view piece) {
        mask |= option_bit_value(merged.options.option_map.at(std::string(piece)).bit);
        return true;
      });
    }
  }
  return mask;
}

void check_merge(const TicToc& merged, const std::vector<const TicToc*>& members) {
  const size_t count = merged.options.option_map.size();
  std::vector<bool> taken(count);
  for (const auto& [name, option] : merged.options.option_map) {
    FUZZ_CHECK(option.bit < count && !taken[option.bit], "merged bits are not 0 to n-1");
    taken[option.bit] = true;
  }
  for (const TicToc* member : members) {
    for (const auto& [name, option] : member->options.option_map)
      FUZZ_CHECK(merged.options.option_map.count(name) == 1, "an option was lost");
    for (const auto& [name, entry] : member->file_map) FUZZ_CHECK(merged.file_map.count(name) == 1, "a file was lost");
  }
  for (const auto& [name, entry] : merged.file_map) {
    uint64_t data_offset = 0, aux_a = 0, aux_b = 0, aux_c = ~0ULL;
    for (const TicToc* member : members) {
      auto found = member->file_map.find(name);
      if (found == member->file_map.end()) continue;
      if (data_offset == 0) data_offset = found->second.data_offset;
      aux_a |= found->second.aux_a;
      aux_b |= found->second.aux_b;
      aux_c &= found->second.aux_c;
    }
    FUZZ_CHECK(entry.data_offset == data_offset, "the stream is not the first member's");
    FUZZ_CHECK(entry.aux_a == aux_a && entry.aux_b == aux_b && entry.aux_c == aux_c, "carried words");
    FUZZ_CHECK(entry.mask == expected_mask(merged, members, name, false), "mask not the union of options");
    FUZZ_CHECK(entry.control_mask == expected_mask(merged, members, name, true), "control mask");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile first;
  static MemoryFile second;
  if (size < 2) return 0;
  const size_t cut = std::min<size_t>(size - 2, size_t{data[0]} << 8 | data[1]);
  first.assign(data + 2, cut);
  second.assign(data + 2 + cut, size - 2 - cut);

  MultiTic set({first.path(), second.path()}, false, nullptr, 0);
  const int read = set.read_toc(false);
  Tic a(first.path().c_str(), false, nullptr, 0);
  Tic b(second.path().c_str(), false, nullptr, 0);
  // Members are merged in byte-wise order of their paths.
  std::vector<const Tic*> members = {&a, &b};
  if (second.path() < first.path()) std::swap(members[0], members[1]);
  const bool both = members[0]->descriptor() != -1 && members[1]->descriptor() != -1;
  FUZZ_CHECK((read == 0) == both, "the set loads unless a member fails");
  if (both) check_merge(set.get_toc(), {&members[0]->get_toc(), &members[1]->get_toc()});

  set.validate();
  TicToc listed;
  set.list(listed, "*", true);
  set.bytes_required("*");
  int sought = 0;
  for (const auto& [name, entry] : set.get_toc().file_map) {
    if (sought++ == 4) break;
    set.seek_file(name);
  }
  return 0;
}
