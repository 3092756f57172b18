#include "install/placed_files.h"

#include <unistd.h>

#include <type_traits>

#include "install/name_spool.h"

namespace {

static_assert(std::is_trivially_copyable<a_recorded_file>::value, "entries are kept as their bytes");

// Entries written, and read back, at once.
constexpr size_t kBlockEntries = 1024;
constexpr size_t kEntrySize = sizeof(a_recorded_file);

}  // namespace

void PlacedFiles::open(const std::string& directory, size_t count) {
  place_.assign(count, kNone);
  fd_ = unnamed_temporary(directory);
  block_.reserve(fd_.valid() ? kBlockEntries : 0);
}

void PlacedFiles::add(uint32_t rank, const a_recorded_file& file) {
  if (rank >= place_.size()) return;
  place_[rank] = added_++;
  if (!fd_.valid() || failed_) {
    memory_.push_back(file);
    return;
  }
  block_.push_back(file);
  if (block_.size() == kBlockEntries) flush();
}

// A temporary that cannot be written any more leaves every entry in memory.
void PlacedFiles::flush() {
  if (block_.empty()) return;
  const size_t bytes = block_.size() * kEntrySize;
  if (pwrite(fd_.get(), block_.data(), bytes, static_cast<off_t>(uint64_t(flushed_) * kEntrySize)) ==
      static_cast<ssize_t>(bytes)) {
    flushed_ += static_cast<uint32_t>(block_.size());
    block_.clear();
    return;
  }
  failed_ = true;
  memory_.resize(flushed_);
  for (uint32_t i = 0; i < flushed_; ++i)
    if (pread(fd_.get(), &memory_[i], kEntrySize, static_cast<off_t>(uint64_t(i) * kEntrySize)) !=
        static_cast<ssize_t>(kEntrySize))
      memory_[i] = a_recorded_file{};
  memory_.insert(memory_.end(), block_.begin(), block_.end());
  block_.clear();
  fd_.reset();
}

bool PlacedFiles::get(uint32_t rank, a_recorded_file& file) {
  if (rank >= place_.size() || place_[rank] == kNone) return false;
  const uint32_t at = place_[rank];
  if (!fd_.valid() || failed_) {
    file = memory_[at];
    return true;
  }
  flush();
  if (!fd_.valid()) return get(rank, file);
  if (read_from_ == UINT64_MAX || at < read_from_ || at >= read_from_ + read_.size()) {
    read_from_ = at - at % kBlockEntries;
    read_.resize(kBlockEntries);
    const ssize_t got = pread(fd_.get(), read_.data(), kBlockEntries * kEntrySize,
                              static_cast<off_t>(read_from_ * kEntrySize));
    read_.resize(got > 0 ? static_cast<size_t>(got) / kEntrySize : 0);
    if (at >= read_from_ + read_.size()) return false;
  }
  file = read_[at - read_from_];
  return true;
}
