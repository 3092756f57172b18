#include "platform/fd.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

ssize_t read_full(int fd, void* buffer, size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<ssize_t>(done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t pread_full(int fd, void* buffer, size_t size, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  auto* out = static_cast<unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<ssize_t>(done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t write_full(int fd, const void* buffer, size_t size) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<ssize_t>(done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t pwrite_full(int fd, const void* buffer, size_t size, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
  const auto* in = static_cast<const unsigned char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<ssize_t>(done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool seek_exact(int fd, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  off_t reached = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
  return reached >= 0 && static_cast<uint64_t>(reached) == offset;
}

bool FdReader::seek(uint64_t offset) {
  start_ = end_ = 0;
  return seek_exact(fd_, offset);
}

bool FdReader::read_exact(void* out, size_t size) {
  auto* dst = static_cast<unsigned char*>(out);
  while (size > 0) {
    if (start_ == end_) {
      // Large requests bypass the buffer.
      if (size >= sizeof buffer_) return read_full(fd_, dst, size) == static_cast<ssize_t>(size);
      ssize_t n = read_full(fd_, buffer_, sizeof buffer_);
      if (n <= 0) return false;
      start_ = 0;
      end_ = static_cast<size_t>(n);
    }
    size_t take = end_ - start_ < size ? end_ - start_ : size;
    std::memcpy(dst, buffer_ + start_, take);
    start_ += take;
    dst += take;
    size -= take;
  }
  return true;
}
