// The table of contents in its binary form: writing, reading back, and every
// rule by which the reader rejects a table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/fd.h"
#include "support/archive_writer.h"
#include "support/temp_dir.h"
#include "tic/toc.h"

namespace {

using Strings = std::vector<std::string>;

TEST(Split, KeepsEmptyPiecesAndTheRemainder) {
  auto pieces = [](const std::string& text, const std::string& separator) {
    Strings out{"before"};
    EXPECT_TRUE(split(text, separator, out));
    out.erase(out.begin());
    return out;
  };
  EXPECT_EQ(pieces("a|b", "|"), (Strings{"a", "b"}));
  EXPECT_EQ(pieces("a||b", "|"), (Strings{"a", "", "b"}));
  EXPECT_EQ(pieces("a|", "|"), (Strings{"a", ""}));
  EXPECT_EQ(pieces("", "|"), (Strings{""}));
  EXPECT_EQ(pieces("a;;b", ";;"), (Strings{"a", "b"}));
  EXPECT_EQ(pieces("a|b", ""), (Strings{"a|b"}));
}

// A table of contents with options client (0), server (1), docs (2).
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
  TicTocEntry control = make_entry(0);
  control.control_mask = toc.options.option_mask("server");
  toc.file_map["#server.ctl"] = control;
  toc.file_map["lib/missing.so"] = make_entry(toc.options.option_mask("client"));
  return toc;
}

TicToc read_back(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  TicHeader header;
  EXPECT_EQ(pread_full(fd.get(), &header, sizeof header, 0), 104);
  const bool swap = header.is_opposite_endian();
  if (swap) header.swap_endian();
  TicToc toc;
  EXPECT_TRUE(toc.read(fd.get(), header, swap));
  return toc;
}

void expect_same_entry(const TicTocEntry& a, const TicTocEntry& b) {
  EXPECT_EQ(0, memcmp(a.mac, b.mac, sizeof a.mac));
  EXPECT_EQ(a.data_offset, b.data_offset);
  EXPECT_EQ(a.file_size, b.file_size);
  EXPECT_EQ(a.stored_length, b.stored_length);
  EXPECT_EQ(a.aux_a, b.aux_a);
  EXPECT_EQ(a.aux_b, b.aux_b);
  EXPECT_EQ(a.mask, b.mask);
  EXPECT_EQ(a.control_mask, b.control_mask);
  EXPECT_EQ(a.aux_c, b.aux_c);
}

TEST(TocBinary, WrittenWithAllReadsBackTheSame) {
  TempDir dir;
  TicToc toc = sample_toc();
  const TicHeader header = write_test_archive(dir / "a.tic", toc, true);
  EXPECT_EQ(header.toc_offset, 104u);
  EXPECT_EQ(header.entry_count, 4u);
  EXPECT_EQ(header.option_count, 3u);
  EXPECT_EQ(header.string_count, 7u);

  TicToc back = read_back(dir / "a.tic");
  ASSERT_EQ(back.file_map.size(), toc.file_map.size());
  for (const auto& [name, entry] : toc.file_map) expect_same_entry(back.file_map.at(name), entry);
  ASSERT_EQ(back.options.option_map.size(), 3u);
  for (const auto& [name, option] : toc.options.option_map)
    EXPECT_EQ(back.options.option_map.at(name).bit, option.bit) << name;
  // Names are renumbered in entry order, then option order.
  EXPECT_EQ(back.file_map.at("#server.ctl").name_index, 0u);
  EXPECT_EQ(back.file_map.at("lib/missing.so").name_index, 3u);
  EXPECT_EQ(back.options.option_map.at("client").name_index, 4u);
  EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
}

TEST(TocBinary, WithoutAllEntriesWithoutStreamsKeepOnlyAControlFileName) {
  TempDir dir;
  TicToc toc = sample_toc();
  const TicHeader header = write_test_archive(dir / "a.tic", toc, false);
  EXPECT_EQ(header.entry_count, 2u);
  EXPECT_EQ(header.string_count, 6u) << "control file name, two entries, three options";

  TicToc back = read_back(dir / "a.tic");
  EXPECT_EQ(back.file_map.count("#server.ctl"), 0u);
  EXPECT_EQ(back.file_map.count("lib/missing.so"), 0u);
  EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
  // An option named in no control mask points at the first string written.
  EXPECT_EQ(back.options.description_map.at("client"), "#server.ctl");
  EXPECT_EQ(back.options.description_map.at("docs"), "#server.ctl");
}

