#include "tic/archive/inspect.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "crypto/hmac.h"
#include "platform/byte_order.h"
#include "platform/fd.h"
#include "stamp/dbversion.h"
#include "tic/archive/stream_decoder.h"

namespace {

std::string at(uint64_t offset) { return "at offset " + std::to_string(offset); }

// HMAC-SHA-256 of the file from |offset| to its end.
bool mac_from(int fd, uint64_t offset, const unsigned char* key, int key_length, unsigned char (&mac)[kHmacLength]) {
  UT_SHA256_CTX hash;
  if (hmac_begin(&hash, key, key_length) != HmacStatus::kOk) return false;
  unsigned char chunk[kIoBlockSize];
  for (uint64_t position = offset;;) {
    const ssize_t n = pread_full(fd, chunk, sizeof chunk, position);
    if (n < 0) return false;
    if (n == 0) break;
    if (hmac_add(&hash, chunk, static_cast<size_t>(n)) != HmacStatus::kOk) return false;
    position += static_cast<uint64_t>(n);
  }
  return hmac_finish(&hash, key, key_length, mac) == HmacStatus::kOk;
}

// How many records of |size| bytes from |offset| lie inside the file: at
// most |count|.
uint64_t records_inside(uint64_t file_size, uint64_t offset, uint64_t count, size_t size) {
  if (offset > file_size) return 0;
  return std::min<uint64_t>(count, (file_size - offset) / size);
}

void read_strings(int fd, an_archive_inspection& out) {
  const TicHeader& h = out.header;
  if (h.string_offset == 0) return;
  uint64_t position = h.string_offset;
  char text[TicToc::kMaxStringLength];
  for (uint64_t i = 0; i < h.string_count; ++i) {
    const std::string which = "string table: string " + std::to_string(i) + " of " + std::to_string(h.string_count) +
                              " " + at(position);
    uint32_t length;
    if (pread_full(fd, &length, sizeof length, position) != static_cast<ssize_t>(sizeof length)) {
      out.problems.push_back(which + ": the file ends before its length");
      return;
    }
    if (out.swapped) reverse_in_place(length);
    if (length > TicToc::kMaxStringLength) {
      out.problems.push_back(which + ": " + std::to_string(length) + " bytes, more than 1023");
      return;
    }
    if (pread_full(fd, text, length, position + sizeof length) != static_cast<ssize_t>(length)) {
      out.problems.push_back(which + ": the file ends within its " + std::to_string(length) + " bytes");
      return;
    }
    out.strings.emplace_back(text, length);
    position += sizeof length + length;
  }
}

// The string |index| names, when it was read.
bool string_at(const an_archive_inspection& in, uint64_t index, std::string& out) {
  if (index >= in.strings.size()) return false;
  out = in.strings[index];
  return true;
}

void read_options(int fd, an_archive_inspection& out) {
  const TicHeader& h = out.header;
  if (h.option_offset == 0) return;
  const uint64_t inside = records_inside(out.file_size, h.option_offset, h.option_count, TicOption::kSize);
  for (uint64_t i = 0; i < inside; ++i) {
    an_inspected_option option;
    const uint64_t position = h.option_offset + i * TicOption::kSize;
    if (pread_full(fd, &option.record, sizeof option.record, position) != static_cast<ssize_t>(TicOption::kSize)) {
      out.problems.push_back("option table: cannot read option " + std::to_string(i) + " " + at(position));
      return;
    }
    if (out.swapped) option.record.swap_endian();
    option.named = string_at(out, option.record.name_index, option.name);
    option.described = string_at(out, option.record.description_index, option.description);
    if (!option.named)
      out.problems.push_back("option table: option " + std::to_string(i) + " names string " +
                             std::to_string(option.record.name_index) + ", which was not read");
    out.options.push_back(option);
  }
  if (inside < h.option_count)
    out.problems.push_back("option table: " + std::to_string(inside) + " of " + std::to_string(h.option_count) +
                           " options " + at(h.option_offset) + " lie inside the file of " +
                           std::to_string(out.file_size) + " bytes");
}

// Reads the tar header at the start of |entry|'s stream through the
// archive's callbacks: decrypted with the key, fed to the stream's HMAC.
void read_stream_header(int fd, const an_archive_inspection& in, const unsigned char* key, int key_length,
                        an_inspected_entry& entry, std::vector<std::string>& problems) {
  const TicTocEntry& r = entry.record;
  const std::string which = "entry " + (entry.named ? entry.name : "#" + std::to_string(r.name_index)) +
                            ": stream " + at(r.data_offset) + ", " + std::to_string(r.stored_length) + " bytes";
  if (r.data_offset > in.file_size || r.stored_length > in.file_size - r.data_offset) {
    problems.push_back(which + ": beyond the end of the file");
    return;
  }
  const bool keyed = in.key != an_archive_key::kNone && key != nullptr && key_length >= 1;
  StreamDecoder decoder(keyed ? key : nullptr, keyed ? key_length : 0);
  if (!decoder.open(fd, r.data_offset, r.stored_length)) {
    const std::string& message = decoder.failure().cause;
    problems.push_back(which + ": no tar header" + (message.empty() ? "" : " (" + message + ")"));
    return;
  }
  entry.has_mode = true;
  entry.mode = decoder.entry().mode;
  // A directory's tar name ends with "/"; the entry's does not.
  std::string stored = decoder.entry().pathname;
  if (stored.size() > 1 && stored.back() == '/') stored.pop_back();
  if (entry.named && stored != entry.name) problems.push_back(which + ": holds " + stored);
}

void read_entries(int fd, const unsigned char* key, int key_length, an_archive_inspection& out) {
  const TicHeader& h = out.header;
  if (h.toc_offset == 0) return;
  const uint64_t inside = records_inside(out.file_size, h.toc_offset, h.entry_count, TicTocEntry::kSize);
  std::vector<std::string> stream_problems;
  // Whole records at a time, as many as one block holds.
  constexpr uint64_t kPerBlock = kIoBlockSize / TicTocEntry::kSize;
  TicTocEntry block[kPerBlock];
  for (uint64_t i = 0; i < inside; ++i) {
    an_inspected_entry entry;
    const uint64_t in_block = i % kPerBlock;
    if (in_block == 0) {
      const uint64_t count = std::min(kPerBlock, inside - i);
      const size_t length = static_cast<size_t>(count * TicTocEntry::kSize);
      if (pread_full(fd, block, length, h.toc_offset + i * TicTocEntry::kSize) != static_cast<ssize_t>(length)) {
        out.problems.push_back("entry table: cannot read entry " + std::to_string(i));
        break;
      }
    }
    entry.record = block[in_block];
    if (out.swapped) entry.record.swap_endian();
    entry.named = string_at(out, entry.record.name_index, entry.name);
    if (!entry.named)
      out.problems.push_back("entry table: entry " + std::to_string(i) + " names string " +
                             std::to_string(entry.record.name_index) + ", which was not read");
    out.entries.push_back(entry);
  }
  if (inside < h.entry_count)
    out.problems.push_back("entry table: " + std::to_string(inside) + " of " + std::to_string(h.entry_count) +
                           " entries " + at(h.toc_offset) + " lie inside the file of " +
                           std::to_string(out.file_size) + " bytes");
  for (an_inspected_entry& entry : out.entries) {
    if (entry.record.data_offset != 0) read_stream_header(fd, out, key, key_length, entry, stream_problems);
  }
  out.problems.insert(out.problems.end(), stream_problems.begin(), stream_problems.end());
}

void read_stamp(int fd, an_archive_inspection& out) {
  const TicHeader& h = out.header;
  const std::string which = "version stamp block " + at(h.version_offset) + ", " +
                            std::to_string(h.version_length) + " bytes";
  if (h.version_offset > out.file_size || h.version_length > out.file_size - h.version_offset) {
    out.problems.push_back(which + ": beyond the end of the file");
    return;
  }
  // The block and one more NUL, so that a block cut right after its closing
  // NUL still shows its end to the parser.
  char block[kStampDataSize + 1] = {};
  const size_t length = static_cast<size_t>(std::min<uint64_t>(h.version_length, kStampDataSize));
  dbversion_info info;
  if (pread_full(fd, block, length, h.version_offset) != static_cast<ssize_t>(length) ||
      length < kStampMarkerLength || std::memcmp(block, kStampMarker, kStampMarkerLength) != 0 ||
      __Parse_dbversion_info(block + kStampMarkerLength, length + 1 - kStampMarkerLength, &info) != kInfoFound) {
    out.problems.push_back(which + ": not a stamp block");
    return;
  }
  out.stamp_read = true;
  for (uint32_t i = 0; i < info.num_args; ++i)
    out.stamp.push_back({info.args[i].name, info.args[i].value != nullptr ? info.args[i].value : ""});
}

}  // namespace

