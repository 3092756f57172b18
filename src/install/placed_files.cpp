#include "install/placed_files.h"

void PlacedFiles::open(const std::string& directory, size_t count) {
  place_.assign(count, kNone);
  entries_.open(directory);
}

void PlacedFiles::add(uint32_t rank, const a_recorded_file& file) {
  if (rank >= place_.size()) return;
  place_[rank] = static_cast<uint32_t>(entries_.size());
  entries_.add(file);
}

bool PlacedFiles::get(uint32_t rank, a_recorded_file& file) {
  return rank < place_.size() && place_[rank] != kNone && entries_.get(place_[rank], file);
}
