#include "tic/list_file.h"

#include <stdio.h>

#include <cstdlib>
#include <fstream>

#include "tic/split.h"
#include "tic/toc.h"

void CVSRow::readNextRow(std::istream& in) {
  std::string line;
  std::getline(in, line);
  fields_.clear();
  split(line, ";", fields_);
  if (fields_.size() > 1 && fields_.back().empty()) fields_.pop_back();
}

std::istream& operator>>(std::istream& in, CVSRow& row) {
  row.readNextRow(in);
  return in;
}

namespace {

constexpr size_t kColumns = 6;

unsigned long long number_of(const std::string& field) { return std::strtoull(field.c_str(), nullptr, 0); }

}  // namespace

bool TicToc::read(const char* path) {
  std::ifstream in(path);
  if (!in) {
    // A list that cannot be opened is an empty list.
    file_map.clear();
    options.option_map.clear();
    return true;
  }
  return read(in);
}

bool TicToc::read(std::istream& in) {
  file_map.clear();
  options.option_map.clear();
  CVSRow row;
  while (in >> row) {
    if (row.size() < kColumns) {
      fprintf(stderr, "load: invalid entry found: %s\n", row[0].c_str());
      return false;
    }
    TicTocEntry entry;
    entry.mask = options.option_mask(row[1]);
    entry.control_mask = options.option_mask(row[2]);
    entry.aux_a = number_of(row[3]);
    entry.aux_b = number_of(row[4]);
    entry.aux_c = number_of(row[5]);
    if (!file_map.emplace(row[0], entry).second) {
      fprintf(stderr, "load: duplicate file found: %s\n", row[0].c_str());
      return false;
    }
  }
  return true;
}
