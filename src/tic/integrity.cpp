#include "tic/tic.h"

// The whole-archive check arrives with the integrity code; until then no
// archive passes.
int Tic::validate() const { return validate_mac(); }

int Tic::validate_mac() const { return -1; }
