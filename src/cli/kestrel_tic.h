// The install command's archive set.
#pragma once

#include <string>

#include "display/progress.h"
#include "tic/archive/multi_tic.h"

// The install command's archive set: drives the progress line and writes one
// log line "mode size name" per file to log_stream (none when it is null).
// The name is shown as printable() renders it, so that no name can end its
// line early and forge the next.
class KestrelTic : public MultiTic {
 public:
  using MultiTic::MultiTic;

  void extraction_progress(const std::string& name, unsigned long long size, unsigned long mode,
                           unsigned long long done, unsigned long long total) override;

  a_progress_reporter* progress = nullptr;
};
