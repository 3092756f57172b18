// The table of contents in its binary form: the byte order of each record,
// writing, reading back, the rules by which the decoder rejects a table, and
// the file reader's pieces.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/archive/tic.h"

namespace {

// Numbers the |count| 64-bit fields from byte |at| of a Record 1, 2, ...,
// swaps the record, expects each number reversed and returns the record.
// (The test archives of the other byte order are made with the same swap, so
// only this shows that no field is left out.)
template <typename Record>
Record swapped(const char* what, size_t at, size_t count) {
  std::vector<uint64_t> fields(count), reversed(count);
  for (uint64_t i = 0; i < count; ++i) fields[i] = i + 1, reversed[i] = (i + 1) << 56;
  Record record;
  std::memcpy(reinterpret_cast<char*>(&record) + at, fields.data(), count * 8);
  record.swap_endian();
  std::memcpy(fields.data(), reinterpret_cast<char*>(&record) + at, count * 8);
  EXPECT_EQ(fields, reversed) << what;
  return record;
}

TEST(TocRecords, SwapReversesEveryNumberOfTheHeaderEntriesAndOptions) {
  EXPECT_EQ(swapped<TicHeader>("header", 32, 8).build, 0x561C0000u) << "build 7254 reversed";
  swapped<TicTocEntry>("entry", 32, 9);
  swapped<TicOption>("option", 0, 3);
}

// Options client (0), server (1), docs (2); two entries with streams, two without.
TicToc sample_toc() {
  TicToc toc;
  toc.options.option_mask("client|server|docs");
  TicTocEntry bin = make_entry(toc.options.option_mask("client|server"), 500, 1234);
  bin.stored_length = 77, bin.aux_a = 16, bin.aux_b = 8, bin.aux_c = 7, bin.mac[31] = 0xAB;
  toc.file_map["bin/tool"] = bin;
  toc.file_map["doc/readme"] = make_entry(toc.options.option_mask("docs"), 900, 10);
  toc.file_map["#server.ctl"] = make_entry(0);
  toc.file_map["#server.ctl"].control_mask = toc.options.option_mask("server");
  toc.file_map["lib/missing.so"] = make_entry(toc.options.option_mask("client"));
  return toc;
}

TEST(TocBinary, WrittenWithAllReadsBackTheSameInEitherByteOrder) {
  for (const bool swap : {false, true}) {
    SCOPED_TRACE(swap ? "other byte order" : "native byte order");
    TempDir dir;
    const std::string path = dir / "a.tic";
    TicToc toc = sample_toc();
    write_test_archive(path, toc, true);
    if (swap) swap_archive_byte_order(path);
    const Tic tic(path.c_str(), false, nullptr, 0);
    const TicToc& back = tic.get_toc();
    ASSERT_EQ(back.file_map.size(), 4u);
    // Writing renumbered the names of |toc| in place: entries first, then options.
    for (const auto& [name, entry] : toc.file_map)
      EXPECT_EQ(std::memcmp(&back.file_map.at(name), &entry, sizeof entry), 0) << name;
    for (const auto& [name, option] : toc.options.option_map)
      EXPECT_EQ(std::memcmp(&back.options.option_map.at(name), &option, sizeof option), 0) << name;
    EXPECT_EQ(back.options.option_map.at("client").name_index, 4u);
    EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
    EXPECT_EQ(back.options.description_map.at("docs"), "#server.ctl") << "no control file: the first string";
  }
}

// An archive's bytes and its header, written by the project's writer.
struct Archive {
  std::string bytes;
  TicHeader header;
};

Archive archive_of(TicToc toc) {
  TempDir dir;
  Archive archive;
  archive.header = write_test_archive(dir / "a.tic", toc, true);
  archive.bytes = read_file(dir / "a.tic");
  return archive;
}

// Decodes the tables of |bytes| as Tic::read_toc does; what was wrong, or ""
// when they load.
std::string decode(const std::string& bytes, TicToc& toc) {
  ByteSpan in(bytes);
  TicHeader header;
  bool swap;
  Outcome decoded = header.decode_from(&in, &swap);
  if (decoded) decoded = toc.decode_from(ByteSpan(bytes), header, swap);
  return decoded ? "" : decoded.failure().text();
}

template <typename T>
void patch(std::string& bytes, uint64_t at, T value) {
  std::memcpy(&bytes.at(at), &value, sizeof value);
}

TEST(TocDecoder, RejectsEveryMalformedTableWithItsReason) {
  using Damage = void (*)(std::string& bytes, TicHeader header);
  const std::tuple<const char*, Damage, const char*> cases[] = {
      {"undamaged, with a string of 1023 bytes", nullptr, ""},
      {"entry name = string count", [](auto& b, auto h) { patch(b, h.toc_offset + 96, h.string_count); },
       "entry name outside the string table"},
      {"option name = string count", [](auto& b, auto h) { patch(b, h.option_offset, h.string_count); },
       "option name outside the string table"},
      {"description = string count", [](auto& b, auto h) { patch(b, h.option_offset + 8, h.string_count); },
       "option description outside the string table"},
      {"repeated entry name", [](auto& b, auto h) { patch(b, h.toc_offset + 104 + 96, uint64_t{0}); },
       "repeated entry name"},
      {"repeated option name", [](auto& b, auto h) { patch(b, h.option_offset + 24, h.entry_count); },
       "repeated option name"},
      {"a string too many", [](auto& b, auto h) { ++h.string_count, patch(b, 0, h); }, "table cut short"},
      {"last string cut short", [](auto& b, auto) { b.pop_back(); }, "table cut short"},
      {"options past the end", [](auto& b, auto h) { h.option_offset = b.size() - 10, patch(b, 0, h); },
       "table runs past the end of the archive"},
      {"entries past the end", [](auto& b, auto h) { h.toc_offset = b.size() - 50, patch(b, 0, h); },
       "table runs past the end of the archive"},
      // Claims far beyond the bytes are refused before anything is stored.
      {"2^60 entries", [](auto& b, auto h) { h.entry_count = 1ULL << 60, patch(b, 0, h); },
       "table runs past the end of the archive"},
      {"2^62 strings", [](auto& b, auto h) { h.string_count = 1ULL << 62, patch(b, 0, h); },
       "table runs past the end of the archive"},
      // A position cut to 32 bits would land back on the entries.
      {"entries 4 GiB on", [](auto& b, auto h) { h.toc_offset += 1ULL << 32, patch(b, 0, h); },
       "table runs past the end of the archive"},
      {"options at 2^63", [](auto& b, auto h) { h.option_offset = 1ULL << 63, h.option_count = 0, patch(b, 0, h); },
       "table offset beyond any file"},
      {"a string of 1024 bytes", [](auto& b, auto) { patch(b, b.size() - 1027, uint32_t{1024}), b += 'z'; },
       "string longer than 1023 bytes"},
      {"103 bytes of header", [](auto& b, auto) { b.resize(103); }, "header cut short"},
  };
  TicToc toc = sample_toc();
  toc.options.option_mask(std::string(1023, 'z'));  // its name is the last string of the archive
  const Archive archive = archive_of(toc);
  for (const auto& [what, damage, reason] : cases) {
    std::string bytes = archive.bytes;
    if (damage != nullptr) damage(bytes, archive.header);
    TicToc back;
    EXPECT_EQ(decode(bytes, back), reason) << what;
  }
  TempDir dir;
  toc = TicToc();
  toc.options.option_mask(std::string(1024, 'z'));
  EXPECT_THROW(write_test_archive(dir / "t.tic", toc, true), std::runtime_error) << "the writer makes no such table";
}

// Writers lay entries out in name order, but the decoder takes them in any
// order; an entry may share its name's string with an option, while a string
// that names a second entry is a repeated name even where the first took it.
TEST(TocDecoder, TakesEntriesInAnyOrderAndEachStringAsOneEntryName) {
  const Archive archive = archive_of(sample_toc());
  const TicHeader& h = archive.header;
  TicToc in_order;
  ASSERT_EQ(decode(archive.bytes, in_order), "");

  std::string reversed = archive.bytes;
  for (uint64_t i = 0; i < h.entry_count; ++i)
    reversed.replace(h.toc_offset + i * 104, 104, archive.bytes, h.toc_offset + (h.entry_count - 1 - i) * 104, 104);
  TicToc back;
  ASSERT_EQ(decode(reversed, back), "");
  ASSERT_EQ(back.file_map.size(), in_order.file_map.size());
  for (const auto& [name, entry] : in_order.file_map)
    EXPECT_EQ(std::memcmp(&back.file_map.at(name), &entry, sizeof entry), 0) << name;

  const uint64_t client = in_order.options.option_map.at("client").name_index;
  std::string shared = archive.bytes;
  patch(shared, h.toc_offset + 3 * 104 + 96, client);  // the last entry, lib/missing.so
  back = TicToc();
  ASSERT_EQ(decode(shared, back), "");
  EXPECT_EQ(back.file_map.count("client"), 1u);
  EXPECT_EQ(back.file_map.count("lib/missing.so"), 0u);
  EXPECT_EQ(back.options.option_map.count("client"), 1u);
  patch(shared, h.toc_offset + 96, client);  // and the first entry too
  EXPECT_EQ(decode(shared, back), "repeated entry name");
}

// The tables end the archive, so every cut loses a record: no cut loads, and
// each stops with a reason.
TEST(TocDecoder, EveryCutOfASmallArchiveFails) {
  const Archive archive = archive_of(sample_toc());
  for (size_t length = 0; length < archive.bytes.size(); ++length) {
    TicToc back;
    EXPECT_NE(decode(archive.bytes.substr(0, length), back), "") << length;
  }
}

// The file reader takes the tables in 8192-byte pieces: 400 entries and
// strings of every length up to 1023 bytes cut records and strings at the
// piece boundaries, and the tables load as decoded whole, in either byte
// order; a header that claims 2^60 entries fails without reading them.
TEST(TocReader, ReadsTablesInPiecesAsTheDecoderReadsThemWhole) {
  TicToc toc;
  toc.options.option_mask("client|server");
  for (int i = 0; i < 400; ++i)
    toc.file_map[std::to_string(i) + std::string(i * 1013 % 1000, 'n')] = make_entry(1 + i % 3, 104 + i, i);
  for (const bool swap : {false, true}) {
    TempDir dir;
    const std::string path = dir / "a.tic";
    TicToc written = toc;
    write_test_archive(path, written, true);
    if (swap) swap_archive_byte_order(path);
    TicToc decoded;
    ASSERT_EQ(decode(read_file(path), decoded), "");
    const Tic tic(path.c_str(), false, nullptr, 0);
    ASSERT_NE(tic.descriptor(), -1);
    ASSERT_EQ(tic.get_toc().file_map.size(), 400u);
    for (const auto& [name, entry] : decoded.file_map)
      EXPECT_EQ(std::memcmp(&tic.get_toc().file_map.at(name), &entry, sizeof entry), 0) << name;
    EXPECT_EQ(tic.get_toc().options.description_map, decoded.options.description_map);
  }
  TempDir dir;
  const std::string path = dir / "a.tic";
  TicHeader header = write_test_archive(path, toc, true);
  header.entry_count = 1ULL << 60;
  std::string bytes = read_file(path);
  patch(bytes, 0, header);
  write_file(path, bytes);
  EXPECT_EQ(Tic(path.c_str(), false, nullptr, 0).descriptor(), -1);
}

}  // namespace
