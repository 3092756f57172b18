#include "install/install_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// The longest command line a holder is described with.
constexpr size_t kCommandLineLimit = 200;

// The command line of process |pid|, its words joined by blanks; empty when
// it cannot be read.
std::string command_line_of(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string text;
  char c;
  while (text.size() < kCommandLineLimit && in.get(c)) text += c == '\0' ? ' ' : c;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

bool InstallLock::acquire(int directory, const std::function<void(const std::string&)>& waiting,
                          a_failure& failure) {
  // A description of its own, so that the lock is this object's alone.
  UniqueFd fd(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return failure.set(kStepLock);
  int result;
  while ((result = flock(fd.get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result != 0) {
    if (errno != EWOULDBLOCK) return failure.set(kStepLock);
    if (waiting) waiting(lock_holder(fd.get()));
    while ((result = flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) return failure.set(kStepLock);
  }
  fd_ = std::move(fd);
  return true;
}

std::string lock_holder(int directory) {
  struct stat st;
  if (fstat(directory, &st) != 0) return "another process";
  char id[64];
  std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; the lines of those
  // waiting for a lock have "->" after the number.
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream words(line);
    std::string number, kind, advisory, access, device;
    long pid = 0;
    if (!(words >> number >> kind) || kind != "FLOCK") continue;
    if (!(words >> advisory >> access >> pid >> device) || access != "WRITE" || device != id || pid <= 0) continue;
    const std::string command = command_line_of(pid);
    return "process " + std::to_string(pid) + (command.empty() ? "" : " (" + command + ")");
  }
  return "another process";
}
