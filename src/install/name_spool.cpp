#include "install/name_spool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr size_t kBlockSize = 64 * 1024;

UniqueFd unnamed_in(const std::string& directory) {
  UniqueFd fd(open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.valid()) return fd;
  std::string name = directory + "/.kestrel-spool-XXXXXX";
  fd.reset(mkostemp(&name[0], O_CLOEXEC));
  if (fd.valid()) unlink(name.c_str());
  return fd;
}

}  // namespace

UniqueFd unnamed_temporary(const std::string& directory) {
  UniqueFd fd = unnamed_in(directory);
  if (fd.valid()) return fd;
  const char* tmp = getenv("TMPDIR");
  return unnamed_in(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp");
}

NameSpool::NameSpool(const std::string& directory) : fd_(unnamed_temporary(directory)) {}

// Each name is its length (four bytes) and its bytes. A temporary that
// cannot be written takes every name into memory from then on.
void NameSpool::add(const std::string& name) {
  ++count_;
  if (!fd_.valid()) return memory_.push_back(name);
  const uint32_t length = static_cast<uint32_t>(name.size());
  block_.append(reinterpret_cast<const char*>(&length), sizeof length);
  block_ += name;
  if (block_.size() < kBlockSize) return;
  if (pwrite_full(fd_.get(), block_.data(), block_.size(), written_) == static_cast<ssize_t>(block_.size())) {
    written_ += block_.size();
    block_.clear();
    return;
  }
  // What was written is read back into memory.
  std::string text(written_, '\0');
  if (pread_full(fd_.get(), &text[0], text.size(), 0) != static_cast<ssize_t>(text.size())) text.clear();
  block_.insert(0, text);
  fd_.reset();
  for (size_t at = 0; at + sizeof length <= block_.size();) {
    uint32_t n;
    std::memcpy(&n, block_.data() + at, sizeof n);
    memory_.push_back(block_.substr(at + sizeof n, n));
    at += sizeof n + n;
  }
  block_.clear();
}

void NameSpool::rewind() {
  if (fd_.valid() && !block_.empty()) {
    if (pwrite_full(fd_.get(), block_.data(), block_.size(), written_) == static_cast<ssize_t>(block_.size()))
      written_ += block_.size();
  }
  block_.clear();
  read_at_ = 0;
  taken_ = 0;
  read_count_ = 0;
}

// Keeps in block_ (from taken_) at least the next name, when there is one.
bool NameSpool::fill() {
  block_.erase(0, taken_);
  taken_ = 0;
  const size_t want = kBlockSize;
  const size_t have = block_.size();
  if (read_at_ >= written_) return false;
  block_.resize(have + want);
  const ssize_t got = pread_full(fd_.get(), &block_[have], want, read_at_);
  block_.resize(have + (got > 0 ? static_cast<size_t>(got) : 0));
  if (got > 0) read_at_ += static_cast<uint64_t>(got);
  return got > 0;
}

bool NameSpool::next(std::string& name) {
  if (read_count_ >= count_) return false;
  if (!fd_.valid()) {
    name = memory_[read_count_++];
    return true;
  }
  uint32_t length = 0;
  while (block_.size() - taken_ < sizeof length)
    if (!fill()) return false;
  std::memcpy(&length, block_.data() + taken_, sizeof length);
  while (block_.size() - taken_ < sizeof length + length)
    if (!fill()) return false;
  name.assign(block_, taken_ + sizeof length, length);
  taken_ += sizeof length + length;
  ++read_count_;
  return true;
}
