// Order in which extraction reads the selected files.
#pragma once

#include <string>

#include "tic/toc.h"

// Orders names by the data offset of their streams, so that the reads of one
// archive only move forward; equal offsets (the first stream of every member
// of a set lies at 104) are ordered by name. A name missing from the table
// orders before nothing.
class TicExtractSorter {
 public:
  explicit TicExtractSorter(const TicToc& toc) : toc_(toc) {}
  bool operator()(const std::string& a, const std::string& b) const;

 private:
  const TicToc& toc_;
};
