// The lock of an install directory.
//
// Every command that changes an installation (install, remove, restore)
// holds it from before it looks at the directory until it is done, so that
// two of them never work on one directory at once: a remove cannot take away
// a file an install has just put in place, two installs cannot back up into
// one backup tree over each other, and a temporary found in the directory is
// never another running install's. A command that finds the lock held says
// once whom it waits for and waits.
//
// The lock is a flock() lock on the install directory itself: it binds every
// process that reaches the directory, in any PID namespace or container,
// needs no file of its own (nothing is added to the install tree or anywhere
// else), and the kernel releases it when its holder ends, however it ends.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "platform/fd.h"
#include "install/install_steps.h"

class InstallLock {
 public:
  InstallLock() = default;
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  // Releases the lock.
  ~InstallLock() = default;

  // Takes the lock of the install directory open as |directory|. When
  // another process holds it, calls |waiting| once with a description of
  // the holder (lock_holder) and waits until it is released. false with
  // |failure| set when the directory cannot be locked (kStepLock).
  bool acquire(int directory, const std::function<void(const std::string& holder)>& waiting, a_failure& failure);

  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};

// Who holds the lock of the directory |directory|, as far as the system
// tells: "process 1234 (kestrel install -d /opt/tarn ...)", or "another
// process" when the holder cannot be seen from here.
std::string lock_holder(int directory);

// Who may still own a temporary found in an install directory.
//
// True when the process |pid| runs, as far as this process can see: one of
// another PID namespace may run unseen, or a new process may have taken the
// number of one that ended.
bool process_runs(pid_t pid);

// True when a directory from |directory| up to the root of the file system
// is locked by another process, or when the system cannot tell: a kestrel
// may be installing there, also one of another PID namespace whose
// temporaries carry process numbers that mean nothing here. The lock this
// process holds, its own install directory's, does not count.
bool locked_at_or_above(int directory);