TEST(TocBinary, OtherByteOrderReadsBackTheSame) {
  TempDir dir;
  TicToc toc = sample_toc();
  write_test_archive(dir / "a.tic", toc, true);
  swap_archive_byte_order(dir / "a.tic");

  TicHeader raw;
  {
    UniqueFd fd(::open((dir / "a.tic").c_str(), O_RDONLY));
    ASSERT_EQ(pread_full(fd.get(), &raw, sizeof raw, 0), 104);
  }
  EXPECT_TRUE(raw.is_opposite_endian());

  TicToc back = read_back(dir / "a.tic");
  ASSERT_EQ(back.file_map.size(), toc.file_map.size());
  for (const auto& [name, entry] : toc.file_map) expect_same_entry(back.file_map.at(name), entry);
  EXPECT_EQ(back.options.option_map.at("docs").bit, 2u);
  EXPECT_EQ(back.options.description_map.at("server"), "#server.ctl");
}

TEST(TocBinary, SecondReadReplacesEntriesButKeepsOldDescriptions) {
  TempDir dir;
  TicToc toc = sample_toc();
  write_test_archive(dir / "a.tic", toc, true);
  TicToc back;
  back.file_map["stale"] = TicTocEntry();
  back.options.option_mask("stale");
  back.options.description_map["stale"] = "old";
  UniqueFd fd(::open((dir / "a.tic").c_str(), O_RDONLY));
  TicHeader header;
  ASSERT_EQ(pread_full(fd.get(), &header, sizeof header, 0), 104);
  ASSERT_TRUE(back.read(fd.get(), header, false));
  EXPECT_EQ(back.file_map.count("stale"), 0u);
  EXPECT_EQ(back.options.option_map.count("stale"), 0u);
  EXPECT_EQ(back.options.description_map.at("stale"), "old");
}

TEST(TocBinary, WriterRefusesNamesNoReaderCouldLoad) {
  TempDir dir;
  TicToc toc;
  toc.file_map[std::string(1024, 'n')] = make_entry(1, 104);
  UniqueFd fd(::open((dir / "a.tic").c_str(), O_RDWR | O_CREAT, 0644));
  TicHeader header;
  EXPECT_FALSE(toc.write(fd.get(), header, true));
}

// Hand-made tables, for the reader's rejection rules.
struct RawTables {
  Strings strings;
  std::vector<TicOption> options;
  std::vector<TicTocEntry> entries;

  TicHeader write(const std::string& path) const {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
    TicHeader header;
    uint64_t at = TicHeader::kSize;
    header.toc_offset = at;
    header.entry_count = entries.size();
    pwrite_full(fd.get(), entries.data(), entries.size() * sizeof(TicTocEntry), at);
    at += entries.size() * sizeof(TicTocEntry);
    header.option_offset = at;
    header.option_count = options.size();
    pwrite_full(fd.get(), options.data(), options.size() * sizeof(TicOption), at);
    at += options.size() * sizeof(TicOption);
    header.string_offset = at;
    header.string_count = strings.size();
    for (const std::string& s : strings) {
      const auto length = static_cast<uint32_t>(s.size());
      pwrite_full(fd.get(), &length, 4, at);
      pwrite_full(fd.get(), s.data(), s.size(), at + 4);
      at += 4 + s.size();
    }
    pwrite_full(fd.get(), &header, sizeof header, 0);
    return header;
  }
};

TicOption option_record(uint64_t name, uint64_t description, uint64_t bit) {
  TicOption o;
  o.name_index = name;
  o.description_index = description;
  o.bit = bit;
  return o;
}

TicTocEntry entry_record(uint64_t name) {
  TicTocEntry e;
  e.name_index = name;
  return e;
}

// Reads the tables at |path| through a fresh TicToc.
bool loads(const std::string& path, uint64_t truncate_to = 0) {
  if (truncate_to != 0) {
    EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(truncate_to)), 0);
  }
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  TicHeader header;
  if (pread_full(fd.get(), &header, sizeof header, 0) != 104) return false;
  TicToc toc;
  return toc.read(fd.get(), header, false);
}

