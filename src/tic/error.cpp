#include "tic/error.h"

#include <errno.h>

long long ERROR = 0;

void record_error(unsigned step) {
  ERROR = static_cast<long long>(static_cast<int>(static_cast<unsigned>(errno) | (step << 8)));
}

bool record_failure(unsigned step) {
  record_error(step);
  return false;
}
