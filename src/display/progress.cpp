#include "display/progress.h"

#include <stdio.h>
#include <string.h>

#include "display/message.h"

namespace {

// The buffer the line is formatted into: 79 bytes and the terminating NUL.
constexpr size_t kLineBuffer = 80;

}  // namespace

a_progress_reporter::~a_progress_reporter() {
  if (last_width >= 1) printf("%-*s\n", last_width, " ");
}

void a_progress_reporter::display_progress(const std::string& raw_name, unsigned long long bytes) {
  const std::string name = printable(raw_name);
  done += bytes;
  const int percent = total == 0 ? 100 : static_cast<int>(static_cast<unsigned>(done * 100 / total));
  char line[kLineBuffer];
  snprintf(line, sizeof line, "%3d%% %s", percent, name.c_str());
  printf("%-*s\r", last_width, line);
  fflush(stdout);
  last_width = static_cast<int>(strlen(line));
}

const char* file_mode_text(unsigned long mode) {
  static char text[11];
  switch (mode & 0xF000) {
    case 0x4000: text[0] = 'd'; break;
    case 0xA000:
    case 0x2000: text[0] = 'l'; break;
    case 0xC000: text[0] = 's'; break;
    default: text[0] = '-'; break;
  }
  // Read, write, then execute with its special bit: lower case when the
  // execute bit is also set, upper case (or 'l' for set-group-ID without
  // group execute) when it is not.
  text[1] = (mode & 0x100) ? 'r' : '-';
  text[2] = (mode & 0x80) ? 'w' : '-';
  text[3] = (mode & 0x40) ? ((mode & 0x800) ? 's' : 'x') : ((mode & 0x800) ? 'S' : '-');
  text[4] = (mode & 0x20) ? 'r' : '-';
  text[5] = (mode & 0x10) ? 'w' : '-';
  text[6] = (mode & 0x8) ? ((mode & 0x400) ? 's' : 'x') : ((mode & 0x400) ? 'l' : '-');
  text[7] = (mode & 0x4) ? 'r' : '-';
  text[8] = (mode & 0x2) ? 'w' : '-';
  text[9] = (mode & 0x1) ? ((mode & 0x200) ? 't' : 'x') : ((mode & 0x200) ? 'T' : '-');
  text[10] = '\0';
  return text;
}
