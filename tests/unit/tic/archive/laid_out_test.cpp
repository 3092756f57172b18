// Archives laid out by hand from the documented layout, in both byte orders
// (support/laid_out_archive.h): the reader kestrel uses loads every field
// of them, dump's keep-going reader reads past what stops it, and the
// writer lays the same tables out again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/fresh_error_word.h"
#include "support/hex.h"
#include "support/laid_out_archive.h"
#include "support/temp_dir.h"
#include "tic/archive/inspect.h"
#include "tic/archive/tic.h"

namespace {

using Words = std::vector<uint64_t>;
constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
const std::string kKey = "laid out by hand";

// In byte-wise name order, as the writer orders entries: a control file
// without a stream, and two files with one. client is bit 0, docs bit 1;
// each option is described by its control file.
std::vector<LaidOutEntry> sample_entries() {
  LaidOutEntry control{"#client.ctl", 0b01, "", 0, 0b01, 0, 0, 0};
  LaidOutEntry tool{"bin/tool", 0b01, "stored bytes of bin/tool", 1234, 0, 16, 8, 7};
  LaidOutEntry readme{"doc/readme", 0b10, "readme stream", 10, 0b10, 0, 0, 0};
  return {control, tool, readme};
}
const std::vector<LaidOutOption> kOptions = {{"client", "#client.ctl", 0}, {"docs", "doc/readme", 1}};

Words fields(const TicTocEntry& e) {
  return {e.data_offset, e.file_size, e.stored_length, e.aux_a, e.aux_b, e.mask, e.control_mask, e.aux_c, e.name_index};
}

class LaidOutArchiveTest : public FreshErrorWord {};

TEST_F(LaidOutArchiveTest, LoadsInEitherByteOrderWithEveryFieldInPlace) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    TempDir dir;
    const std::string path = dir / "a.tic";
    write_file(path, lay_out_archive(sample_entries(), kOptions, big, kKey).bytes);
    Tic tic(path.c_str(), false, bytes_of(kKey), static_cast<int>(kKey.size()));
    ASSERT_NE(tic.descriptor(), -1) << tic.read_failure().line();
    EXPECT_EQ(tic.validate(), 0);
    EXPECT_TRUE(tic.validate_streams().ok()) << "every stream matches its entry's MAC";
    const TicToc& toc = tic.get_toc();
    EXPECT_EQ(fields(toc.file_map.at("bin/tool")), (Words{104, 1234, 24, 16, 8, 1, 0, 7, 1}));
    EXPECT_EQ(fields(toc.file_map.at("#client.ctl")), (Words{0, 0, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(fields(toc.file_map.at("doc/readme")), (Words{128, 10, 13, 0, 0, 2, 2, 0, 2}));
    EXPECT_EQ((Words{toc.options.option_map.at("client").bit, toc.options.option_map.at("docs").bit}), (Words{0, 1}));
    EXPECT_EQ(toc.options.description_map.at("docs"), "doc/readme");
    const int fd = tic.seek_file("doc/readme");
    char stream[13];
    ASSERT_EQ(read(fd, stream, sizeof stream), 13);
    EXPECT_EQ(std::string(stream, sizeof stream), "readme stream");
    EXPECT_EQ(tic.bytes_required("docs|client"), 1244u);

    an_archive_inspection seen;
    inspect_archive(path, bytes_of(kKey), static_cast<int>(kKey.size()), seen);
    EXPECT_EQ(seen.swapped, big != kHostIsBigEndian);
    EXPECT_EQ(seen.key, an_archive_key::kProduct) << "the MAC matches under the key given";
    EXPECT_EQ(seen.toc.file_map.size(), 3u);
  }
}

// What the reader loads, the writer lays out again byte for byte: the
// tables and the header of the archive in this machine's byte order.
TEST_F(LaidOutArchiveTest, TheWriterLaysOutTheSameBytes) {
  TempDir dir;
  const std::string path = dir / "a.tic";
  const LaidOutArchive laid = lay_out_archive(sample_entries(), kOptions, kHostIsBigEndian, kKey);
  write_file(path, laid.bytes);
  Tic tic(path.c_str(), false, bytes_of(kKey), static_cast<int>(kKey.size()));
  ASSERT_NE(tic.descriptor(), -1);
  TicHeader header;
  std::string tables;
  ASSERT_TRUE(tic.get_toc().encode_to(&tables, laid.toc_offset, header, true));
  EXPECT_EQ(to_hex(bytes_of(tables), tables.size()), to_hex(bytes_of(laid.bytes) + laid.toc_offset, tables.size()));
  EXPECT_EQ(tables.size(), laid.bytes.size() - laid.toc_offset);
  ASSERT_EQ(tic.compute_mac(static_cast<long long>(header.toc_offset), header.mac, sizeof header.mac), 0);
  std::string head;
  header.encode_to(&head);
  EXPECT_EQ(to_hex(bytes_of(head), head.size()), to_hex(bytes_of(laid.bytes), 104));
}

// Decodes |bytes| in keep-going mode, as dump reads an archive, into |toc|.
std::vector<TicTocDecoder::a_problem> keep_going(const std::string& bytes, TicToc& toc, size_t* strings) {
  ByteSpan in(bytes);
  TicHeader header;
  bool swap;
  EXPECT_TRUE(header.decode_from(&in, &swap).ok());
  TicTocDecoder decoder(toc, header, swap, TicTocDecoder::kKeepGoing);
  for (const auto table : {TicTocDecoder::kStrings, TicTocDecoder::kOptions, TicTocDecoder::kEntries}) {
    ByteSpan rest = ByteSpan(bytes).from(decoder.offset(table));
    decoder.begin(table, rest.size());
    if (decoder.decode(table, &rest)) decoder.finish(table, rest);
  }
  EXPECT_EQ(decoder.entry_records().size(), 3u) << "every entry record is kept, named or not";
  *strings = decoder.strings().size();
  return decoder.problems();
}

// An entry that names no string, and a string table cut within its last
// string: the strict reader stops at each, the keep-going one reads on.
TEST_F(LaidOutArchiveTest, KeepGoingReadsPastWhatStopsTheStrictReader) {
  const LaidOutArchive laid = lay_out_archive(sample_entries(), kOptions, false, kKey);
  std::string unnamed = laid.bytes;
  unnamed[laid.toc_offset + 104 + 96] = 99;  // bin/tool's name index, little-endian
  const std::string cut = laid.bytes.substr(0, laid.bytes.size() - 3);
  const struct {
    std::string bytes;
    const char* strict;
    TicTocDecoder::Table table;
    TicTocDecoder::Fault fault;
    uint64_t record, value;
    size_t problems, files, strings;
  } cases[] = {
      {unnamed, "entry name outside the string table", TicTocDecoder::kEntries, TicTocDecoder::kNameOutside, 1, 99,
       1, 2, 5},
      // The last string, "docs", is cut after its length and one byte; the
      // option it names is kept unnamed, a second problem.
      {cut, "table cut short", TicTocDecoder::kStrings, TicTocDecoder::kCutShort, 4, 4, 2, 3, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.strict);
    TicToc strict;
    ByteSpan in(c.bytes);
    TicHeader header;
    bool swap;
    ASSERT_TRUE(header.decode_from(&in, &swap).ok());
    const Outcome decoded = strict.decode_from(ByteSpan(c.bytes), header, swap);
    EXPECT_FALSE(decoded.ok());
    EXPECT_EQ(decoded.failure().text(), c.strict);
    TicToc toc;
    size_t strings = 0;
    const auto problems = keep_going(c.bytes, toc, &strings);
    ASSERT_EQ(problems.size(), c.problems);
    EXPECT_EQ((Words{problems[0].table, problems[0].fault, problems[0].record, problems[0].value}),
              (Words{c.table, c.fault, c.record, c.value}));
    EXPECT_EQ(toc.file_map.size(), c.files);
    EXPECT_EQ(strings, c.strings);
  }
}

}  // namespace
