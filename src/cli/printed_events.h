// What kestrel's commands print of an installation (install/installation.h)
// as it goes: each failure as one line on standard error,
//   kestrel: <command>: <subject>: <cause>
// the progress line of install and upgrade, and the changed files kept.
#pragma once

#include <memory>
#include <string>

#include "install/installation.h"

struct a_progress_reporter;

class PrintedEvents : public InstallationEvents {
 public:
  // |progress|: the progress line is drawn on standard output.
  PrintedEvents(const char* command, bool progress = false);
  ~PrintedEvents() override;

  // The install directory as named, for the lock's note.
  void set_where(const std::string& where) { where_ = where; }

  void waiting(const std::string& holder) override;
  void failed(const a_failure& failure) override { print(failure); }
  void noted(const a_failure& failure) override { print(failure); }
  void begin(unsigned long long total) override;
  void file(const std::string& name, unsigned long long size) override;
  void end() override;
  void kept_changed(const std::string& path, bool beside) override;

 private:
  void print(const a_failure& failure) const;

  const char* command_;
  bool progress_;
  std::string where_ = ".";
  std::unique_ptr<a_progress_reporter> reporter_;
};

// The check of the archives' signatures (sign/signature_check.h) as the
// installation asks for it.
class SignedArchives : public ArchiveCheck {
 public:
  SignedArchives();
  ~SignedArchives() override;
  Outcome start(Tic& archives) override;
  Outcome finish() override;

 private:
  struct a_check;
  std::unique_ptr<a_check> check_;
};
