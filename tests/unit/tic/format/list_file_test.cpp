// The list file: columns, numbers, option numbering and the two messages;
// the writer of the text form. tictool shows the message for a short line
// end to end.
#include <gtest/gtest.h>

#include <tuple>

#include "support/temp_dir.h"
#include "tic/format/toc.h"

namespace {

// An entry's mask, control mask, aux_a, aux_b, aux_c and data offset.
using Words = std::vector<uint64_t>;
Words words(const TicTocEntry& e) { return {e.mask, e.control_mask, e.aux_a, e.aux_b, e.aux_c, e.data_offset}; }

// What the list reader says of a refused line after "load: ".
std::string load_message(const a_failure& refusal) { return std::string(refusal.step.phrase) + ": " + refusal.subject; }

std::map<std::string, uint64_t> bits_of(const TicToc& toc) {
  std::map<std::string, uint64_t> bits;
  for (const auto& [name, option] : toc.options.option_map) bits[name] = option.bit;
  return bits;
}

TEST(ListFile, ReadsEveryColumnAndNumbersOptionsByFirstAppearance) {
  TicToc toc;
  // The last line has no "\n".
  ASSERT_TRUE(toc.decode_list("bin/tool;c;a;0x10;010;7\nempty;;;;;;extra\nlast;b|c;*;12abc;0;0").ok());
  // "*" is an ordinary name here, not "every option".
  EXPECT_EQ(bits_of(toc), (std::map<std::string, uint64_t>{{"c", 0}, {"a", 1}, {"b", 2}, {"*", 3}}));
  EXPECT_EQ(words(toc.file_map.at("bin/tool")), (Words{1, 2, 16, 8, 7, 0}));
  EXPECT_EQ(words(toc.file_map.at("empty")), (Words{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(words(toc.file_map.at("last")), (Words{5, 8, 12, 0, 0, 0}));
}

TEST(ListFile, ABadLineFailsTheListWithItsMessage) {
  const std::tuple<const char*, const char*, const char*, size_t> cases[] = {
      // A ";" at the end adds no field.
      {"t;a;;1;2;\n", "invalid entry found: t", "expected 6 fields separated by ';', found 5", 0},
      {"a;o;;0;0;0\n\nb;o;;0;0;0\n", "invalid entry found: ", "empty line; expected 6 fields separated by ';'", 1},
      {"a;x;;0;0;0\na;y;;0;0;0\n", "duplicate file found: a", "\"a\" is listed on an earlier line", 1},
  };
  for (const auto& [text, message, cause, before] : cases) {
    TicToc toc;
    const Outcome listed = toc.decode_list(text);
    EXPECT_FALSE(listed.ok()) << text;
    EXPECT_EQ(load_message(listed.failure()), message);
    EXPECT_EQ(listed.failure().text(), cause);
    EXPECT_EQ(toc.file_map.size(), before) << "the lines before stay loaded";
  }
}

// A line taken with something that was probably not meant: one doubt per
// thing, and none for numbers in any base or an empty field (a 0).
TEST(ListFile, ALineTakenWithWhatWasProbablyNotMeantGetsADoubtPerThing) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"a;o;;0x10;;010", {}},
      {"a;o;;0;0;0;extra", {"7 fields; what follows the sixth is ignored"}},
      {"a;o;;zz;0;0", {"field 4 (aux_a) \"zz\" is not a number; it is read as 0"}},
      {"a;o;;0;12abc;0", {"field 5 (aux_b) \"12abc\" has text after its number; it is read as 12"}},
      {"a;o;;0;0;-1", {"field 6 (aux_c) \"-1\" is negative; it is read as 18446744073709551615"}},
      {"a;o;;99999999999999999999;0;0",
       {"field 4 (aux_a) \"99999999999999999999\" is too large; it is read as 18446744073709551615"}},
      {"a;o;;0;0;0\r", {"the line ends in a carriage return, which stays part of its last field (DOS line ends?)"}},
  };
  for (const auto& [line, doubts] : cases) {
    TicToc toc;
    std::vector<std::string> said{"stale"};
    ASSERT_TRUE(toc.decode_list_line(line, &said).ok()) << line;
    EXPECT_EQ(said, doubts) << line;
  }
}

// The file reader: the decoder's message after "load: ", and no file an empty list.
TEST(ListFile, TheFileReaderPrintsTheMessageAndTakesNoFileForAnEmptyList) {
  TempDir dir;
  write_file(dir / "list", "a;x;;0;0;0\na;y;;0;0;0\n");
  TicToc toc;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(toc.read((dir / "list").c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "load: duplicate file found: a\n");
  EXPECT_TRUE(toc.read((dir / "absent").c_str())) << "no file: an empty list";
  EXPECT_TRUE(toc.file_map.empty() && toc.options.option_map.empty());
}

// Lines in name order would name "late" (bit 2) before "early" (bit 1), and
// "o32" (bit 32, the value of bit 0) would be spelled by "a" alone if its
// line came first: lines that define options go first.
TEST(ListFileWriter, WritesWhatReadsBackTheSame) {
  std::string text = "z;a|early;;1;2;3\nb;late|a;*;0;0;18446744073709551615\nc;;;0;0;0\n";
  for (int bit = 4; bit < 32; ++bit) text += "o" + std::to_string(bit) + ";o" + std::to_string(bit) + ";;0;0;0\n";
  text += "0;o32;;0;0;0\n";
  TicToc toc;
  ASSERT_TRUE(toc.decode_list(text).ok());
  std::string written;
  const Outcome encoded = toc.encode_list(&written);
  ASSERT_TRUE(encoded.ok()) << encoded.failure().line();
  EXPECT_EQ(written.substr(0, 53), "z;a|early;;1;2;3\nb;a|late;*;0;0;18446744073709551615\n");
  EXPECT_GT(written.find("\n0;a|o32;"), written.find("\no31;")) << written;
  TicToc back;
  ASSERT_TRUE(back.decode_list(written).ok());
  EXPECT_EQ(bits_of(back), bits_of(toc));
  for (const auto& [name, entry] : toc.file_map) EXPECT_EQ(words(back.file_map.at(name)), words(entry)) << name;
}

TEST(ListFileWriter, RefusesATableTheTextCannotCarry) {
  using Change = void (*)(TicToc&);
  const std::pair<Change, const char*> cases[] = {
      {[](TicToc& t) { t.file_map["a;b"]; }, "file name not writable: a;b"},
      {[](TicToc& t) { t.file_map["a\nb"]; }, "file name not writable: a\nb"},
      {[](TicToc& t) { t.file_map["f"].data_offset = 104; }, "file with stream fields: f"},
      {[](TicToc& t) { t.file_map["f"].mac[0] = 1; }, "file with stream fields: f"},
      {[](TicToc& t) { t.options.option_map["a|b"].bit = 1; }, "option name not writable: a|b"},
      {[](TicToc& t) { t.options.option_map["x"].bit = 5; }, "option bits not numbered by appearance: x"},
      {[](TicToc& t) { t.options.option_map["x"].bit = 1; }, "option in no entry: x"},
      {[](TicToc& t) { t.options.option_map["o"].description_index = 1; }, "option with string indices: o"},
      // The default mask, all ones, is more than option "o" spells.
      {[](TicToc& t) { t.file_map["f"].mask = ~0ULL; }, "masks not spelled by options: f"},
  };
  for (const auto& [change, reason] : cases) {
    TicToc toc;
    toc.options.option_mask("o");
    toc.file_map["f"].mask = 1;
    change(toc);
    std::string written = "kept";
    const Outcome encoded = toc.encode_list(&written);
    EXPECT_FALSE(encoded.ok()) << reason;
    EXPECT_EQ(encoded.failure().cause + ": " + encoded.failure().subject, reason);
    EXPECT_EQ(written, "kept") << "nothing is written";
  }
}

}  // namespace
