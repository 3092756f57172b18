#include "cli/commands.h"

int CommandSpace::run() { return -1; }
