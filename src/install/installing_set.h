// The archive set an install or upgrade reads: each file about to be put in
// place is told to the installation's events (the progress line) and
// written to the install log.
#pragma once

#include <string>
#include <vector>

#include "install/install_log.h"
#include "install/installation.h"
#include "tic/archive/multi_tic.h"

class InstallingSet : public MultiTic {
 public:
  InstallingSet(const std::vector<std::string>& archives, const unsigned char* key, int key_length,
                InstallationEvents& events, InstallLog& log)
      : MultiTic(archives, true, key, key_length), events_(events), log_(log) {}

  void extraction_progress(const std::string& name, unsigned long long size, unsigned long mode,
                           unsigned long long, unsigned long long) override {
    events_.file(name, size);
    log_.line(name, size, mode);
  }

 private:
  InstallationEvents& events_;
  InstallLog& log_;
};
