#include "tic/format/toc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

// Offsets from 2^63 on are no file positions: a seek there never lands.
constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(INT64_MAX);

// The smallest record of each table: a string is at least its length word.
constexpr uint64_t kMinRecordSize[] = {sizeof(uint32_t), TicOption::kSize, TicTocEntry::kSize};

TicTocDecoder::TicTocDecoder(TicToc& toc, const TicHeader& header, bool swap)
    : toc_(toc),
      swap_(swap),
      offset_{header.string_offset, header.option_offset, header.toc_offset},
      left_{header.string_offset != 0 ? header.string_count : 0,
            header.option_offset != 0 ? header.option_count : 0,
            header.toc_offset != 0 ? header.entry_count : 0} {
  toc_.file_map.clear();
  toc_.options.option_map.clear();
}

bool TicTocDecoder::begin(Table table, uint64_t available) {
  if (offset_[table] > kMaxFileOffset) return fail("table offset beyond any file");
  // Checked before anything is stored, so no claim makes the reader hold
  // more than the archive has.
  if (left_[table] > available / kMinRecordSize[table]) return fail("table runs past the end of the archive");
  return true;
}

bool TicTocDecoder::decode(Table table, ByteSpan* in) {
  while (left_[table] > 0) {
    Step step;
    switch (table) {
      case kStrings: step = decode_string(in); break;
      case kOptions: step = decode_option(in); break;
      default: step = decode_entry(in); break;
    }
    if (step == kRejected) return false;
    if (step == kIncomplete) break;
    --left_[table];
  }
  return true;
}

bool TicTocDecoder::finish(Table table) {
  return left_[table] == 0 || fail("table cut short");
}

// Each record decoder consumes one record from the front of |in|, or nothing
// when |in| does not hold the whole record.

TicTocDecoder::Step TicTocDecoder::decode_string(ByteSpan* in) {
  uint32_t length;
  ByteSpan rest = *in;
  if (!rest.take(&length, sizeof length)) return kIncomplete;
  if (swap_) reverse_in_place(length);
  if (length > TicToc::kMaxStringLength) return reject("string longer than 1023 bytes");
  if (rest.size() < length) return kIncomplete;
  strings_.emplace_back(reinterpret_cast<const char*>(rest.data()), length);
  rest.drop(length);
  *in = rest;
  return kDecoded;
}

TicTocDecoder::Step TicTocDecoder::decode_option(ByteSpan* in) {
  TicOption option;
  if (!in->take(&option, sizeof option)) return kIncomplete;
  if (swap_) option.swap_endian();
  if (option.name_index >= strings_.size()) return reject("option name outside the string table");
  const std::string& name = strings_[option.name_index];
  if (!toc_.options.option_map.emplace(name, option).second) return reject("repeated option name");
  if (option.description_index >= strings_.size()) return reject("option description outside the string table");
  toc_.options.description_map[name] = strings_[option.description_index];
  return kDecoded;
}

TicTocDecoder::Step TicTocDecoder::decode_entry(ByteSpan* in) {
  TicTocEntry entry;
  if (!in->take(&entry, sizeof entry)) return kIncomplete;
  if (swap_) entry.swap_endian();
  if (entry.name_index >= strings_.size()) return reject("entry name outside the string table");
  if (!toc_.file_map.emplace(strings_[entry.name_index], entry).second) return reject("repeated entry name");
  return kDecoded;
}

namespace {

constexpr TicTocDecoder::Table kTables[] = {TicTocDecoder::kStrings, TicTocDecoder::kOptions,
                                            TicTocDecoder::kEntries};

uint64_t bytes_after(uint64_t offset, uint64_t size) { return offset < size ? size - offset : 0; }

bool report(const TicTocDecoder& decoder, const char** error) {
  if (error != nullptr) *error = decoder.error();
  return false;
}

// Feeds |table| to |decoder| from the file in kIoBlockSize pieces. A record
// cut by the end of a piece is moved to the front of the buffer and
// completed by the next read; a record is never longer than the buffer (a
// string is at most 4 + 1023 bytes), so every read makes progress.
bool feed_table(int descriptor, uint64_t file_size, TicTocDecoder& decoder, TicTocDecoder::Table table) {
  unsigned char buffer[kIoBlockSize];
  size_t held = 0;
  uint64_t position = decoder.offset(table);
  while (decoder.left(table) > 0 && position < file_size) {
    const uint64_t room = std::min<uint64_t>(kIoBlockSize - held, file_size - position);
    const ssize_t got = pread_full(descriptor, buffer + held, static_cast<size_t>(room), position);
    if (got <= 0) break;
    position += static_cast<uint64_t>(got);
    held += static_cast<size_t>(got);
    ByteSpan piece(buffer, held);
    if (!decoder.decode(table, &piece)) return false;
    if (piece.size() == held && held == kIoBlockSize) break;  // no progress possible
    std::memmove(buffer, piece.data(), piece.size());
    held = piece.size();
  }
  return decoder.finish(table);
}

}  // namespace

bool TicToc::decode_from(ByteSpan archive, const TicHeader& header, bool swap, const char** error) {
  TicTocDecoder decoder(*this, header, swap);
  for (const TicTocDecoder::Table table : kTables) {
    if (!decoder.present(table)) continue;
    if (!decoder.begin(table, bytes_after(decoder.offset(table), archive.size()))) return report(decoder, error);
    ByteSpan bytes = archive.from(decoder.offset(table));
    if (!decoder.decode(table, &bytes) || !decoder.finish(table)) return report(decoder, error);
  }
  return true;
}

bool TicToc::read(int descriptor, const TicHeader& header, bool swap) {
  TicTocDecoder decoder(*this, header, swap);
  struct stat st;
  if (::fstat(descriptor, &st) != 0 || st.st_size < 0) return false;
  const auto file_size = static_cast<uint64_t>(st.st_size);
  for (const TicTocDecoder::Table table : kTables) {
    if (!decoder.present(table)) continue;
    // The file system has the last word on which positions exist.
    if (!seek_exact(descriptor, decoder.offset(table))) return false;
    if (!decoder.begin(table, bytes_after(decoder.offset(table), file_size))) return false;
    if (!feed_table(descriptor, file_size, decoder, table)) return false;
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
