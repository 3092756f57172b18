#include "cli/commands.h"

int CommandList::run() { return -1; }
