// Fuzz support: bytes put into an anonymous in-memory file, so that the file
// readers can be run on exactly the bytes the decoders see.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/fd.h"

class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
    if (!fd_.valid()) {
      std::perror("memfd_create");
      std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_.get());
  }

  // Replaces the file's contents with |size| bytes from |data|.
  void assign(const void* data, size_t size) {
    if (::ftruncate(fd_.get(), 0) != 0 ||
        (size > 0 && pwrite_full(fd_.get(), data, size, 0) != static_cast<ssize_t>(size))) {
      std::perror("memory file");
      std::abort();
    }
  }

  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
  std::string path_;
};

// Aborts with |what| when |condition| does not hold: a finding.
#define FUZZ_CHECK(condition, what)                                         \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: %s: %s\n", __FILE__, __LINE__, #condition, what); \
      std::abort();                                                         \
    }                                                                       \
  } while (0)
