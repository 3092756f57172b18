#include "platform/fd.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/platform_steps.h"

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

// The one transfer loop: calls |step(done)|, which moves bytes starting
// |done| bytes into the buffer, until |size| bytes have moved, a step moves
// nothing (end of file) or a step fails for a reason other than an
// interruption. The bytes moved, or -1 when the first step failed.
template <typename Step>
ssize_t transfer_all(size_t size, Step step) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<ssize_t>(done);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool offset_fits(uint64_t offset) { return offset <= static_cast<uint64_t>(INT64_MAX); }

}  // namespace

Result<UniqueFd> open_regular_file(const char* path) {
  // Non-blocking, so that opening a FIFO with no writer returns at once.
  UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid() || fstat(fd.get(), &st) != 0) return failure_of(kStepOpenRegularFile, path);
  if (!S_ISREG(st.st_mode)) return refusal_of(kStepOpenRegularFile, path, "not a regular file");
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return failure_of(kStepOpenRegularFile, path);
  return Result<UniqueFd>(std::move(fd));
}

ssize_t read_full(int fd, void* buffer, size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  return transfer_all(size, [&](size_t done) { return ::read(fd, out + done, size - done); });
}

ssize_t pread_full(int fd, void* buffer, size_t size, uint64_t offset) {
  if (!offset_fits(offset)) return -1;
  auto* out = static_cast<unsigned char*>(buffer);
  return transfer_all(size, [&](size_t done) {
    return ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
  });
}

ssize_t write_full(int fd, const void* buffer, size_t size) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  return transfer_all(size, [&](size_t done) { return ::write(fd, in + done, size - done); });
}

ssize_t pwrite_full(int fd, const void* buffer, size_t size, uint64_t offset) {
  if (!offset_fits(offset)) return -1;
  const auto* in = static_cast<const unsigned char*>(buffer);
  return transfer_all(size, [&](size_t done) {
    return ::pwrite(fd, in + done, size - done, static_cast<off_t>(offset + done));
  });
}

bool seek_exact(int fd, uint64_t offset) {
  if (!offset_fits(offset)) return false;
  off_t reached = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET);
  return reached >= 0 && static_cast<uint64_t>(reached) == offset;
}
