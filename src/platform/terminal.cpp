#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

int terminal_columns(int fd) {
  if (!isatty(fd)) return 0;
  struct winsize size;
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}
