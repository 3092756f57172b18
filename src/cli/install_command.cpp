#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "cli/commands.h"
#include "cli/kestrel_tic.h"
#include "crypto/archive_key.h"
#include "platform/unique.h"

// Installs the selected files into the install directory. Every archive is
// checked before anything is written; the log ends with "ok" exactly when
// the installation succeeded.
int CommandInstall::run() {
  if (args.empty()) {
    usage();
    return -1;
  }
  // Relative archive, log and backup names, and the extracted files, are
  // all resolved inside the install directory from here on.
  if (!directory.empty() && chdir(directory.c_str()) != 0) return -1;

  Unique<FILE, fclose> log;
  if (!log_file.empty()) {
    log.reset(fopen(log_file.c_str(), "w"));
    if (!log) return -1;
  }

  int result = -1;
  // The reporter outlives the archive set: its closing line comes last.
  a_progress_reporter reporter;
  {
    const ArchiveKey key;
    KestrelTic set(args, true, key.bytes(), key.length());
    set.log_stream = log.get();
    if (set.validate() == 0) {
      reporter.total = set.bytes_required(options);
      set.progress = &reporter;
      if (set.extract(options, backup_dir) != -1) {
        result = 0;
        if (log) fputs("ok\n", log.get());
      }
    }
    log.reset();
    set.log_stream = nullptr;
    set.progress = nullptr;
  }
  return result;
}
