#include "tic/toc.h"

#include <unistd.h>

#include <vector>

#include "platform/fd.h"
#include "platform/byte_order.h"

void TicTocEntry::swap_endian() {
  reverse_in_place(data_offset);
  reverse_in_place(file_size);
  reverse_in_place(stored_length);
  reverse_in_place(aux_a);
  reverse_in_place(aux_b);
  reverse_in_place(mask);
  reverse_in_place(control_mask);
  reverse_in_place(aux_c);
  reverse_in_place(name_index);
}

namespace {

bool read_strings(FdReader& in, const TicHeader& header, bool swap, std::vector<std::string>& strings) {
  if (header.string_offset == 0) return true;
  if (!in.seek(header.string_offset)) return false;
  char text[TicToc::kMaxStringLength + 1];
  for (uint64_t i = 0; i < header.string_count; ++i) {
    uint32_t length;
    if (!in.read_exact(&length, sizeof length)) return false;
    if (swap) reverse_in_place(length);
    if (length > TicToc::kMaxStringLength) return false;
    if (!in.read_exact(text, length)) return false;
    strings.emplace_back(text, length);
  }
  return true;
}

}  // namespace

bool TicToc::read(int descriptor, const TicHeader& header, bool swap) {
  file_map.clear();
  options.option_map.clear();

  FdReader in(descriptor);
  std::vector<std::string> strings;
  if (!read_strings(in, header, swap, strings)) return false;

  if (header.option_offset != 0) {
    if (!in.seek(header.option_offset)) return false;
    for (uint64_t i = 0; i < header.option_count; ++i) {
      TicOption option;
      if (!in.read_exact(&option, sizeof option)) return false;
      if (swap) option.swap_endian();
      if (option.name_index >= strings.size()) return false;
      const std::string& name = strings[option.name_index];
      if (!options.option_map.emplace(name, option).second) return false;
      if (option.description_index >= strings.size()) return false;
      options.description_map[name] = strings[option.description_index];
    }
  }

  if (header.toc_offset != 0) {
    if (!in.seek(header.toc_offset)) return false;
    for (uint64_t i = 0; i < header.entry_count; ++i) {
      TicTocEntry entry;
      if (!in.read_exact(&entry, sizeof entry)) return false;
      if (swap) entry.swap_endian();
      if (entry.name_index >= strings.size()) return false;
      if (!file_map.emplace(strings[entry.name_index], entry).second) return false;
    }
  }
  return true;
}

namespace {

off_t current_position(int descriptor) { return ::lseek(descriptor, 0, SEEK_CUR); }

bool write_record(int descriptor, const void* record, size_t size) {
  return write_full(descriptor, record, size) == static_cast<ssize_t>(size);
}

}  // namespace

bool TicToc::write(int descriptor, TicHeader& header, bool all) {
  off_t position = current_position(descriptor);
  if (position < 0) return false;
  header.toc_offset = static_cast<uint64_t>(position);

  std::vector<const std::string*> strings;
  for (auto& [name, entry] : file_map) {
    if (!all && entry.data_offset == 0 && entry.control_mask == 0) continue;
    entry.name_index = strings.size();
    strings.push_back(&name);
    if (entry.control_mask != 0) {
      for (auto& [option_name, option] : options.option_map) {
        if ((option_bit_value(option.bit) & entry.control_mask) != 0)
          option.description_index = entry.name_index;
      }
    }
    if (all || entry.data_offset != 0) {
      if (!write_record(descriptor, &entry, sizeof entry)) return false;
      ++header.entry_count;
    }
  }

  position = current_position(descriptor);
  if (position < 0) return false;
  header.option_offset = static_cast<uint64_t>(position);
  for (auto& [name, option] : options.option_map) {
    option.name_index = strings.size();
    strings.push_back(&name);
    if (!write_record(descriptor, &option, sizeof option)) return false;
    ++header.option_count;
  }

  position = current_position(descriptor);
  if (position < 0) return false;
  header.string_offset = static_cast<uint64_t>(position);
  for (const std::string* text : strings) {
    // A longer name would make an archive that no reader can load.
    if (text->size() > kMaxStringLength) return false;
    const auto length = static_cast<uint32_t>(text->size());
    if (!write_record(descriptor, &length, sizeof length)) return false;
    if (!write_record(descriptor, text->data(), text->size())) return false;
    ++header.string_count;
  }
  return true;
}