void inspect_archive(const std::string& path, const unsigned char* key, int key_length, an_archive_inspection& out) {
  out = an_archive_inspection();
  out.path = path;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    out.problems.push_back(std::string("cannot open: ") + std::strerror(errno));
    return;
  }
  out.file_size = static_cast<uint64_t>(st.st_size);
  if (pread_full(fd.get(), &out.header, sizeof out.header, 0) != static_cast<ssize_t>(sizeof out.header)) {
    out.problems.push_back("header: the file has " + std::to_string(out.file_size) + " bytes, fewer than 104");
    return;
  }
  out.header_read = true;
  out.swapped = out.header.is_opposite_endian();
  if (out.swapped) out.header.swap_endian();

  const uint64_t covered = out.header.toc_offset;
  unsigned char mac[kHmacLength];
  if (covered <= out.file_size && mac_from(fd.get(), covered, key, key_length, mac) &&
      std::memcmp(mac, out.header.mac, sizeof mac) == 0) {
    out.key = an_archive_key::kProduct;
  } else if (covered <= out.file_size && mac_from(fd.get(), covered, nullptr, 0, mac) &&
             std::memcmp(mac, out.header.mac, sizeof mac) == 0) {
    out.key = an_archive_key::kNone;
  } else {
    out.problems.push_back("header: its MAC matches the tables " + at(covered) +
                           " neither under the product key nor without a key");
  }

  read_stamp(fd.get(), out);
  // The strings come last in the file, but the other tables name them.
  read_strings(fd.get(), out);
  read_entries(fd.get(), key, key_length, out);
  read_options(fd.get(), out);
}

TicToc inspected_toc(const an_archive_inspection& inspection) {
  TicToc toc;
  for (const an_inspected_option& option : inspection.options) {
    if (!option.named) continue;
    toc.options.option_map.emplace(option.name, option.record);
    if (option.described) toc.options.description_map[option.name] = option.description;
  }
  for (const an_inspected_entry& entry : inspection.entries) {
    if (entry.named) toc.file_map.emplace(entry.name, entry.record);
  }
  return toc;
}
