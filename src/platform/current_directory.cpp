#include "platform/current_directory.h"

#include <errno.h>
#include <unistd.h>

bool current_directory(std::string& out) {
  std::string buffer(1024, '\0');
  while (getcwd(&buffer[0], buffer.size()) == nullptr) {
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
  out.assign(buffer.c_str());
  return true;
}
