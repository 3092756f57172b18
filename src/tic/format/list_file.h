// The list file: the text form of a table of contents.
//
// One line per file, fields separated by ";" (no quoting, no escapes; a
// carriage return before "\n" stays part of the last field):
//   name ; options ; control options ; aux_a ; aux_b ; aux_c
// Options are expressions joined by "|" that define new options in order of
// first appearance; numbers are read like strtoull with base 0 (0x.. hex,
// 0.. octal, else decimal). Columns after the sixth are ignored.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

class CVSRow {
 public:
  // Reads one line and splits it at ";". A ";" ending the line adds no
  // empty field; two in a row give an empty one.
  void readNextRow(std::istream& in);
  // Splits one line (without its "\n") the same way.
  void parse(std::string_view line);

  size_t size() const { return fields_.size(); }
  const std::string& operator[](size_t index) const { return fields_[index]; }

 private:
  std::vector<std::string> fields_;
};

std::istream& operator>>(std::istream& in, CVSRow& row);

// The doubts about a row the reader takes (six fields or more): fields
// after the sixth, a number field that holds no number or text after its
// number, a carriage return ending the line. One phrase each, without the
// line's place: "7 fields; what follows the sixth is ignored".
std::vector<std::string> list_row_doubts(const CVSRow& row);
