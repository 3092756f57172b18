#include "install/install_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

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

// One lock /proc/locks shows held (not waited for) by flock() for writing:
// the install lock kestrel takes.
struct a_held_lock {
  long pid = 0;  // 0 for a holder of a PID namespace this one cannot see
  dev_t device = 0;
  ino_t inode = 0;
};

// Every such lock; false when /proc/locks cannot be read.
bool held_locks(std::vector<a_held_lock>& out) {
  // "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF", the device's major
  // and minor numbers in hex; the lines of those waiting for a lock have
  // "->" after the number.
  std::ifstream locks("/proc/locks");
  if (!locks) return false;
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream words(line);
    std::string number, kind, advisory, access, device;
    a_held_lock lock;
    if (!(words >> number >> kind) || kind != "FLOCK") continue;
    if (!(words >> advisory >> access >> lock.pid >> device) || access != "WRITE" || lock.pid < 0) continue;
    unsigned major_number = 0, minor_number = 0;
    unsigned long long inode = 0;
    if (std::sscanf(device.c_str(), "%x:%x:%llu", &major_number, &minor_number, &inode) != 3) continue;
    lock.device = makedev(major_number, minor_number);
    lock.inode = static_cast<ino_t>(inode);
    out.push_back(lock);
  }
  return true;
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

bool process_runs(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::string lock_holder(int directory) {
  struct stat st;
  std::vector<a_held_lock> locks;
  if (fstat(directory, &st) != 0 || !held_locks(locks)) return "another process";
  for (const a_held_lock& lock : locks) {
    if (lock.device != st.st_dev || lock.inode != st.st_ino || lock.pid <= 0) continue;
    const std::string command = command_line_of(lock.pid);
    return "process " + std::to_string(lock.pid) + (command.empty() ? "" : " (" + command + ")");
  }
  return "another process";
}

bool locked_at_or_above(int directory) {
  std::vector<a_held_lock> locks;
  if (!held_locks(locks)) return true;
  // The lock this process holds is the caller's.
  const long self = getpid();
  locks.erase(std::remove_if(locks.begin(), locks.end(), [self](const a_held_lock& l) { return l.pid == self; }),
              locks.end());
  if (locks.empty()) return false;
  UniqueFd at(openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (;;) {
    struct stat st, above;
    if (!at.valid() || fstat(at.get(), &st) != 0) return true;
    for (const a_held_lock& lock : locks)
      if (lock.device == st.st_dev && lock.inode == st.st_ino) return true;
    UniqueFd up(openat(at.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!up.valid() || fstat(up.get(), &above) != 0) return true;
    if (above.st_dev == st.st_dev && above.st_ino == st.st_ino) return false;  // the root directory
    at = std::move(up);
  }
}
