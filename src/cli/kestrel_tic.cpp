#include "cli/kestrel_tic.h"

#include <stdio.h>

#include "display/message.h"

void KestrelTic::extraction_progress(const std::string& name, unsigned long long size, unsigned long mode,
                                     unsigned long long, unsigned long long) {
  if (progress != nullptr) progress->display_progress(name, size);
  if (log_stream != nullptr) {
    fprintf(log_stream, "%s %10llu %s\n", file_mode_text(mode), size, printable(name).c_str());
    fflush(log_stream);
  }
}