RawTables good_tables() {
  RawTables t;
  t.strings = {"a", "b", "opt", "a"};
  t.entries = {entry_record(0), entry_record(1)};
  t.options = {option_record(2, 0, 0)};
  return t;
}

TEST(TocReader, AcceptsAWellFormedTable) {
  TempDir dir;
  good_tables().write(dir / "t.tic");
  EXPECT_TRUE(loads(dir / "t.tic"));
}

TEST(TocReader, RejectsIndexesOutsideTheStringTable) {
  TempDir dir;
  RawTables entry_name = good_tables();
  entry_name.entries[1].name_index = 4;  // equal to the string count
  entry_name.write(dir / "e.tic");
  EXPECT_FALSE(loads(dir / "e.tic"));

  RawTables option_name = good_tables();
  option_name.options[0].name_index = 4;
  option_name.write(dir / "o.tic");
  EXPECT_FALSE(loads(dir / "o.tic"));

  RawTables description = good_tables();
  description.options[0].description_index = 4;
  description.write(dir / "d.tic");
  EXPECT_FALSE(loads(dir / "d.tic"));
}

TEST(TocReader, RejectsRepeatedNames) {
  TempDir dir;
  RawTables entries = good_tables();
  entries.entries[1].name_index = 3;  // a second "a"
  entries.write(dir / "e.tic");
  EXPECT_FALSE(loads(dir / "e.tic"));

  RawTables options = good_tables();
  options.options.push_back(option_record(2, 0, 1));
  options.write(dir / "o.tic");
  EXPECT_FALSE(loads(dir / "o.tic"));
}

TEST(TocReader, RejectsStringsLongerThan1023Bytes) {
  TempDir dir;
  RawTables longest = good_tables();
  longest.strings[1] = std::string(1023, 'x');
  longest.write(dir / "ok.tic");
  EXPECT_TRUE(loads(dir / "ok.tic"));

  RawTables too_long = good_tables();
  too_long.strings[1] = std::string(1024, 'x');
  too_long.write(dir / "long.tic");
  EXPECT_FALSE(loads(dir / "long.tic"));
}

// Reads the tables of |path| with a header changed by |edit|.
template <typename Edit>
bool loads_with_header(const std::string& path, Edit edit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY));
  TicHeader header;
  if (pread_full(fd.get(), &header, sizeof header, 0) != 104) return false;
  edit(header);
  TicToc toc;
  return toc.read(fd.get(), header, false);
}

TEST(TocReader, RejectsShortReadsOfEveryTable) {
  TempDir dir;
  const RawTables tables = good_tables();
  const TicHeader header = tables.write(dir / "t.tic");
  const uint64_t end_of_file = header.string_offset + 4 * 4 + 1 + 1 + 3 + 1;

  // The string table ends the file: cut inside the last string, and inside
  // the first length.
  EXPECT_FALSE(loads(dir / "t.tic", end_of_file - 1));
  tables.write(dir / "t.tic");
  EXPECT_FALSE(loads(dir / "t.tic", header.string_offset + 2));

  // More strings, options or entries announced than the file holds.
  tables.write(dir / "t.tic");
  EXPECT_TRUE(loads_with_header(dir / "t.tic", [](TicHeader&) {}));
  EXPECT_FALSE(loads_with_header(dir / "t.tic", [](TicHeader& h) { h.string_count = 5; }));
  EXPECT_FALSE(loads_with_header(dir / "t.tic", [&](TicHeader& h) { h.option_offset = end_of_file - 10; }));
  EXPECT_FALSE(loads_with_header(dir / "t.tic", [&](TicHeader& h) { h.toc_offset = end_of_file - 50; }));
}

TEST(TocReader, RejectsTablesThatCannotBeSought) {
  TempDir dir;
  good_tables().write(dir / "t.tic");
  // Beyond any file position.
  EXPECT_FALSE(loads_with_header(dir / "t.tic", [](TicHeader& h) { h.toc_offset = 0x8000000000000000ULL; }));
}

}  // namespace
