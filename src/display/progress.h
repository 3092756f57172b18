// The progress line that kestrel install and tictool build draw, and the
// mode text of the install log.
//
// One line on standard output, rewritten in place for every file:
//   "%3d%% %s" (percent of the bytes to install, file name), formatted into
//   an 80-byte buffer and so cut at 79 bytes (inside a multi-byte character
//   too), padded with blanks to the previous line's length, ended by a
//   carriage return. The last line is blanked out and ended by "\n".
// Scripts read these bytes, so they are the same whatever standard output
// is: a terminal gets exactly what a pipe gets, and whoever wants no line
// asks for none (install -q). The name is shown as printable() renders it
// (display/message.h): a name cannot end the line or move the cursor.
#pragma once

#include <string>

struct a_progress_reporter {
  unsigned long long total = 0;  // bytes that stand for 100 percent
  unsigned long long done = 0;   // bytes reported so far
  int last_width = 0;            // length of the last line printed

  a_progress_reporter() = default;
  a_progress_reporter(const a_progress_reporter&) = delete;
  a_progress_reporter& operator=(const a_progress_reporter&) = delete;
  // Blanks out and ends the last progress line, if one was printed.
  ~a_progress_reporter();

  // Adds |bytes| and rewrites the line with |name|. A total of 0 shows 100
  // percent; sizes beyond the total show as more than 100.
  void display_progress(const std::string& name, unsigned long long bytes);
};

// The ten-letter text of a file mode, as "ls -l" shows it (-rw-r--r--).
// Returns a static buffer that the next call overwrites.
const char* file_mode_text(unsigned long mode);
