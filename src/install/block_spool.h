// Entries of one fixed size added one after another and read back by their
// place, from an unnamed temporary file a block at a time: what a command
// must keep of each of a million files until it ends, held on disk rather
// than in memory. Where no temporary can be made, or it can no longer be
// written, the entries are held in memory.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "install/name_spool.h"
#include "platform/fd.h"

template <typename T>
class BlockSpool {
  static_assert(std::is_trivially_copyable<T>::value, "entries are kept as their bytes");

 public:
  // Entries written, and read back, at once.
  static constexpr size_t kBlockEntries = 1024;

  // The temporary goes in |directory| (or the system's temporary directory).
  void open(const std::string& directory) { fd_ = unnamed_temporary(directory); }
  bool in_memory() const { return !fd_.valid(); }

  void add(const T& entry) {
    ++added_;
    if (!fd_.valid()) return memory_.push_back(entry);
    block_.push_back(entry);
    if (block_.size() == kBlockEntries) flush();
  }
  size_t size() const { return added_; }

  // The entry added |at|-th (from 0): false when there is none, or when
  // what was written can no longer be read (errno tells why).
  bool get(size_t at, T& entry) {
    if (lost_) {
      errno = EIO;
      return false;
    }
    if (at >= added_) return false;
    if (at >= written_) flush();
    if (!fd_.valid()) {
      entry = memory_[at];
      return true;
    }
    if (at < read_from_ || at >= read_from_ + read_.size()) {
      read_from_ = at - at % kBlockEntries;
      read_.resize(std::min(kBlockEntries, written_ - read_from_));
      const size_t bytes = read_.size() * sizeof(T);
      const ssize_t got = pread_full(fd_.get(), read_.data(), bytes, uint64_t{read_from_} * sizeof(T));
      if (got != static_cast<ssize_t>(bytes)) {
        if (got >= 0) errno = EIO;
        read_.clear();
        return false;
      }
    }
    entry = read_[at - read_from_];
    return true;
  }

 private:
  // Writes the entries added since the last block; a temporary that cannot
  // take them gives what it holds back to memory, where every entry stays.
  void flush() {
    if (block_.empty()) return;
    const size_t bytes = block_.size() * sizeof(T);
    if (pwrite_full(fd_.get(), block_.data(), bytes, uint64_t{written_} * sizeof(T)) == static_cast<ssize_t>(bytes)) {
      written_ += block_.size();
      block_.clear();
      return;
    }
    memory_.resize(written_);
    const size_t kept = written_ * sizeof(T);
    // What was written and is lost is told to the reader at once.
    if (kept != 0 && pread_full(fd_.get(), memory_.data(), kept, 0) != static_cast<ssize_t>(kept)) lost_ = true;
    memory_.insert(memory_.end(), block_.begin(), block_.end());
    block_.clear();
    written_ = 0;
    fd_.reset();
  }

  UniqueFd fd_;
  std::vector<T> block_;   // added and not yet written
  std::vector<T> memory_;  // every entry, without a temporary
  std::vector<T> read_;    // the block read last
  size_t read_from_ = 0;   // its first entry
  size_t added_ = 0;
  size_t written_ = 0;  // entries in the temporary
  bool lost_ = false;
};
