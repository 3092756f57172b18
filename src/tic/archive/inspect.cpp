#include "tic/archive/inspect.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "crypto/hmac.h"
#include "platform/fd.h"
#include "stamp/dbversion.h"
#include "tic/archive/stream_decoder.h"
#include "tic/archive/tic.h"
#include "tic/archive/toc_file.h"

namespace {

using Decoder = TicTocDecoder;

std::string at(uint64_t offset) { return "at offset " + std::to_string(offset); }

// Which key the header's MAC matches: the tables' code under each key in
// turn.
an_archive_key key_of(const an_archive_inspection& in, const unsigned char* key, int key_length) {
  const uint64_t covered = in.header.toc_offset;
  if (covered > in.file_size) return an_archive_key::kUnknown;
  Tic tic(nullptr, false, key, key_length);
  tic.set_path(in.path.c_str());
  unsigned char mac[kHmacLength];
  for (const an_archive_key which : {an_archive_key::kProduct, an_archive_key::kNone}) {
    if (which == an_archive_key::kNone) tic.set_encryption_key(nullptr, 0);
    if (tic.compute_mac(static_cast<long long>(covered), mac, sizeof mac) == 0 &&
        std::memcmp(mac, in.header.mac, sizeof mac) == 0)
      return which;
  }
  return an_archive_key::kUnknown;
}

// One sentence for what the decoder found wrong in a table.
std::string problem_text(const an_archive_inspection& in, const Decoder::a_problem& p) {
  const TicHeader& h = in.header;
  if (p.table == Decoder::kStrings) {
    const std::string which = "string table: string " + std::to_string(p.record) + " of " +
                              std::to_string(h.string_count) + " " + at(p.offset);
    if (p.fault == Decoder::kStringTooLong) return which + ": " + std::to_string(p.value) + " bytes, more than 1023";
    if (p.value == Decoder::kNoLength) return which + ": the file ends before its length";
    return which + ": the file ends within its " + std::to_string(p.value) + " bytes";
  }
  const bool options = p.table == Decoder::kOptions;
  const std::string table = options ? "option table: " : "entry table: ";
  const std::string record = options ? "option " : "entry ";
  switch (p.fault) {
    case Decoder::kNameOutside:
      return table + record + std::to_string(p.record) + " names string " + std::to_string(p.value) +
             ", which was not read";
    case Decoder::kCutShort:
      return table + std::to_string(p.record) + " of " + std::to_string(p.value) + (options ? " options " : " entries ") +
             at(p.offset) + " lie inside the file of " + std::to_string(in.file_size) + " bytes";
    default:
      return table + "cannot read " + record + std::to_string(p.record) + (options ? " " + at(p.offset) : "");
  }
}

void add_problems(const an_archive_inspection& in, const Decoder& decoder, Decoder::Table table,
                  std::vector<std::string>& out) {
  for (const Decoder::a_problem& p : decoder.problems())
    if (p.table == table) out.push_back(problem_text(in, p));
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
  if (Outcome opened = decoder.open(fd, r.data_offset, r.stored_length); !opened) {
    const std::string& message = opened.failure().cause;
    problems.push_back(which + ": no tar header" + (message.empty() ? "" : " (" + message + ")"));
    return;
  }
  entry.has_mode = true;
  entry.mode = decoder.entry().mode;
  entry.compression = decoder.compression();
  // A directory's tar name ends with "/"; the entry's does not.
  std::string stored = decoder.entry().pathname;
  if (stored.size() > 1 && stored.back() == '/') stored.pop_back();
  if (entry.named && stored != entry.name) problems.push_back(which + ": holds " + stored);
}

// The tables, decoded as far as they read; the records named where their
// strings were read.
void read_tables(int fd, const unsigned char* key, int key_length, an_archive_inspection& out) {
  Decoder decoder(out.toc, out.header, out.swapped, Decoder::kKeepGoing);
  for (const Decoder::Table table : {Decoder::kStrings, Decoder::kOptions, Decoder::kEntries}) {
    if (!decoder.present(table)) continue;
    const uint64_t offset = decoder.offset(table);
    decoder.begin(table, offset < out.file_size ? out.file_size - offset : 0);
    feed_toc_table(fd, out.file_size, decoder, table);
  }
  out.strings = decoder.strings();
  auto name_of = [&](uint64_t index, std::string& name) {
    if (index >= out.strings.size()) return false;
    name = out.strings[index];
    return true;
  };
  for (const TicOption& record : decoder.option_records()) {
    an_inspected_option option;
    option.record = record;
    option.named = name_of(record.name_index, option.name);
    option.described = name_of(record.description_index, option.description);
    out.options.push_back(option);
  }
  for (const TicTocEntry& record : decoder.entry_records()) {
    an_inspected_entry entry;
    entry.record = record;
    entry.named = name_of(record.name_index, entry.name);
    out.entries.push_back(entry);
  }
  // Problems in the order the regions are shown: strings, entries, their
  // streams, options.
  add_problems(out, decoder, Decoder::kStrings, out.problems);
  add_problems(out, decoder, Decoder::kEntries, out.problems);
  for (an_inspected_entry& entry : out.entries) {
    if (entry.record.data_offset != 0) read_stream_header(fd, out, key, key_length, entry, out.problems);
  }
  add_problems(out, decoder, Decoder::kOptions, out.problems);
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
  if (!read_tic_header(fd.get(), out.header, &out.swapped)) {
    out.problems.push_back("header: the file has " + std::to_string(out.file_size) + " bytes, fewer than 104");
    return;
  }
  out.header_read = true;
  out.key = key_of(out, key, key_length);
  if (out.key == an_archive_key::kUnknown)
    out.problems.push_back("header: its MAC matches the tables " + at(out.header.toc_offset) +
                           " neither under the product key nor without a key");
  read_stamp(fd.get(), out);
  read_tables(fd.get(), key, key_length, out);
}
