// The table of contents in its binary form: the byte order of each record,
// writing, reading back, and the rules by which the reader rejects a table.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/tic.h"

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

// Overwrites the bytes of |path| at |at| with |value|.
template <typename T>
void patch(const std::string& path, uint64_t at, T value) {
  std::string bytes = read_file(path);
  std::memcpy(&bytes.at(at), &value, sizeof value);
  write_file(path, bytes);
}

TEST(TocReader, RejectsEveryMalformedTableAndTheWriterAStringTooLong) {
  using Damage = void (*)(const std::string& path, TicHeader header, uint64_t size);
  const std::pair<const char*, Damage> cases[] = {
      {"undamaged, with a string of 1023 bytes", nullptr},
      {"entry name = string count", [](auto& p, auto h, auto) { patch(p, h.toc_offset + 96, h.string_count); }},
      {"option name = string count", [](auto& p, auto h, auto) { patch(p, h.option_offset, h.string_count); }},
      {"description = string count", [](auto& p, auto h, auto) { patch(p, h.option_offset + 8, h.string_count); }},
      {"repeated entry name", [](auto& p, auto h, auto) { patch(p, h.toc_offset + 104 + 96, uint64_t{0}); }},
      {"repeated option name", [](auto& p, auto h, auto) { patch(p, h.option_offset + 24, h.entry_count); }},
      {"a string too many", [](auto& p, auto h, auto) { ++h.string_count; patch(p, 0, h); }},
      {"last string cut short", [](auto& p, auto, auto n) { write_file(p, read_file(p).substr(0, n - 1)); }},
      {"options past the end", [](auto& p, auto h, auto n) { h.option_offset = n - 10; patch(p, 0, h); }},
      {"entries past the end", [](auto& p, auto h, auto n) { h.toc_offset = n - 50; patch(p, 0, h); }},
      // A position cut to 32 bits would land back on the entries.
      {"entries 4 GiB on", [](auto& p, auto h, auto) { h.toc_offset += 1ULL << 32; patch(p, 0, h); }},
      {"a string of 1024 bytes",
       [](auto& p, auto, auto n) { patch(p, n - 1027, uint32_t{1024}); write_file(p, read_file(p) + 'z'); }},
  };
  for (const auto& [what, damage] : cases) {
    TempDir dir;
    const std::string path = dir / "t.tic";
    TicToc toc = sample_toc();
    toc.options.option_mask(std::string(1023, 'z'));  // its name is the last string of the file
    const TicHeader header = write_test_archive(path, toc, true);
    if (damage != nullptr) damage(path, header, read_file(path).size());
    EXPECT_EQ(Tic(path.c_str(), false, nullptr, 0).descriptor() != -1, damage == nullptr) << what;
  }
  TempDir dir;
  TicToc toc;
  toc.options.option_mask(std::string(1024, 'z'));
  EXPECT_THROW(write_test_archive(dir / "t.tic", toc, true), std::runtime_error) << "the writer makes no such table";
}

}  // namespace
