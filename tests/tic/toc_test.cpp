// The table of contents in its binary form: writing, reading back, and the
// rules by which the reader rejects a table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/toc.h"

namespace {

// Options client (0), server (1), docs (2); two entries with streams, two without.
TicToc sample_toc() {
  TicToc toc;
  toc.options.option_mask("client|server|docs");
  TicTocEntry bin = make_entry(toc.options.option_mask("client|server"), 500, 1234);
  bin.stored_length = 77;
  bin.aux_a = 16;
  bin.aux_b = 8;
  bin.aux_c = 7;
  for (int i = 0; i < 32; ++i) bin.mac[i] = static_cast<unsigned char>(i * 7);
  toc.file_map["bin/tool"] = bin;
  toc.file_map["doc/readme"] = make_entry(toc.options.option_mask("docs"), 900, 10);
  toc.file_map["#server.ctl"] = make_entry(0);
  toc.file_map["#server.ctl"].control_mask = toc.options.option_mask("server");
  toc.file_map["lib/missing.so"] = make_entry(toc.options.option_mask("client"));
  return toc;
}

// Reads the tables of the archive at |path|, in either byte order, into |toc|.
bool load(const std::string& path, TicToc& toc) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  TicHeader header;
  if (pread_full(fd.get(), &header, sizeof header, 0) != 104) return false;
  const bool swap = header.is_opposite_endian();
  if (swap) header.swap_endian();
  return toc.read(fd.get(), header, swap);
}

TEST(TocBinary, WrittenWithAllReadsBackTheSameInEitherByteOrder) {
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "other byte order" : "native byte order");
    TempDir dir;
    TicToc toc = sample_toc();
    write_test_archive(dir / "a.tic", toc, true);
    if (swapped) swap_archive_byte_order(dir / "a.tic");
    // A second read replaces entries and options but keeps old descriptions.
    TicToc back;
    back.file_map["stale"] = TicTocEntry();
    back.options.option_mask("stale");
    back.options.description_map["stale"] = "old";
    ASSERT_TRUE(load(dir / "a.tic", back));
    ASSERT_EQ(back.file_map.size(), 4u);
    ASSERT_EQ(back.options.option_map.size(), 3u);
    // Writing renumbered the names of |toc| in place: entries first, then options.
    for (const auto& [name, entry] : toc.file_map)
      EXPECT_EQ(std::memcmp(&back.file_map.at(name), &entry, sizeof entry), 0) << name;
    for (const auto& [name, option] : toc.options.option_map)
      EXPECT_EQ(std::memcmp(&back.options.option_map.at(name), &option, sizeof option), 0) << name;
    EXPECT_EQ(back.options.option_map.at("client").name_index, 4u);
    EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
    EXPECT_EQ(back.options.description_map.at("stale"), "old");
  }
}

TEST(TocBinary, WithoutAllEntriesWithoutStreamKeepOnlyAControlFileName) {
  TempDir dir;
  TicToc toc = sample_toc();
  EXPECT_EQ(write_test_archive(dir / "a.tic", toc, false).string_count, 6u);
  TicToc back;
  ASSERT_TRUE(load(dir / "a.tic", back));
  EXPECT_EQ(back.file_map.size(), 2u);
  EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
  // An option named in no control mask points at the first string written.
  EXPECT_EQ(back.options.description_map.at("client"), "#server.ctl");
}

TEST(TocBinary, WriterRefusesAStringNoReaderCouldLoad) {
  TempDir dir;
  TicToc toc;
  toc.file_map[std::string(1024, 'n')] = make_entry(1, 104);
  EXPECT_THROW(write_test_archive(dir / "a.tic", toc, true), std::runtime_error);
}

// Overwrites the bytes of |path| at |at| with |value|; at the end, appends it.
template <typename T>
void patch(const std::string& path, uint64_t at, T value) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY));
  ASSERT_EQ(pwrite_full(fd.get(), &value, sizeof value, at), static_cast<ssize_t>(sizeof value));
}

TEST(TocReader, RejectsEveryMalformedTable) {
  using Damage = void (*)(const std::string& path, TicHeader header, uint64_t size);
  const std::pair<const char*, Damage> cases[] = {
      {"undamaged, with a string of 1023 bytes", nullptr},
      {"entry name = string count", [](auto& p, auto h, auto) { patch(p, h.toc_offset + 96, h.string_count); }},
      {"option name = string count", [](auto& p, auto h, auto) { patch(p, h.option_offset, h.string_count); }},
      {"description = string count", [](auto& p, auto h, auto) { patch(p, h.option_offset + 8, h.string_count); }},
      {"repeated entry name", [](auto& p, auto h, auto) { patch(p, h.toc_offset + 104 + 96, uint64_t{0}); }},
      {"repeated option name", [](auto& p, auto h, auto) { patch(p, h.option_offset + 24, h.entry_count); }},
      {"a string too many", [](auto& p, auto h, auto) { ++h.string_count; patch(p, 0, h); }},
      {"last string cut short", [](auto& p, auto, auto n) { ASSERT_EQ(::truncate(p.c_str(), n - 1), 0); }},
      {"options past the end", [](auto& p, auto h, auto n) { h.option_offset = n - 10; patch(p, 0, h); }},
      {"entries past the end", [](auto& p, auto h, auto n) { h.toc_offset = n - 50; patch(p, 0, h); }},
      // A position cut to 32 bits would land back on the entries.
      {"entries 4 GiB on", [](auto& p, auto h, auto) { h.toc_offset += 1ULL << 32; patch(p, 0, h); }},
      {"a string of 1024 bytes", [](auto& p, auto, auto n) { patch(p, n - 1027, uint32_t{1024}); patch(p, n, 'z'); }},
  };
  for (const auto& [what, damage] : cases) {
    TempDir dir;
    TicToc toc = sample_toc();
    toc.options.option_mask(std::string(1023, 'z'));  // its name is the last string of the file
    const TicHeader header = write_test_archive(dir / "t.tic", toc, true);
    if (damage != nullptr) damage(dir / "t.tic", header, read_file(dir / "t.tic").size());
    TicToc back;
    EXPECT_EQ(load(dir / "t.tic", back), damage == nullptr) << what;
  }
}

}  // namespace
