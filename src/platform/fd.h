// File descriptors: ownership and whole-buffer transfers.
//
// Every descriptor the program opens is held by a UniqueFd so that no path
// out of a function leaks it. The read/write helpers retry interrupted and
// partial transfers, so a "short" result always means end of file or error.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/failure.h"

// The size of every buffer that archive data passes through: the blocks the
// stream callbacks hand to libarchive and take from it, the chunks files and
// archives are read in, and the pieces the tables are read in.
constexpr size_t kIoBlockSize = 8192;

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the held descriptor (if any) and takes ownership of |fd|.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Opens |path| for reading when it is a regular file, or a symbolic link to
// one, without waiting on a FIFO or reading a device: the descriptor
// (blocking, close-on-exec), or a failure of kStepOpenRegularFile about
// |path| with the system's reason or "not a regular file".
Result<UniqueFd> open_regular_file(const char* path);

// Reads until |size| bytes have arrived, end of file, or an error.
// Returns the number of bytes read, or -1 when the first read failed.
ssize_t read_full(int fd, void* buffer, size_t size);

// Like read_full, at an absolute offset; the descriptor's position is not used.
ssize_t pread_full(int fd, void* buffer, size_t size, uint64_t offset);

// Writes all |size| bytes unless an error occurs. Returns the number of bytes
// written, or -1 when nothing could be written.
ssize_t write_full(int fd, const void* buffer, size_t size);
ssize_t pwrite_full(int fd, const void* buffer, size_t size, uint64_t offset);

// Seeks to |offset| from the start of the file and reports whether the
// position reached is exactly |offset| (offsets above 2^63 never are).
bool seek_exact(int fd, uint64_t offset);
