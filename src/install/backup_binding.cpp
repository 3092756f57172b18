#include "install/backup_binding.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include "install/install_directory.h"
#include "install/install_steps.h"
#include "install/record_store.h"
#include "platform/fd.h"

namespace {

constexpr const char kOwner[] = "directory";
constexpr const char kRecord[] = "record.json";
// What the owner file may hold: a path and a newline.
constexpr size_t kOwnerLimit = PATH_MAX + 1;
// What a kept record may hold: far beyond any real one, short of a disk.
constexpr uint64_t kRecordLimit = uint64_t(1) << 34;

UniqueFd open_own(int root, bool create) {
  if (create && mkdirat(root, kBackupOwnDirectory, 0700) != 0 && errno != EEXIST) return UniqueFd();
  return UniqueFd(openat(root, kBackupOwnDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Writes |name| in |own| whole or not at all.
Outcome write_whole(int own, const char* name, const a_text_fill& fill) {
  const std::string temporary = std::string(InstallDirectory::kTemporaryPrefix) + name;
  UniqueFd fd(openat(own, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return failure_of(kStepBackupMarker, kBackupOwnDirectory);
  bool written = true;
  const Outcome filled = fill([&](const std::string& text) {
    written = written && write_full(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  });
  if (!filled) {
    unlinkat(own, temporary.c_str(), 0);
    return filled;
  }
  if (!written || fsync(fd.get()) != 0 || ::close(fd.release()) != 0 || renameat(own, temporary.c_str(), own, name) != 0) {
    const a_failure failure = failure_of(kStepBackupMarker, kBackupOwnDirectory);
    unlinkat(own, temporary.c_str(), 0);
    return failure;
  }
  fsync(own);
  return Outcome();
}

// |name| in |own| opened for reading, when it is a regular file of at most
// |limit| bytes that no one else may have written; no value and no
// failure when it is not there.
Result<UniqueFd> open_own_file(int own, const char* name, uint64_t limit) {
  UniqueFd fd(openat(own, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd.valid()) return errno == ENOENT ? a_failure{} : failure_of(kStepRestore, kBackupOwnDirectory);
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
    errno = 0;
    return failure_of(kStepRestore, kBackupOwnDirectory, std::string("not the backup tree's own ") + name);
  }
  // What others may have written says nothing a command can trust.
  if (const std::string problem = state_owner_problem(st); !problem.empty()) {
    errno = 0;
    return failure_of(kStepUnsafeRecord, std::string(kBackupOwnDirectory) + "/" + name, problem);
  }
  return fd;
}

// The whole of |name| in |own| (open_own_file).
Result<std::string> read_whole(int own, const char* name, uint64_t limit) {
  Result<UniqueFd> fd = open_own_file(own, name, limit);
  if (!fd) return fd.failure();
  struct stat st;
  if (fstat(fd->get(), &st) != 0) return failure_of(kStepRestore, kBackupOwnDirectory);
  std::string text(static_cast<size_t>(st.st_size), '\0');
  if (read_full(fd->get(), &text[0], text.size()) != static_cast<ssize_t>(text.size()))
    return failure_of(kStepRestore, kBackupOwnDirectory);
  return text;
}

}  // namespace

Result<std::string> backup_tree_owner(int root) {
  UniqueFd own = open_own(root, false);
  if (!own.valid()) return errno == ENOENT ? std::string() : Result<std::string>(failure_of(kStepRestore, kBackupOwnDirectory));
  Result<std::string> text = read_whole(own.get(), kOwner, kOwnerLimit);
  if (!text) return text.failure().failed() ? text : Result<std::string>(std::string());
  if (text->empty() || text->back() != '\n') {
    errno = 0;
    return failure_of(kStepRestore, kBackupOwnDirectory, "not the backup tree's own directory");
  }
  text->pop_back();
  return text;
}

Outcome bind_backup_tree(int root, const std::string& directory, const a_text_fill& before) {
  const Result<std::string> owner = backup_tree_owner(root);
  if (!owner) return owner.failure();
  if (!owner->empty() && owner.value() != directory) {
    errno = 0;
    return failure_of(kStepBackupMove, "", "backup directory belongs to " + owner.value());
  }
  UniqueFd own = open_own(root, true);
  if (!own.valid()) return failure_of(kStepBackupMarker, kBackupOwnDirectory);
  if (owner->empty())
    if (Outcome written = write_whole(own.get(), kOwner, [&](const auto& put) { put(directory + "\n"); return Outcome(); }); !written)
      return written;
  struct stat st;
  // The oldest state stays: what the first run into the tree found.
  if (!before || fstatat(own.get(), kRecord, &st, AT_SYMLINK_NOFOLLOW) == 0) return Outcome();
  return write_whole(own.get(), kRecord, before);
}

Result<UniqueFd> kept_record(int root) {
  UniqueFd own = open_own(root, false);
  if (!own.valid()) return errno == ENOENT ? a_failure{} : failure_of(kStepRestore, kBackupOwnDirectory);
  return open_own_file(own.get(), kRecord, kRecordLimit);
}

std::string kept_record_name() { return std::string(kBackupOwnDirectory) + "/" + kRecord; }

void unbind_backup_tree(int root) {
  {
    UniqueFd own = open_own(root, false);
    if (!own.valid()) return;
    for (const char* name : {kRecord, kOwner}) {
      unlinkat(own.get(), name, 0);
      unlinkat(own.get(), (std::string(InstallDirectory::kTemporaryPrefix) + name).c_str(), 0);
    }
  }
  unlinkat(root, kBackupOwnDirectory, AT_REMOVEDIR);
}
