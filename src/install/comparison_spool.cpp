#include "install/comparison_spool.h"

#include <errno.h>

#include <algorithm>
#include <type_traits>

#include "install/name_spool.h"

namespace {

static_assert(std::is_trivially_copyable<a_compared_file>::value, "comparisons are kept as their bytes");
static_assert(sizeof(a_compared_file) == 24, "no padding is written");

// Entries written, and read back, at once.
constexpr size_t kBlockEntries = 2048;
constexpr size_t kEntrySize = sizeof(a_compared_file);

}  // namespace

ComparisonSpool::ComparisonSpool(const std::string& directory) : fd_(unnamed_temporary(directory)) {
  if (fd_.valid()) block_.reserve(kBlockEntries);
}

void ComparisonSpool::add(const a_compared_file& file) {
  ++count_;
  block_.push_back(file);
  if (fd_.valid() && block_.size() == kBlockEntries) flush();
}

// A temporary that cannot be written takes what it holds back into memory,
// and every entry stays there from then on.
void ComparisonSpool::flush() {
  if (block_.empty()) return;
  const size_t bytes = block_.size() * kEntrySize;
  if (pwrite_full(fd_.get(), block_.data(), bytes, uint64_t{written_} * kEntrySize) == static_cast<ssize_t>(bytes)) {
    written_ += block_.size();
    block_.clear();
    return;
  }
  std::vector<a_compared_file> all(written_);
  const size_t kept = written_ * kEntrySize;
  if (kept != 0 && pread_full(fd_.get(), all.data(), kept, 0) != static_cast<ssize_t>(kept)) {
    // What was written is lost: the reader is told at once.
    lost_ = true;
    all.clear();
  }
  all.insert(all.end(), block_.begin(), block_.end());
  block_ = std::move(all);
  written_ = 0;
  fd_.reset();
}

void ComparisonSpool::rewind() {
  if (!reading_ && fd_.valid()) flush();
  // Once reading from the temporary, the block holds what was read last.
  if (fd_.valid()) block_.clear();
  reading_ = true;
  read_ = 0;
  taken_ = 0;
}

bool ComparisonSpool::next(a_compared_file& file) {
  if (lost_) {
    errno = EIO;
    return false;
  }
  if (taken_ == block_.size()) {
    if (!fd_.valid() || read_ == written_) return false;
    const size_t want = std::min(kBlockEntries, written_ - read_);
    block_.resize(want);
    const ssize_t got = pread_full(fd_.get(), block_.data(), want * kEntrySize, uint64_t{read_} * kEntrySize);
    if (got != static_cast<ssize_t>(want * kEntrySize)) {
      if (got >= 0) errno = EIO;
      block_.clear();
      taken_ = 0;
      return false;
    }
    read_ += want;
    taken_ = 0;
  }
  file = block_[taken_++];
  return true;
}
